// The texts a documentation run keeps from a source file (model/doc_notes.h):
// the leading text before the marker line, and the comment block that
// stands directly before each declaration.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "model/model.h"

namespace qrv {

// A module read from a file, and the lines of the file before its first
// line (its element lines count from there).
struct module_lines {
    module_record* module = nullptr;
    std::int64_t lines_before = 0;
};

// The comment blocks of `source` from byte `start` on, by the line of the
// first token after each (lines of the whole file, from 1; `start` is on
// line `first_line`). A block is one or more comments with nothing but
// white space between them and no empty line; it counts only when it
// begins a line (not a comment after code) and the token follows on the
// line after its end or on the same line. The texts lose their comment
// marks: "//" and one blank, "/*", "*/" and a leading "*" on each line.
std::unordered_map<std::int64_t, std::string> comment_blocks(std::string_view source,
                                                             std::size_t start,
                                                             std::int64_t first_line);

// Keeps the leading text of the file and the comment of every element the
// modules of `read` declare (their members and plug bodies too) in
// run.docs, which must be set.
void keep_doc_texts(run_context& run, const char* path, std::string_view source, std::size_t start,
                    const std::vector<module_lines>& read);

}  // namespace qrv
