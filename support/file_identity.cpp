#include "support/file_identity.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>
#include <vector>

namespace qrv {

namespace {

// As many links in a row as the system itself follows.
constexpr int max_link_hops = 40;

std::string folder_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

bool read_link(const std::string& path, std::string& target) {
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size());
        if (n < 0) return false;
        if (static_cast<std::size_t>(n) < buffer.size()) {
            target.assign(buffer.data(), static_cast<std::size_t>(n));
            return true;
        }
        buffer.resize(buffer.size() * 2);
    }
}

bool is_system_path(const std::string& path) {
    std::error_code error;
    const std::string full = std::filesystem::absolute(path, error).lexically_normal().string();
    return full.starts_with("/dev/") || full.starts_with("/proc/");
}

}  // namespace

bool follow_links(const std::string& path, std::string& target, bool* special) {
    target = path;
    for (int hop = 0; hop <= max_link_hops; ++hop) {
        if (special != nullptr && is_system_path(target)) *special = true;
        struct stat info {};
        if (::lstat(target.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return true;
        std::string next;
        if (!read_link(target, next)) return true;
        target = !next.empty() && next[0] == '/' ? next : folder_of(target) + "/" + next;
    }
    return false;
}

file_identity identify_file(const char* path) {
    file_identity f;
    f.path = path;
    struct stat info {};
    if (::stat(path, &info) == 0) {
        f.exists = true;
        f.regular = S_ISREG(info.st_mode);
        f.device = static_cast<std::uint64_t>(info.st_dev);
        f.inode = static_cast<std::uint64_t>(info.st_ino);
        return f;  // known by device and inode; the path is not compared
    }
    std::string target;
    if (!follow_links(f.path, target)) target = f.path;
    // The folders that exist are resolved through their links; the rest of
    // the path is taken as written, with "." and ".." applied. The path is
    // made absolute first: a relative name none of whose folders exists
    // would otherwise stay relative ("out.d" and "./out.d" would differ).
    std::error_code error;
    std::filesystem::path full = std::filesystem::absolute(target, error);
    if (error) full = target;  // no current folder to start from
    std::filesystem::path resolved = std::filesystem::weakly_canonical(full, error);
    if (error) resolved = full.lexically_normal();
    f.resolved = resolved.string();
    return f;
}

bool same_file(const file_identity& a, const file_identity& b) {
    if (a.exists != b.exists) return false;
    if (a.exists) return a.device == b.device && a.inode == b.inode;
    return a.resolved == b.resolved;
}

}  // namespace qrv
