#include "app/options.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "support/read_file.h"

namespace qrv {

namespace {

// One long option. Adding an option is one line of `long_options`.
struct long_option {
    const char* name;        // without the leading "--"
    const char* value_name;  // shown in the help text; null for a flag without value
    const char* help;
    // Applies the option; a bad value adds a text to `problems`.
    void (*apply)(command_line& cl, std::string_view value);
};

void set_error_format(command_line& cl, std::string_view value) {
    if (value == "msvc") {
        cl.options.error_format = diagnostic_format::msvc;
    } else if (value == "gcc") {
        cl.options.error_format = diagnostic_format::gcc;
    } else if (value == "json") {
        cl.options.error_format = diagnostic_format::json;
    } else {
        cl.problems.push_back("Unknown error format: " + std::string(value) +
                              " (msvc, gcc or json)");
    }
}

// A seed is a decimal number of at most 64 bits.
void set_seed(command_line& cl, std::string_view value) {
    std::uint64_t seed = 0;
    bool ok = !value.empty() && value.size() <= 20;
    for (char c : value) {
        const auto digit = static_cast<unsigned>(c - '0');
        if (!ok || digit > 9 || seed > (UINT64_MAX - digit) / 10) {
            ok = false;
            break;
        }
        seed = seed * 10 + digit;
    }
    if (!ok) {
        cl.problems.push_back("Seed is not a number of 0 to 18446744073709551615: " +
                              std::string(value));
        return;
    }
    cl.options.seed = seed;
}

const long_option long_options[] = {
    {"help", nullptr, "Print out this help information with the long options.",
     [](command_line& cl, std::string_view) { cl.action = run_action::help; }},
    {"version", nullptr, "Print out the version line only.",
     [](command_line& cl, std::string_view) { cl.action = run_action::version; }},
    {"strict-abnf", nullptr, "Check the definitions, then write a strict RFC 5234 grammar.",
     [](command_line& cl, std::string_view) { cl.options.strict_abnf = true; }},
    {"exit-code", nullptr, "End with status 1 after any error or ERROR: note.",
     [](command_line& cl, std::string_view) { cl.options.exit_code = true; }},
    {"warnings-as-errors", nullptr, "Treat warnings as errors: no output file, status 1.",
     [](command_line& cl, std::string_view) { cl.options.warnings_as_errors = true; }},
    {"depfile", "file", "Write a make rule naming the files the output was made from.",
     [](command_line& cl, std::string_view v) { cl.options.depfile = v; }},
    {"error-format", "form", "Write diagnostics as msvc (the default), gcc or json.",
     set_error_format},
    {"check", "file", "Check the message in <file> instead of writing a grammar (repeatable).",
     [](command_line& cl, std::string_view v) { cl.options.check_files.emplace_back(v); }},
    {"type", "name", "The definition checked or example messages are of: Name or module::Name.",
     [](command_line& cl, std::string_view v) { cl.options.message_type = v; }},
    {"example", "file", "Write an example message into <file> instead of a grammar.",
     [](command_line& cl, std::string_view v) { cl.options.example = v; }},
    {"seed", "n", "Seed of the example generator (0 by default); the same seed, the same message.",
     set_seed},
};

const long_option* find_long_option(std::string_view name) {
    for (const long_option& o : long_options) {
        if (name == o.name) return &o;
    }
    return nullptr;
}

// Every argument "@FILE" is replaced by the lines of FILE, one argument per
// line. A line may hold blanks (they belong to the argument); a carriage
// return before the line feed is dropped and empty lines are skipped. Lines
// read from a file are not expanded again, so files cannot loop; "@" alone
// is an ordinary argument.
void expand_argument_files(int argc, char** argv, command_line& cl) {
    for (int i = 0; i < argc; ++i) {
        const char* a = argv[i];
        if (i == 0 || a[0] != '@' || a[1] == '\0') {
            cl.args.emplace_back(a);
            continue;
        }
        std::string data;
        if (!read_whole_file(a + 1, data)) {
            cl.problems.push_back(std::string("Unable to open argument file: ") + (a + 1));
            continue;
        }
        std::string_view rest(data);
        while (!rest.empty()) {
            const std::size_t feed = rest.find('\n');
            std::string_view line = rest.substr(0, feed);
            rest.remove_prefix(feed == std::string_view::npos ? rest.size() : feed + 1);
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            if (!line.empty()) cl.args.emplace_back(line);
        }
    }
}

// A long option at the cursor; the cursor moves past a value taken from the
// next argument.
void scan_long_option(command_line& cl) {
    const std::string_view arg(cl.cursor[0]);
    const std::string_view body = arg.substr(2);
    const std::size_t equals = body.find('=');
    const std::string_view name = body.substr(0, equals);
    const long_option* o = find_long_option(name);
    if (o == nullptr) return;  // unknown options are ignored, as always

    std::string_view value;
    if (o->value_name == nullptr) {
        if (equals != std::string_view::npos) {
            cl.problems.push_back("Option takes no value: " + std::string(arg));
            return;
        }
    } else if (equals != std::string_view::npos) {
        value = body.substr(equals + 1);
    } else if (cl.remaining >= 2) {
        // The next argument, whatever it looks like, as with -?.
        ++cl.cursor;
        --cl.remaining;
        value = cl.cursor[0];
    }
    if (o->value_name != nullptr && value.empty()) {
        cl.problems.push_back("Option needs a value: --" + std::string(name));
        return;
    }
    o->apply(cl, value);
}

}  // namespace

void scan_command_line(int argc, char** argv, command_line& cl) {
    expand_argument_files(argc, argv, cl);
    for (std::string& a : cl.args) cl.argv.push_back(a.data());
    cl.argv.push_back(nullptr);

    // Drop the program name or the argument just handled; stop at the
    // first argument that does not begin with '-'. Only the first character
    // after a single '-' counts.
    cl.remaining = static_cast<int>(cl.args.size());
    cl.cursor = cl.argv.data();
    for (;;) {
        --cl.remaining;
        if (cl.remaining <= 0) break;
        ++cl.cursor;
        const char* a = cl.cursor[0];
        if (a[0] != '-') break;
        if (a[1] == '?') {
            cl.action = run_action::usage;
            cl.help_file = cl.remaining >= 2 ? cl.cursor[1] : nullptr;
            return;
        }
        if (a[1] == '-' && a[2] != '\0') {
            scan_long_option(cl);
            if (cl.action != run_action::translate) return;
        }
    }
}

void write_long_options_help(std::FILE* out) {
    std::fputs("Long options (before <input-file>; --name=value or --name value):\n", out);
    for (const long_option& o : long_options) {
        std::string left = std::string("--") + o.name;
        if (o.value_name != nullptr) left += std::string(" <") + o.value_name + ">";
        std::fprintf(out, "%-23s- %s\n", left.c_str(), o.help);
    }
    std::fprintf(out, "%-23s- %s\n", "@<file>",
                 "Read further arguments from <file>, one per line.");
    std::fputs("\n", out);
}

}  // namespace qrv
