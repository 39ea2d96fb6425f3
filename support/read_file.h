// Reading a file whole, as bytes.
#pragma once

#include <string>

namespace qrv {

// Which files read_whole_file reads: any that opens, or only a regular
// file (a FIFO or a device is then not opened for reading at all, so that
// nothing blocks on it, and counts as absent).
enum class file_kinds { any, regular_only };

// Sets `out` to the bytes of the file at `path`; false when it cannot be
// opened or read (a folder included) or is not of the kind asked for. A
// regular file is read with as few reads as its size allows.
bool read_whole_file(const char* path, std::string& out, file_kinds kinds = file_kinds::any);

// Appends everything standard input holds to `out`; false when it cannot be
// read.
bool read_standard_input(std::string& out);

}  // namespace qrv
