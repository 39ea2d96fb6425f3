// Counted diagnostics: one line "file(line) : label: message" on the run's
// console (or the gcc or json form asked for), counted in the sink they go
// to. Plain notes (not counted, no prefix) go through `note`.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#define QRV_PRINTF(fmt_index, first_arg) __attribute__((format(printf, fmt_index, first_arg)))

namespace qrv {

enum severity : int {
    SEV_FATAL = 0,
    SEV_ERROR = 1,
    SEV_WARNING = 2,
};

// How counted diagnostics are written: msvc is "file(line) : label:
// message", gcc "file:line: label: message", json one object per line,
// pretty "file:line:col: label: message" with the source line, a caret
// under the place and a help line, for people.
enum class diagnostic_format : std::uint8_t { msvc, gcc, json, pretty };

class source_texts;

// Where the diagnostics and plain notes of a run (or of a part of it done
// aside, such as a batch of rules) go, and their counts. Counts are 64 bits,
// so that no count returns to 0.
struct diagnostics {
    std::FILE* console = stdout;
    diagnostic_format format = diagnostic_format::msvc;
    std::int64_t error_count = 0;
    std::int64_t warning_count = 0;
    // Plain notes that tell of a failure (the generator's "ERROR:" notes,
    // "error: Output file not specified" ...): not in error_count, but a
    // build asking for a failing status on errors counts them.
    std::int32_t error_note_count = 0;
    // With the json format: everything written is a JSON object of a line
    // of its own with a "kind" (diagnostic, note, summary), and a message
    // checker's member path has a key of its own.
    bool json_stream = false;
    // Lines of the whole file (the leading text and earlier modules of the
    // file counted) and columns for the diagnostics of the sources; the
    // texts they are found in. Set by the gcc, json and pretty forms and
    // by --file-positions; without it a line counts from the start of its
    // module, as it always has.
    bool file_positions = false;
    source_texts* sources = nullptr;
    // One report per mistake: the follow-on errors of one statement are
    // folded into its first, and the summary comes last (gcc, json and
    // pretty).
    bool one_per_mistake = false;
    // ANSI colours in the pretty form.
    bool color = false;
    // The "did you mean" searches a run may still make: each compares a
    // name with every name in scope, so a run with very many unknown names
    // stops offering them rather than slow down.
    std::int32_t suggestions_left = 100;
    // The summary is still to be written at the end of the run, also when
    // a fatal diagnostic ends it early (one report per mistake).
    bool summary_due = false;
};

// A place in a source for a diagnostic: the file and its line, and what
// finds the column on it when positions are asked for: the offset of the
// byte a reader stood at, or a name on the line (searched on the few lines
// after it as well, where a declaration goes on).
struct source_place {
    static constexpr std::uint64_t no_offset = ~std::uint64_t{0};
    const char* file = nullptr;
    std::int64_t line = 0;
    std::uint64_t offset = no_offset;
    std::string_view token;
};

// What a diagnostic at a place adds for people: a help text ("did you mean
// ..."), and the follow-on errors folded into it.
struct diagnostic_extras {
    std::string_view help;
    std::int64_t follow_ons = 0;
};

// Thrown to end the run early with an exit status (the fatal diagnostic,
// the too-long qualified name); the entry catches it.
struct fatal_stop {
    int status;
};

// A diagnostic without a position.
void report(diagnostics& diag, int sev, const char* format, ...) QRV_PRINTF(3, 4);

// A diagnostic at a position; `file` may be null or empty, `line` is shown
// only when greater than 0.
void report_at(diagnostics& diag, const char* file, std::int64_t line, int sev, const char* format,
               ...) QRV_PRINTF(5, 6);
void vreport_at(diagnostics& diag, const char* file, std::int64_t line, int sev, const char* format,
                std::va_list args);
// A diagnostic at a line and column of a file (the message checker's):
// "file(line,col) : label: message", "file:line:col: label: message", or
// the json object with a "column".
// `path`, when not empty, is the member path of a message, written before
// the message ("path: message") or in a key of its own.
void report_at_column(diagnostics& diag, const char* file, std::int64_t line, std::int64_t column,
                      int sev, std::string_view message, std::string_view path = {});

// A diagnostic at a place of a source. Without file positions it is
// report_at's line exactly (the place's token and offset are not looked
// at); with them, the column is found in the source's text, and the pretty
// form shows the line.
void report_place(diagnostics& diag, const source_place& place, int sev, std::string_view message,
                  const diagnostic_extras& extras = {});
// The same with a printf format.
void report_place_f(diagnostics& diag, const source_place& place, int sev, std::string_view help,
                    const char* format, ...) QRV_PRINTF(5, 6);

// Whether a "did you mean" search among `candidates` names may be made:
// every call counts against the run's suggestions_left (the names were
// gathered), and no search is made among more than
// max_suggestion_candidates names.
inline constexpr std::size_t max_suggestion_candidates = 50000;
bool may_suggest(diagnostics& diag, std::size_t candidates);

// A help line of the pretty form for something reported just before
// (nothing in the other forms): "help: text".
void help_note(diagnostics& diag, std::string_view text);

// The text of a printf format with its arguments.
std::string format_text(const char* format, std::va_list args);

// `s` as a JSON string with its quotes, valid JSON whatever its bytes
// (a byte that is not UTF-8 becomes \u00XX).
void put_json_string(std::FILE* out, std::string_view s);

// The fatal "Unable to allocate memory"; unwinds to the entry with status 1.
[[noreturn]] void report_no_memory(diagnostics& diag);

// The summary line "N error(s), N warning(s)", or its JSON object.
void write_summary(diagnostics& diag);

// A plain note on the console: not counted, no prefix.
void note(diagnostics& diag, const char* format, ...) QRV_PRINTF(2, 3);

// A plain note that tells of a failure ("ERROR: ...", "error: ..."): printed
// like `note` and not counted as an error, but remembered in
// `error_note_count`.
void error_note(diagnostics& diag, const char* format, ...) QRV_PRINTF(2, 3);

}  // namespace qrv
