// The command line before the input file: "@FILE" argument files, the
// one-character option "-?" and the long options, and the settings of the
// run that they give.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "model/model.h"

namespace qrv {

// The settings of one run, given by the long options. The run sequence
// reads them; nothing else keeps settings.
struct run_options {
    bool exit_code = false;           // status 1 after any error or error note
    bool warnings_as_errors = false;  // a counted warning fails the run
    std::string depfile;              // the dependency file to write, or empty
    diagnostic_format error_format = diagnostic_format::msvc;
    bool strict_abnf = false;  // the strict grammar and its checks
    // Message files to check instead of writing a grammar, in order.
    std::vector<std::string> check_files;
    std::string message_type;  // the definition they are messages of; empty: the root
    // The file to write an example message of message_type into instead of
    // a grammar, and the generator's seed.
    std::string example;
    std::uint64_t seed = 0;
};

// What the command line asks for.
enum class run_action {
    translate,  // the run sequence (or "Insufficient arguments")
    usage,      // -? [file]
    help,       // --help
    version,    // --version
};

struct command_line {
    // The arguments after "@FILE" expansion, the program name first, and
    // pointers to them, ending in a null pointer.
    std::vector<std::string> args;
    std::vector<char*> argv;

    run_options options;
    run_action action = run_action::translate;
    const char* help_file = nullptr;  // the file named after -?, or null

    // The argument cursor after the options: it stands on the input file
    // name; `remaining` counts it and the arguments after it.
    int remaining = 0;
    char** cursor = nullptr;

    // Texts of the errors found in the command line (an unreadable argument
    // file, a missing or bad option value). When there is any, the run
    // reports them and ends with status 1 without reading anything.
    std::vector<std::string> problems;
};

// Expands the argument files, then scans the options like the run does:
// only before the input file name; "-?" ends the scan; "--name=value" or
// "--name value" for a long option that takes a value; unknown options are
// ignored.
void scan_command_line(int argc, char** argv, command_line& out);

// The section of the help text that lists the long options.
void write_long_options_help(std::FILE* out);

}  // namespace qrv
