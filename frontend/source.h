// Source files (leading text, several modules per file) and their
// configuration directive files.
#pragma once

#include <cstdint>
#include <string_view>

#include "model/model.h"
#include "support/diagnostics.h"

namespace qrv {

// Reads a source file and then its directive file (the path with "cfg"
// appended). Returns the parser's error count of the file's last module, or
// 1 when the file cannot be read.
std::int64_t read_source_file(run_context& run, diagnostics& diag, const char* path);

// The same on source text held in memory; `directives` is the directive
// file's text, or null when there is none.
std::int64_t read_source_text(run_context& run, diagnostics& diag, const char* path,
                              std::string_view source, const std::string_view* directives);

// Applies the text of a directive file to the modules read from
// `source_path`.
void read_directives_text(run_context& run, diagnostics& diag, const char* source_path,
                          const char* directive_path, std::string_view text);

}  // namespace qrv
