#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "app/job.h"
#include "support/read_file.h"

namespace qrv {

namespace {

// One long option. Adding an option is one line of `long_options`.
struct long_option {
    const char* name;        // without the leading "--"
    const char* value_name;  // shown in the help text; null for a flag without value
    const char* help;
    // Applies the option; a bad value adds a text to `problems`.
    void (*apply)(job& cl, std::string_view value);
};

void set_error_format(job& cl, std::string_view value) {
    if (value == "msvc") {
        cl.options.error_format = diagnostic_format::msvc;
    } else if (value == "gcc") {
        cl.options.error_format = diagnostic_format::gcc;
    } else if (value == "json") {
        cl.options.error_format = diagnostic_format::json;
    } else if (value == "pretty") {
        cl.options.error_format = diagnostic_format::pretty;
    } else {
        cl.problems.push_back("Unknown error format: " + std::string(value) +
                              " (msvc, gcc, json or pretty)");
    }
}

void set_color(job& cl, std::string_view value) {
    using choice = run_options::color_choice;
    if (value == "auto") {
        cl.options.color = choice::autodetect;
    } else if (value == "always") {
        cl.options.color = choice::always;
    } else if (value == "never") {
        cl.options.color = choice::never;
    } else {
        cl.problems.push_back("Colour is always, never or auto: " + std::string(value));
    }
}

// A seed is a decimal number of at most 64 bits.
void set_seed(job& cl, std::string_view value) {
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

void set_diagnostics(job& cl, std::string_view value) {
    if (value == "stdout" || value == "stderr") {
        cl.options.diagnostics_to_stderr = value == "stderr";
    } else {
        cl.problems.push_back("Diagnostics go to stdout or stderr: " + std::string(value));
    }
}

// The threads that write the default grammar, or read the two versions of a
// comparison: 1 or 2.
void set_threads(job& cl, std::string_view value) {
    if (value == "1" || value == "2") {
        cl.options.threads = value == "1" ? 1 : 2;
    } else {
        cl.problems.push_back("Threads are 1 or 2: " + std::string(value));
    }
}

void set_compat(job& cl, std::string_view value) {
    using direction = run_options::compat_direction;
    if (value == "backward") {
        cl.options.compat = direction::backward;
    } else if (value == "forward") {
        cl.options.compat = direction::forward;
    } else if (value == "full") {
        cl.options.compat = direction::full;
    } else {
        cl.problems.push_back("Compatibility is backward, forward or full: " + std::string(value));
    }
}

void set_compat_undecided(job& cl, std::string_view value) {
    if (value == "ok") {
        cl.options.compat_undecided_ok = true;
    } else if (value != "break") {
        cl.problems.push_back("Undecided changes are ok or break: " + std::string(value));
    }
}

const long_option long_options[] = {
    {"help", nullptr, "Print out this help information with the long options.",
     [](job& cl, std::string_view) { cl.action = run_action::help; }},
    {"version", nullptr, "Print out the version line only.",
     [](job& cl, std::string_view) { cl.action = run_action::version; }},
    {"strict-abnf", nullptr, "Check the definitions, then write a strict RFC 5234 grammar.",
     [](job& cl, std::string_view) { cl.options.strict_abnf = true; }},
    {"exit-code", nullptr, "End with status 1 after any error or ERROR: note (the default).",
     [](job& cl, std::string_view) { cl.options.exit_code = true; }},
    {"legacy-status", nullptr, "End with status 0 also after errors in the sources, as of old.",
     [](job& cl, std::string_view) { cl.options.legacy_status = true; }},
    {"warnings-as-errors", nullptr, "Treat warnings as errors: no output file, status 1.",
     [](job& cl, std::string_view) { cl.options.warnings_as_errors = true; }},
    {"depfile", "file", "Write a make rule naming the files the output was made from.",
     [](job& cl, std::string_view v) { cl.options.depfile = v; }},
    {"error-format", "form", "Write diagnostics as msvc (the default), gcc, json or pretty.",
     set_error_format},
    {"file-positions", nullptr, "Lines of the whole file and columns in the msvc form too.",
     [](job& cl, std::string_view) { cl.options.file_positions = true; }},
    {"color", "when", "Colours of the pretty form: always, never or auto (the default).",
     set_color},
    {"check", "file", "Check the message in <file> instead of writing a grammar (repeatable).",
     [](job& cl, std::string_view v) { cl.options.check_files.emplace_back(v); }},
    {"type", "name", "The definition of --check, --example or --strict-abnf: Name or module::Name.",
     [](job& cl, std::string_view v) { cl.options.message_type = v; }},
    {"closed", nullptr, "With --check: no extension parameters; an unknown member is an error.",
     [](job& cl, std::string_view) { cl.options.closed = true; }},
    {"example", "file", "Write an example message into <file> instead of a grammar.",
     [](job& cl, std::string_view v) { cl.options.example = v; }},
    {"seed", "n", "Seed of the example generator (0 by default); the same seed, the same message.",
     set_seed},
    {"threads", "n",
     "Threads that write the grammar or read the versions compared: 1 or 2 (2 on two cores).",
     set_threads},
    {"output", "file", "The output file, instead of naming it after the sources.",
     [](job& cl, std::string_view v) { cl.named_output = v; }},
    {"quiet", nullptr, "No banner, summary or unreferenced notes: only diagnostics (also -q).",
     [](job& cl, std::string_view) { cl.options.quiet = true; }},
    {"list", nullptr, "List the definitions read: name, kind, file:line:col, unreferenced.",
     [](job& cl, std::string_view) { cl.options.list = true; }},
    {"lint", nullptr,
     "Check the schema (strict checks, duplicates, patterns, modules); write nothing.",
     [](job& cl, std::string_view) { cl.options.lint = true; }},
    {"diagnostics", "where", "Send diagnostics and notes to stdout (the default) or stderr.",
     set_diagnostics},
    {"to-json", "file",
     "Convert the message in <file> to JSON, to --output or stdout (repeatable).",
     [](job& cl, std::string_view v) { cl.options.to_json_files.emplace_back(v); }},
    {"json-lines", nullptr, "With --to-json: one JSON document a line, without indentation.",
     [](job& cl, std::string_view) { cl.options.json_lines = true; }},
    {"from-json", "file", "Convert the JSON in <file> to a message, to --output or stdout.",
     [](job& cl, std::string_view v) { cl.options.from_json_files.emplace_back(v); }},
    {"json-schema", "file", "Write the JSON Schema of the messages' JSON into <file>.",
     [](job& cl, std::string_view v) { cl.options.json_schema = v; }},
    {"doc", "file", "Write a documentation page (HTML, or Markdown for .md) instead of a grammar.",
     [](job& cl, std::string_view v) { cl.options.doc = v; }},
    {"compat", "mode",
     "Compare with the old version (--old): backward, forward or full; write nothing.", set_compat},
    {"old", "file", "The main source file of the old version that --compat compares with.",
     [](job& cl, std::string_view v) { cl.options.old_main = v; }},
    {"old-lib", "file", "A library source file of the old version (repeatable).",
     [](job& cl, std::string_view v) { cl.options.old_libraries.emplace_back(v); }},
    {"witness-dir", "dir", "With --compat: write each break's witness message into <dir>.",
     [](job& cl, std::string_view v) { cl.options.witness_dir = v; }},
    {"compat-undecided", "v", "ok: a change --compat cannot decide does not fail the run.",
     set_compat_undecided},
    {"compat-list", nullptr, "With --compat: list the compatible changes too.",
     [](job& cl, std::string_view) { cl.options.compat_list = true; }},
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
void expand_argument_files(int argc, char** argv, job& cl, std::vector<std::string>& args) {
    for (int i = 0; i < argc; ++i) {
        const char* a = argv[i];
        if (i == 0 || a[0] != '@' || a[1] == '\0') {
            args.emplace_back(a);
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
            if (!line.empty()) args.emplace_back(line);
        }
    }
}

// Where the reading of the arguments stands: the argument at `at`, and how
// many remain, that one included.
struct cursor {
    const std::vector<std::string>& args;
    std::size_t at = 0;
    std::size_t remaining() const { return args.size() - at; }
    const std::string& here() const { return args[at]; }
};

// A long option at the cursor; the cursor moves past a value taken from the
// next argument.
void read_long_option(job& cl, cursor& c) {
    const std::string_view arg(c.here());
    const std::string_view body = arg.substr(2);
    const std::size_t equals = body.find('=');
    const std::string_view name = body.substr(0, equals);
    const long_option* o = find_long_option(name);
    if (o == nullptr) {
        // A typo would otherwise change what the run does without a word.
        cl.problems.push_back("Unknown option: " + std::string(arg));
        return;
    }

    std::string_view value;
    if (o->value_name == nullptr) {
        if (equals != std::string_view::npos) {
            cl.problems.push_back("Option takes no value: " + std::string(arg));
            return;
        }
    } else if (equals != std::string_view::npos) {
        value = body.substr(equals + 1);
    } else if (c.remaining() >= 2) {
        // The next argument, whatever it looks like, as with -?.
        ++c.at;
        value = c.here();
    }
    if (o->value_name != nullptr && value.empty()) {
        cl.problems.push_back("Option needs a value: --" + std::string(name));
        return;
    }
    o->apply(cl, value);
}

bool ends_with_pvx(std::string_view name) { return name.ends_with(".pvx"); }

// The sources and the output after the options: the input file, then a
// library after each "+" (only the first character counts: "+lib" is a
// marker too), then the output file; a "+" with nothing after it is the
// output (or, with --output, the first argument after the sources). An
// argument after the output is refused: it is a slip, such as a library
// without its "+" or an option after the files.
void read_sources(job& cl) {
    const std::vector<std::string>& a = cl.arguments;
    if (a.empty()) return;
    cl.sources.push_back(a[0]);
    std::size_t at = 1;
    while (a.size() - at >= 2 && a[at][0] == '+') {
        cl.sources.push_back(a[at + 1]);
        at += 2;
    }
    std::optional<std::string> positional;
    if (at < a.size()) positional = a[at++];
    std::string last_output;
    if (cl.named_output) {
        cl.output = cl.named_output;
        if (positional) {
            at -= 1;  // the argument stands after the output the option names
        }
        last_output = *cl.output;
    } else {
        cl.output = positional;
        if (positional) last_output = *positional;
    }
    if (at < a.size()) {
        cl.problems.push_back("Unexpected argument after the output file: " + a[at]);
        const std::string& file = cl.named_output ? a[at] : last_output;
        if (ends_with_pvx(file)) {
            cl.problem_notes.push_back("note: Library files are named after a '+': + " + file +
                                       "\n");
        }
    }
}

}  // namespace

output_kind job::output_made() const {
    if (options.compat != run_options::compat_direction::none) return output_kind::compat;
    if (!options.check_files.empty()) return output_kind::check;
    if (!options.example.empty()) return output_kind::example;
    if (!options.to_json_files.empty()) return output_kind::to_json;
    if (!options.from_json_files.empty()) return output_kind::from_json;
    if (!options.json_schema.empty()) return output_kind::json_schema;
    if (!options.doc.empty()) return output_kind::doc;
    if (options.lint) return output_kind::lint;
    if (options.list) return output_kind::list;
    return output_kind::grammar;
}

job parse_command_line(int argc, char** argv) {
    job cl;
    std::vector<std::string> args;
    expand_argument_files(argc, argv, cl, args);

    // The program name is not an argument; the options end at the first
    // argument that does not begin with '-'. Only the first character after
    // a single '-' counts.
    cursor c{args, args.empty() ? std::size_t{0} : std::size_t{1}};
    for (; c.remaining() > 0; ++c.at) {
        const std::string& a = c.here();
        // "-" alone is standard input as the input file.
        if (a[0] != '-' || a == standard_stream) break;
        if (a == "-q") cl.options.quiet = true;
        if (a[1] == '?') {
            cl.action = run_action::usage;
            if (c.remaining() >= 2) cl.help_file = args[c.at + 1];
            return cl;
        }
        if (a[1] == '-' && a[2] != '\0') {
            read_long_option(cl, c);
            if (cl.action != run_action::translate) return cl;
        }
    }
    cl.arguments.assign(args.begin() + static_cast<std::ptrdiff_t>(c.at), args.end());
    read_sources(cl);
    return cl;
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
