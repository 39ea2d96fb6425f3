#include "support/read_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace qrv {

namespace {

// Reads `fd` to its end into `out` after what it holds, starting with room
// for `expected` more bytes and doubling the room whenever it is full (a
// file may grow while it is read, and a pipe has no size).
bool read_to_end(int fd, std::string& out, std::size_t expected) {
    std::size_t capacity = out.size() + (expected > 0 ? expected : std::size_t{64} << 10);
    for (;;) {
        if (out.size() == capacity) capacity *= 2;
        const std::size_t used = out.size();
        out.resize(capacity);
        const ssize_t n = ::read(fd, out.data() + used, capacity - used);
        out.resize(used + (n > 0 ? static_cast<std::size_t>(n) : 0));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n == 0;
    }
}

}  // namespace

bool read_whole_file(const char* path, std::string& out, file_kinds kinds) {
    const bool regular_only = kinds == file_kinds::regular_only;
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | (regular_only ? O_NONBLOCK : 0));
    if (fd < 0) return false;
    struct stat info {};
    const bool known = ::fstat(fd, &info) == 0;
    const bool regular = known && S_ISREG(info.st_mode);
    if (regular_only && !regular) {
        ::close(fd);
        return false;
    }
    out.clear();
    // One byte more than the size, so that the read that finds the end
    // needs no room of its own.
    const std::size_t expected =
        regular && info.st_size > 0 ? static_cast<std::size_t>(info.st_size) + 1 : 0;
    const bool ok = read_to_end(fd, out, expected);
    ::close(fd);
    return ok;
}

bool read_standard_input(std::string& out) { return read_to_end(STDIN_FILENO, out, 0); }

}  // namespace qrv
