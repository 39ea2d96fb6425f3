// The signals that end the process unless it says otherwise and that come
// from outside it: the terminal (SIGINT, SIGQUIT, SIGHUP), kill (SIGTERM,
// SIGUSR1 ...), a timer or a limit (SIGALRM, SIGXCPU, SIGXFSZ), a reader
// that went away (SIGPIPE), and the real-time signals. While an
// atomic_file has a temporary, each of them that still has its default
// action first removes the temporary (see atomic_file.h).
//
// The run's helper threads start with these signals blocked, so that one
// sent to the process is taken by the thread that makes and removes the
// temporaries, which holds them back while it does. Crashes (SIGSEGV,
// SIGBUS, SIGABRT ...) are not among them.
#pragma once

#include <signal.h>

#include <thread>
#include <utility>

namespace qrv {

// The set of those signals.
const sigset_t& termination_signals();

// Blocks the termination signals in the calling thread while it lives; a
// signal sent meanwhile waits and is taken afterwards.
class termination_signals_held {
public:
    termination_signals_held();
    ~termination_signals_held();
    termination_signals_held(const termination_signals_held&) = delete;
    termination_signals_held& operator=(const termination_signals_held&) = delete;

private:
    sigset_t previous_;
};

// Starts a thread that never takes a termination signal sent to the process
// (it inherits them blocked). Throws what std::thread throws.
template <class F>
std::thread helper_thread(F&& body) {
    const termination_signals_held held;
    return std::thread(std::forward<F>(body));
}

}  // namespace qrv
