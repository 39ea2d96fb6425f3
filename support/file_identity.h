// What a path names on disk: the file behind its symbolic links, known by
// device and inode while it exists and by its resolved path before.
#pragma once

#include <string>

#include "model/model.h"

namespace qrv {

// The file `path` names after its symbolic links are followed.
input_file identify_file(const char* path);

// Whether two identities name one file: the same device and inode when both
// exist, the same resolved path when neither does.
bool same_file(const input_file& a, const input_file& b);

// The path a symbolic link chain starting at `path` leads to (`path` itself
// when it is no link); the file there need not exist. False when the chain
// does not end (a loop, or more links than the system follows). `special`,
// when given, tells whether the chain passed through /dev or /proc, whose
// links stand for open files (/dev/stdout, /proc/self/fd/1) rather than for
// the paths they read as.
bool follow_links(const std::string& path, std::string& target, bool* special = nullptr);

}  // namespace qrv
