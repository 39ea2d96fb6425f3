// ABNF generation: the rules of each element and the assembly of the file.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

#include "abnf/references.h"
#include "model/model.h"
#include "support/diagnostics.h"
#include "support/output_writer.h"

namespace qrv {

// How a grammar is written: which one, on how many threads (the default
// grammar; the text is the same for any number), and the time its header
// shows.
struct grammar_settings {
    bool strict = false;
    // The strict grammar's root, when not the first definition: only the
    // definitions it reaches are written.
    const element* root = nullptr;
    // Whether the definitions nothing refers to are listed after the file.
    bool list_unreferenced = true;
    unsigned threads = 1;
    std::tm header_time{};
};

// The output step: writes the grammar (the strict one after its checks)
// into `output` and lists the definitions nothing refers to; without an
// output file name, only the note that there is none. Returns the exit
// status (0, or 1 when the file could not be created or written);
// `written`, when given, tells whether the file was written.
int write_output(const run_context& run, diagnostics& diag, const char* output,
                 const grammar_settings& settings, bool* written = nullptr);

// The same text into memory (tests, fuzzing); `out` is replaced. With a
// writer of the caller's, its memory_limit holds and its layout state
// stays readable afterwards.
void write_abnf_to_memory(const run_context& run, diagnostics& diag,
                          const grammar_settings& settings, std::string& out);
void write_abnf_to_memory(const run_context& run, diagnostics& diag,
                          const grammar_settings& settings, output_writer& writer,
                          std::string& out);

// Lists every top-level element other than the first that `counts` does
// not count, one "name : has not been referenced" line each.
void report_unreferenced(const run_context& run, const reference_counts& counts, diagnostics& diag);

// Pieces of the rules, also used on their own.
std::string digit_count(const element& e);
void check_untagged(diagnostics& diag, const element& body);

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
