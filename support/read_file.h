// Reading a file whole, as bytes.
#pragma once

#include <string>

namespace qrv {

// Appends the bytes of the file at `path` to `out`; false when it cannot be
// opened or read (a folder included).
bool read_whole_file(const char* path, std::string& out);

// Appends everything standard input holds to `out`; false when it cannot be
// read.
bool read_standard_input(std::string& out);

}  // namespace qrv
