#include "support/atomic_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "support/file_identity.h"
#include "support/signals.h"

namespace qrv {

namespace {

// ---------------------------------------------------------------------------
// The temporaries that a termination signal (support/signals.h) removes. The
// handler may only do what is safe in a signal handler: it reads paths from
// static storage, unlinks them and lets the signal take its default course.
//
// A slot is armed with a name before the file of that name is created, and
// the handlers are in place before that: whichever thread takes a signal,
// from the moment the temporary exists until it is renamed or removed its
// name is known. The thread that arms, renames and removes holds the
// signals back meanwhile, and the run's helper threads never take them, so
// the handler runs between those steps, not in the middle of one.

constexpr int guard_slot_count = 16;

struct guard_slot {
    std::atomic<bool> armed{false};  // the handler removes `path`
    bool taken = false;              // by an atomic_file, under the mutex
    char path[PATH_MAX];
};
static_assert(std::atomic<bool>::is_always_lock_free);

guard_slot guard_slots[guard_slot_count];
std::mutex guard_mutex;
int guard_users = 0;  // slots in use, under the mutex
bool handler_installed[NSIG];

extern "C" void remove_temporaries(int sig) {
    const int saved_errno = errno;
    for (guard_slot& slot : guard_slots) {
        if (slot.armed.load(std::memory_order_acquire)) ::unlink(slot.path);
    }
    // The default action takes the signal again when this returns: the
    // process ends with it as it would have without the handler.
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigemptyset(&default_action.sa_mask);
    ::sigaction(sig, &default_action, nullptr);
    ::raise(sig);
    errno = saved_errno;
}

bool is_ours(const struct sigaction& action) {
    return (action.sa_flags & SA_SIGINFO) == 0 && action.sa_handler == remove_temporaries;
}

// Only a signal that would end the process as it stands is taken over: one
// the process ignores (a background job's SIGINT, SIGPIPE in pvx2abnf) or
// handles itself stays as it is.
void install_handlers() {
    const sigset_t& signals = termination_signals();
    for (int sig = 1; sig < NSIG; ++sig) {
        handler_installed[sig] = false;
        if (sigismember(&signals, sig) != 1) continue;
        struct sigaction current {};
        if (::sigaction(sig, nullptr, &current) != 0) continue;
        if ((current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_DFL) continue;
        struct sigaction ours {};
        ours.sa_handler = remove_temporaries;
        ours.sa_mask = signals;
        ours.sa_flags = SA_RESTART;
        handler_installed[sig] = ::sigaction(sig, &ours, nullptr) == 0;
    }
}

void restore_handlers() {
    for (int sig = 1; sig < NSIG; ++sig) {
        if (!handler_installed[sig]) continue;
        handler_installed[sig] = false;
        // A handler set by someone else meanwhile stays theirs.
        struct sigaction current {};
        if (::sigaction(sig, nullptr, &current) == 0 && is_ours(current)) {
            struct sigaction default_action {};
            default_action.sa_handler = SIG_DFL;
            sigemptyset(&default_action.sa_mask);
            ::sigaction(sig, &default_action, nullptr);
        }
    }
}

// Takes a slot for a temporary about to be made, installing the handlers
// with the first; -1 when every slot is taken (the file is written all the
// same, only a signal would leave it behind). Called with the signals held.
int claim_guard() {
    std::lock_guard<std::mutex> lock(guard_mutex);
    for (int i = 0; i < guard_slot_count; ++i) {
        guard_slot& slot = guard_slots[i];
        if (slot.taken) continue;
        slot.taken = true;
        if (guard_users++ == 0) install_handlers();
        return i;
    }
    return -1;
}

// Arms the slot with the name of the file about to be created; false when
// the name is too long to be kept.
bool arm_guard(int index, const std::string& path) {
    if (index < 0) return false;
    guard_slot& slot = guard_slots[index];
    slot.armed.store(false, std::memory_order_release);
    if (path.size() >= PATH_MAX) return false;
    std::memcpy(slot.path, path.c_str(), path.size() + 1);
    slot.armed.store(true, std::memory_order_release);
    return true;
}

void release_guard(int& index) {
    if (index < 0) return;
    std::lock_guard<std::mutex> lock(guard_mutex);
    guard_slot& slot = guard_slots[index];
    slot.armed.store(false, std::memory_order_release);
    slot.taken = false;
    if (--guard_users == 0) restore_handlers();
    index = -1;
}

// ---------------------------------------------------------------------------
// Temporary names

constexpr int random_letters = 6;
// A long final name is shortened in the temporary's name so that it stays
// within the 255 characters a name may have.
constexpr std::size_t max_name_kept = 200;
constexpr int max_name_attempts = 100;

void fill_random(char* out, int n) {
    static constexpr char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char bytes[random_letters];
    if (::getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
        // No entropy to be had: the clock, the process and a count, mixed.
        static std::atomic<std::uint64_t> count{0};
        struct timespec now {};
        ::clock_gettime(CLOCK_REALTIME, &now);
        std::uint64_t x = static_cast<std::uint64_t>(now.tv_nsec) ^
                          (static_cast<std::uint64_t>(now.tv_sec) << 20) ^
                          (static_cast<std::uint64_t>(::getpid()) << 40) ^ ++count;
        for (unsigned char& b : bytes) {
            x ^= x >> 33;
            x *= 0xff51afd7ed558ccdULL;
            x ^= x >> 29;
            b = static_cast<unsigned char>(x);
        }
    }
    for (int i = 0; i < n; ++i) out[i] = alphabet[bytes[i] % (sizeof alphabet - 1)];
}

std::string folder_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string name_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::FILE* stream_on(int fd) {
    std::FILE* f = ::fdopen(fd, "w");
    if (f == nullptr) ::close(fd);
    return f;
}

}  // namespace

atomic_file::~atomic_file() { abandon(); }

namespace {

// The descriptor an open file's name stands for: /dev/stdout, /dev/stderr,
// /dev/fd/N and /proc/self/fd/N; -1 for any other name.
int descriptor_named(std::string_view path) {
    if (path == "/dev/stdin") return 0;
    if (path == "/dev/stdout") return 1;
    if (path == "/dev/stderr") return 2;
    for (std::string_view prefix :
         {std::string_view("/dev/fd/"), std::string_view("/proc/self/fd/")}) {
        if (path.substr(0, prefix.size()) != prefix || path.size() == prefix.size()) continue;
        int n = 0;
        for (char c : path.substr(prefix.size())) {
            if (c < '0' || c > '9' || n > 100000) return -1;
            n = n * 10 + (c - '0');
        }
        return n;
    }
    return -1;
}

}  // namespace

bool names_standard_output(std::string_view path) { return descriptor_named(path) == 1; }

bool atomic_file::open(const char* path) {
    abandon();
    std::string target;
    bool special = false;
    if (!follow_links(path, target, &special)) {
        errno = ELOOP;
        return false;
    }
    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;

    if (special || (exists && !S_ISREG(old.st_mode))) {
        // A device, a FIFO, a folder (which fails here) or an open file
        // named through /dev or /proc: written in place. A descriptor of
        // this process (standard output) is written where it stands, as
        // any output to it is: opened again, a file it writes to would be
        // cut short, and what stood in it before lost (">> log").
        const int own = descriptor_named(path);
        const int fd = own >= 0 ? ::fcntl(own, F_DUPFD_CLOEXEC, 3)
                                : ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0) return false;
        stream_ = stream_on(fd);
        final_path_ = path;
        return stream_ != nullptr;
    }
    // A file that may not be written is not replaced behind its back.
    if (exists && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) return false;

    std::string name = name_of(target);
    if (name.size() > max_name_kept) name.resize(max_name_kept);
    const std::string stem = folder_of(target) + "/." + name + ".";
    int fd = -1;
    {
        const termination_signals_held held;
        guard_slot_ = claim_guard();
        for (int attempt = 0; attempt < max_name_attempts && fd < 0; ++attempt) {
            std::string candidate = stem + std::string(random_letters, 'X');
            fill_random(candidate.data() + stem.size(), random_letters);
            arm_guard(guard_slot_, candidate);
            fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) {
                temp_path_ = candidate;
            } else if (errno != EEXIST) {
                break;
            }
        }
        if (fd < 0) {
            const int reason = errno;
            release_guard(guard_slot_);
            errno = reason;
        }
    }
    // No temporary, no file: a folder that takes no new file is not got
    // round by writing its file in place (a shared file in a locked folder
    // may be writable), since a failed or interrupted write would leave it
    // cut short.
    if (fd < 0) return false;
    replaces_ = exists;
    if (exists) {
        // The new file keeps the old one's owner where that is allowed and
        // its permission bits (after the owner, which may clear them).
        struct stat made {};
        if (::fstat(fd, &made) == 0 && (made.st_uid != old.st_uid || made.st_gid != old.st_gid)) {
            (void)::fchown(fd, old.st_uid, old.st_gid);
        }
        (void)::fchmod(fd, old.st_mode & 07777);
    }
    final_path_ = target;
    stream_ = stream_on(fd);
    if (stream_ == nullptr) {
        abandon();
        return false;
    }
    return true;
}

bool atomic_file::commit() {
    if (stream_ == nullptr) {
        abandon();
        return false;
    }
    bool ok = std::fflush(stream_) == 0 && std::ferror(stream_) == 0;
    if (std::fclose(stream_) != 0) ok = false;
    stream_ = nullptr;
    if (temp_path_.empty()) return ok;
    if (ok) {
        const termination_signals_held held;
        ok = ::rename(temp_path_.c_str(), final_path_.c_str()) == 0;
        if (ok) {
            release_guard(guard_slot_);
            temp_path_.clear();
            replaces_ = false;
        }
    }
    if (!ok) abandon();
    return ok;
}

void atomic_file::abandon() {
    if (stream_ != nullptr) {
        std::fclose(stream_);
        stream_ = nullptr;
    }
    if (!temp_path_.empty()) {
        const termination_signals_held held;
        ::unlink(temp_path_.c_str());
        release_guard(guard_slot_);
        temp_path_.clear();
    }
    replaces_ = false;
    release_guard(guard_slot_);
}

}  // namespace qrv
