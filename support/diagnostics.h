// Counted diagnostics: one line "file(line) : label: message" on the run's
// console (or the gcc or json form the run context asks for), counted in the
// run context. Plain notes (not counted, no prefix) go through `note`.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string_view>

#include "model/model.h"

#define QRV_PRINTF(fmt_index, first_arg) __attribute__((format(printf, fmt_index, first_arg)))

namespace qrv {

enum severity : int {
    SEV_FATAL = 0,
    SEV_ERROR = 1,
    SEV_WARNING = 2,
};

// A diagnostic without a position.
void report(run_context& run, int sev, const char* format, ...) QRV_PRINTF(3, 4);

// A diagnostic at a position; `file` may be null or empty, `line` is shown
// only when greater than 0.
void report_at(run_context& run, const char* file, std::int64_t line, int sev, const char* format,
               ...) QRV_PRINTF(5, 6);
void vreport_at(run_context& run, const char* file, std::int64_t line, int sev, const char* format,
                std::va_list args);
// A diagnostic at a line and column of a file (the message checker's):
// "file(line,col) : label: message", "file:line:col: label: message", or
// the json object with a "column".
void report_at_column(run_context& run, const char* file, std::int64_t line, std::int64_t column,
                      int sev, std::string_view message);

// The fatal "Unable to allocate memory"; unwinds to the entry with status 1.
[[noreturn]] void report_no_memory(run_context& run);

// The parser's entry: reports at the parse state's path and line and counts
// an error in the parse state as well.
void parse_report(parse_state& ps, int sev, const char* format, ...) QRV_PRINTF(3, 4);

// A plain note on the console: not counted, no prefix.
void note(run_context& run, const char* format, ...) QRV_PRINTF(2, 3);

// A plain note that tells of a failure ("ERROR: ...", "error: ..."): printed
// like `note` and not counted as an error, but remembered in the run
// context's `error_note_count`.
void error_note(run_context& run, const char* format, ...) QRV_PRINTF(2, 3);

}  // namespace qrv
