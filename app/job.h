// What one run of the program is to do, as the command line says it: the
// command line is read once, into a job, before anything else happens.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "support/diagnostics.h"

namespace qrv {

// The settings of one run, given by the long options.
struct run_options {
    // The old statuses: 0 after a run whose sources had errors (the
    // summary says so); without it such a run ends with status 1.
    bool legacy_status = false;
    bool exit_code = false;           // accepted; what it asked for is the default
    bool warnings_as_errors = false;  // a counted warning fails the run
    std::string depfile;              // the dependency file to write, or empty
    diagnostic_format error_format = diagnostic_format::msvc;
    // Lines of the whole file and columns in the msvc form as well.
    bool file_positions = false;
    // Colours of the pretty form: always, never, or when the console is a
    // terminal and NO_COLOR is not set.
    enum class color_choice : std::uint8_t { autodetect, always, never };
    color_choice color = color_choice::autodetect;
    bool strict_abnf = false;  // the strict grammar and its checks
    // Message files to check instead of writing a grammar, in order.
    std::vector<std::string> check_files;
    bool closed = false;       // --closed: no extension parameters in the messages
    std::string message_type;  // the definition they are messages of; empty: the root
    // The file to write an example message of message_type into instead of
    // a grammar, and the generator's seed.
    std::string example;
    std::uint64_t seed = 0;
    // Threads that write the default grammar, or read the two versions of a
    // comparison: 1 or 2, 0 until the driver decides (2 where the machine
    // has two cores or more).
    unsigned threads = 0;
    // Check the schema as the strict grammar would, and more (duplicates,
    // patterns, missing modules), instead of writing a grammar.
    bool lint = false;
    // List the definitions read instead of writing a grammar.
    bool list = false;
    // No banner, summary or "has not been referenced" notes.
    bool quiet = false;
    // Diagnostics and notes go to standard error (so does everything else
    // the console would show); also when standard output is an output.
    bool diagnostics_to_stderr = false;
    // The JSON bridge: message files to convert to JSON, in order; JSON
    // files to convert to messages (one); the file to write the JSON Schema
    // into; one JSON document a line.
    std::vector<std::string> to_json_files;
    std::vector<std::string> from_json_files;
    std::string json_schema;
    bool json_lines = false;
    // The documentation file to write instead of a grammar: Markdown when
    // its name ends in .md, else one HTML page.
    std::string doc;
    // --compat: the definitions compared with an older version of them
    // (--old, --old-lib), in the direction asked; no grammar is written.
    enum class compat_direction : std::uint8_t { none, backward, forward, full };
    compat_direction compat = compat_direction::none;
    std::string old_main;
    std::vector<std::string> old_libraries;
    std::string witness_dir;           // where each break's witness is written, or empty
    bool compat_undecided_ok = false;  // a change it cannot decide does not fail the run
    bool compat_list = false;          // the compatible changes are listed too
};

// "-" stands for standard input as a source or message, and for standard
// output as an output file.
inline constexpr const char* standard_stream = "-";

// What the command line asks for.
enum class run_action {
    translate,  // the run sequence (or "Insufficient arguments")
    usage,      // -? [file]
    help,       // --help
    version,    // --version
};

// The output a run makes from the definitions, each made by one back end
// (app/back_ends.cpp).
enum class output_kind {
    grammar,      // the ABNF grammar (the default one, or the strict one)
    check,        // --check: the verdicts on message files
    example,      // --example: an example message
    lint,         // --lint: the schema checks only
    list,         // --list: the definitions read, on standard output
    to_json,      // --to-json: message files as JSON (--output, or standard output)
    from_json,    // --from-json: a JSON file as a message (--output, or standard output)
    json_schema,  // --json-schema: the JSON Schema of the messages' JSON
    doc,          // --doc: the documentation page of the definitions
    compat,       // --compat: the breaks between two versions of the definitions
};

struct job {
    run_action action = run_action::translate;
    std::optional<std::string> help_file;  // the file named after -?
    run_options options;

    // The arguments after the options as they stand (the input file first).
    std::vector<std::string> arguments;
    // From them: the main source and each library source (the argument
    // after a "+"), in command-line order, a file named twice listed
    // twice; and the output file, when an argument follows them.
    std::vector<std::string> sources;
    std::optional<std::string> output;
    std::optional<std::string> named_output;  // --output

    // Texts of the errors in the command line (an unreadable argument file,
    // a missing or bad option value, an unknown option, an argument after
    // the output file). When there is any, the run reports them and ends
    // with status 1 without reading anything.
    std::vector<std::string> problems;
    // Plain notes to print after the problems (what the slip may have
    // been).
    std::vector<std::string> problem_notes;

    // The time the grammar's header shows (SOURCE_DATE_EPOCH, or now).
    std::tm header_time{};

    output_kind output_made() const;
};

// Expands the argument files, then reads the options (only before the input
// file name; "-?" ends them; "--name=value" or "--name value" for a long
// option that takes a value; unknown options are ignored) and the sources
// and output after them.
job parse_command_line(int argc, char** argv);

// The section of the help text that lists the long options.
void write_long_options_help(std::FILE* out);

}  // namespace qrv
