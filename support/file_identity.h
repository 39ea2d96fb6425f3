// What a path names on disk: the file behind its symbolic links, known by
// device and inode while it exists and by its resolved path before.
#pragma once

#include <cstdint>
#include <string>

namespace qrv {

struct file_identity {
    std::string path;      // as given
    bool exists = false;   // something was there when it was identified
    bool regular = false;  // and it was a regular file
    // The identity of the file behind the path's symbolic links while it
    // exists, else its absolute path with the links followed.
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::string resolved;
};

// The file `path` names after its symbolic links are followed.
file_identity identify_file(const char* path);

// Whether two identities name one file: the same device and inode when both
// exist, the same resolved path when neither does.
bool same_file(const file_identity& a, const file_identity& b);

// The path a symbolic link chain starting at `path` leads to (`path` itself
// when it is no link); the file there need not exist. False when the chain
// does not end (a loop, or more links than the system follows). `special`,
// when given, tells whether the chain passed through /dev or /proc, whose
// links stand for open files (/dev/stdout, /proc/self/fd/1) rather than for
// the paths they read as.
bool follow_links(const std::string& path, std::string& target, bool* special = nullptr);

}  // namespace qrv
