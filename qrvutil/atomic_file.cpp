#include "qrvutil/atomic_file.h"

#include <fcntl.h>
#include <pthread.h>
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

#include "qrvutil/file_identity.h"

namespace qrv {

namespace {

// ---------------------------------------------------------------------------
// The temporaries that SIGINT and SIGTERM remove. The handler may only do
// what is safe in a signal handler: it reads paths from static storage,
// unlinks them and hands the signal on.

constexpr int guard_slot_count = 16;
constexpr int guarded_signals[] = {SIGINT, SIGTERM};
constexpr int guarded_count = 2;

struct guard_slot {
    std::atomic<bool> armed{false};
    char path[PATH_MAX];
};
static_assert(std::atomic<bool>::is_always_lock_free);

guard_slot guard_slots[guard_slot_count];
std::mutex guard_mutex;
int guard_users = 0;  // armed slots
struct sigaction previous_actions[guarded_count];
bool handler_installed[guarded_count];

extern "C" void remove_temporaries(int sig) {
    const int saved_errno = errno;
    for (guard_slot& slot : guard_slots) {
        if (slot.armed.load(std::memory_order_acquire)) ::unlink(slot.path);
    }
    // The disposition from before takes the signal again when this returns:
    // by default the process ends with it.
    for (int i = 0; i < guarded_count; ++i) {
        if (guarded_signals[i] == sig) ::sigaction(sig, &previous_actions[i], nullptr);
    }
    ::raise(sig);
    errno = saved_errno;
}

void install_handlers() {
    for (int i = 0; i < guarded_count; ++i) {
        handler_installed[i] = false;
        struct sigaction current {};
        if (::sigaction(guarded_signals[i], nullptr, &current) != 0) continue;
        // A signal the process ignores (a background job's SIGINT) stays ignored.
        if ((current.sa_flags & SA_SIGINFO) == 0 && current.sa_handler == SIG_IGN) continue;
        struct sigaction ours {};
        ours.sa_handler = remove_temporaries;
        sigemptyset(&ours.sa_mask);
        for (int s : guarded_signals) sigaddset(&ours.sa_mask, s);
        ours.sa_flags = SA_RESTART;
        if (::sigaction(guarded_signals[i], &ours, &previous_actions[i]) == 0) {
            handler_installed[i] = true;
        }
    }
}

void restore_handlers() {
    for (int i = 0; i < guarded_count; ++i) {
        if (!handler_installed[i]) continue;
        handler_installed[i] = false;
        // A handler set by someone else meanwhile stays theirs.
        struct sigaction current {};
        if (::sigaction(guarded_signals[i], nullptr, &current) == 0 &&
            (current.sa_flags & SA_SIGINFO) == 0 && current.sa_handler == remove_temporaries) {
            ::sigaction(guarded_signals[i], &previous_actions[i], nullptr);
        }
    }
}

// The guarded signals held back in this thread while a temporary comes into
// being or goes, so that none arrives between the file and its record.
class signals_held {
public:
    signals_held() {
        sigset_t held;
        sigemptyset(&held);
        for (int s : guarded_signals) sigaddset(&held, s);
        ::pthread_sigmask(SIG_BLOCK, &held, &previous_);
    }
    ~signals_held() { ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    signals_held(const signals_held&) = delete;
    signals_held& operator=(const signals_held&) = delete;

private:
    sigset_t previous_;
};

// Records a temporary for the handler; -1 when no record can be kept (the
// file is written all the same, only a signal would leave it behind).
int arm_guard(const std::string& path) {
    if (path.size() >= PATH_MAX) return -1;
    std::lock_guard<std::mutex> lock(guard_mutex);
    for (int i = 0; i < guard_slot_count; ++i) {
        guard_slot& slot = guard_slots[i];
        if (slot.armed.load(std::memory_order_relaxed)) continue;
        std::memcpy(slot.path, path.c_str(), path.size() + 1);
        if (guard_users++ == 0) install_handlers();
        slot.armed.store(true, std::memory_order_release);
        return i;
    }
    return -1;
}

void disarm_guard(int& index) {
    if (index < 0) return;
    std::lock_guard<std::mutex> lock(guard_mutex);
    guard_slots[index].armed.store(false, std::memory_order_release);
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
        // named through /dev or /proc: written in place.
        const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
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
        const signals_held held;
        for (int attempt = 0; attempt < max_name_attempts && fd < 0; ++attempt) {
            std::string candidate = stem + std::string(random_letters, 'X');
            fill_random(candidate.data() + stem.size(), random_letters);
            fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) {
                temp_path_ = candidate;
                guard_slot_ = arm_guard(temp_path_);
            } else if (errno != EEXIST) {
                break;
            }
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
        const signals_held held;
        ok = ::rename(temp_path_.c_str(), final_path_.c_str()) == 0;
        if (ok) {
            disarm_guard(guard_slot_);
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
        const signals_held held;
        ::unlink(temp_path_.c_str());
        disarm_guard(guard_slot_);
        temp_path_.clear();
    }
    replaces_ = false;
    disarm_guard(guard_slot_);
}

}  // namespace qrv
