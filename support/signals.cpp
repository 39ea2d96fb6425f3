#include "support/signals.h"

#include <pthread.h>

namespace qrv {

namespace {

sigset_t make_termination_signals() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : {SIGHUP, SIGINT, SIGQUIT, SIGUSR1, SIGUSR2, SIGPIPE, SIGALRM, SIGTERM, SIGXCPU,
                  SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO}) {
        sigaddset(&set, s);
    }
#ifdef SIGSTKFLT
    sigaddset(&set, SIGSTKFLT);
#endif
#ifdef SIGPWR
    sigaddset(&set, SIGPWR);
#endif
#ifdef SIGRTMIN
    // Those the C library keeps for itself lie below SIGRTMIN.
    for (int s = SIGRTMIN; s <= SIGRTMAX; ++s) sigaddset(&set, s);
#endif
    return set;
}

}  // namespace

const sigset_t& termination_signals() {
    static const sigset_t set = make_termination_signals();
    return set;
}

termination_signals_held::termination_signals_held() {
    ::pthread_sigmask(SIG_BLOCK, &termination_signals(), &previous_);
}

termination_signals_held::~termination_signals_held() {
    ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

}  // namespace qrv
