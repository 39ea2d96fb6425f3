// ABNF generation: the rules of each element and the assembly of the file.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

#include "model/model.h"
#include "qrvutil/diagnostics.h"

namespace qrv {

// The output step: takes the output file name at the argument cursor,
// writes the file and lists the definitions nothing refers to. Returns the
// exit status (0, or 1 when the file could not be created or written);
// `written`, when given, tells whether the file was written.
int write_output(run_context& run, int remaining, char** cursor, bool* written = nullptr);

// Writes the whole ABNF file; false when it could not be created or written
// (the note is printed here, and an existing file then stays as it was).
bool write_abnf_file(run_context& run, const char* path);

// The same text into memory (tests, fuzzing); `out` is replaced.
void write_abnf_to_memory(run_context& run, std::string& out);

// Lists every top-level element other than the first whose reference count
// is 0, one "name : has not been referenced" line each.
void report_unreferenced(run_context& run);

// The right-hand side of one element's rule, and the end of an output line.
void write_value(run_context& run, element* e);
void end_line(run_context& run);

// Pieces of the rules, also used on their own.
std::string digit_count(const element& e);
void check_untagged(run_context& run, const element& body);
void mark_reference(run_context& run, const element& m);
void add_comment(run_context& run, const char* format, ...) QRV_PRINTF(2, 3);

// The rule name a link stands for: the text after "::" up to the next ":",
// or the whole link when it has no ":".
std::string_view link_name_part(std::string_view link);

// The fixed common rules that close every file.
std::string_view common_rules();

// The time shown in the header: the value of SOURCE_DATE_EPOCH in UTC when
// it is a plain non-negative decimal number the platform can convert, else
// the local time now. `source_date_epoch` may be null.
std::tm header_time(const char* source_date_epoch);
// "Wed Apr 14 10:17:05 2004": English names, no locale involved.
std::string date_line_text(const std::tm& tm);

}  // namespace qrv
