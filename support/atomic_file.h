// Output files that are replaced whole or not at all.
//
// A regular file (or a name where nothing is yet) is written into a new
// temporary file beside it, ".<name>.XXXXXX" with six random letters and
// digits, which takes the old file's permission bits and is renamed over
// the final path only once every byte is written and the file is closed.
// Until then the old file is untouched: a failed write, an exception or a
// signal leave it as it was. While a temporary exists, every termination
// signal (support/signals.h) that would end the process first removes it,
// on whichever thread it lands. Only SIGKILL (or a crash) can leave a
// temporary behind.
//
// A symbolic link is followed: its target is replaced and the link stays.
// Anything that is not a regular file (a device such as /dev/null or
// /dev/full, a FIFO) is written in place, as there is nothing to keep. A
// name of one of the process's own descriptors (/dev/stdout, /dev/fd/N) is
// written through that descriptor where it stands, as a shell redirection
// expects ("> file", ">> file", a pipe).
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace qrv {

// Whether `path` names this process's standard output (/dev/stdout,
// /dev/fd/1, /proc/self/fd/1).
bool names_standard_output(std::string_view path);

class atomic_file {
public:
    atomic_file() = default;
    atomic_file(const atomic_file&) = delete;
    atomic_file& operator=(const atomic_file&) = delete;
    // A file still open is abandoned: the temporary goes, the old file stays.
    ~atomic_file();

    // Opens `path` for writing. False when the file cannot be created: the
    // folder refuses a new file (also when the file in it may be written:
    // there is no place for the temporary), or an existing file may not be
    // written.
    bool open(const char* path);
    // The stream to write to while the file is open.
    std::FILE* stream() const { return stream_; }
    // Flushes and closes the stream, then puts the new file in place. False
    // when a write, the close or the rename failed; the old file then stays.
    bool commit();
    // Closes the stream and removes the temporary; the old file stays.
    void abandon();

    // The temporary being written, or empty when writing in place.
    const std::string& temporary_path() const { return temp_path_; }
    // Whether the temporary is to be renamed over an existing file.
    bool replaces() const { return replaces_; }

private:
    std::FILE* stream_ = nullptr;
    std::string final_path_;
    std::string temp_path_;
    int guard_slot_ = -1;
    bool replaces_ = false;
};

}  // namespace qrv
