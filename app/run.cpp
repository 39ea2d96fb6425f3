#include "app/run.h"

#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "abnf/default_grammar.h"
#include "abnf/strict_grammar.h"
#include "app/options.h"
#include "app/run_steps.h"
#include "depfile/depfile.h"
#include "frontend/source.h"
#include "messages/checker.h"
#include "messages/example_writer.h"
#include "postparse/post_parse.h"
#include "support/atomic_file.h"
#include "support/diagnostics.h"
#include "support/file_identity.h"

namespace qrv {

namespace {

const char usage_text[] =
    "\n"
    "                       Pavex 2 ABNF Converter          %s\n"
    "                       ======================          %s\n"
    "\n"
    "Description: \n"
    "    Translates a Pavex message definition into RFC-2234 ABNF that describes \n"
    "    how the messages are represented using an ASCII text based encoding.\n"
    "\n"
    "Format:\n"
    "    pavex2abnf [flags] <input-file> *[+ library-source-file] <output-file>\n"
    "\n"
    "Where:\n"
    "    input-file = Name of file containing message definition\n"
    "\n"
    "    library-source-file = (Optional) Specifies name of additional KSB\n"
    "            source file(s).  Each additional source file name must be \n"
    "            preceded by a + flag.  Only referenced message elements from \n"
    "            these additional library files have code generated for them.\n"
    "\n"
    "    output-file = Name of file in which ABNF description is to be placed.\n"
    "\n"
    "Example:\n"
    "    pavex2abnf syntax.pvx + pavex-lib.pvx syntax.abnf\n";

const char flags_text[] =
    "\n"
    "Flags:-\n"
    "-?             - Print out this help information.\n"
    "-? <file>      - Print out help information to file named <file>.\n"
    "\n";

void write_usage(std::FILE* out) {
    std::fprintf(out, usage_text, __DATE__, __TIME__);
    std::fputs(flags_text, out);
}

bool has_definition_suffix(std::string_view name) {
    return name.ends_with(".pvx") || name.ends_with(".pvxcfg");
}

// A file that exists under a name (or behind a link whose target has a
// name) of a definition or directive file is refused as an output: the
// usual slip is a "+" left out or an output name put where a source goes.
bool refuse_definition_file(run_context& run, const char* path) {
    struct stat info {};
    if (::lstat(path, &info) != 0) return false;
    std::string target;
    if (!has_definition_suffix(path) &&
        !(follow_links(path, target) && has_definition_suffix(target))) {
        return false;
    }
    note(run, "error: Refusing to overwrite a definition file: %s\n", path);
    return true;
}

// A file that exists, by device and inode.
struct file_key {
    std::uint64_t device;
    std::uint64_t inode;
    bool operator==(const file_key&) const = default;
};

struct file_key_hash {
    std::size_t operator()(const file_key& k) const {
        return std::hash<std::uint64_t>()(k.inode * 0x9e3779b97f4a7c15ULL ^ k.device);
    }
};

// Lists the files the run will read in run.inputs: each source file with
// its directive file, in command-line order. A source file named again
// (the same file, by device and inode) is not listed again; its entry in
// `again` is set. Returns the output file name, or null when there is none.
const char* list_inputs(run_context& run, int remaining, char** cursor, std::vector<bool>& again) {
    run.inputs.clear();
    again.clear();
    // The sources listed so far that exist: a long list of libraries is
    // checked in one pass, not each against all before it.
    std::unordered_set<file_key, file_key_hash> sources;
    auto add_source = [&run, &again, &sources](const char* path) {
        input_file source = identify_file(path);
        if (source.exists && !sources.insert(file_key{source.device, source.inode}).second) {
            again.push_back(true);
            return;
        }
        again.push_back(false);
        const std::string directives = std::string(path) + "cfg";
        run.inputs.push_back(std::move(source));
        run.inputs.push_back(identify_file(directives.c_str()));
        run.inputs.back().is_directive_file = true;
    };
    add_source(cursor[0]);
    ++cursor;
    --remaining;
    while (remaining >= 2 && cursor[0][0] == '+') {
        add_source(cursor[1]);
        cursor += 2;
        remaining -= 2;
    }
    return remaining >= 1 ? cursor[0] : nullptr;
}

// The output may be written: it is none of the inputs, and no existing
// definition file is overwritten.
bool output_is_safe(run_context& run, const char* output) {
    const input_file out = identify_file(output);
    for (const input_file& in : run.inputs) {
        if (same_file(in, out)) {
            note(run, "error: Output file is also an input file: %s\n", output);
            return false;
        }
    }
    return !refuse_definition_file(run, output);
}

// The files a written grammar was made from: every source file, and every
// directive file that was there to be read.
std::vector<std::string> prerequisites(const run_context& run) {
    std::vector<std::string> files;
    for (const input_file& in : run.inputs) {
        if (!in.is_directive_file || (in.exists && in.regular)) files.push_back(in.path);
    }
    return files;
}

// The dependency file may be written: it is none of the inputs, not the
// output (the rule would take the grammar's place), and every name of the
// rule can be written in it. Checked before anything is read or written.
bool depfile_is_safe(run_context& run, const char* depfile, const char* output) {
    if (!output_is_safe(run, depfile)) return false;
    if (same_file(identify_file(depfile), identify_file(output))) {
        note(run, "error: The dependency file is the output file: %s\n", depfile);
        return false;
    }
    return depfile_names_writable(run, output, prerequisites(run));
}

// The example step: the strict checks (an example is a sentence of the
// strict grammar, which exists only when they pass), the definition, the
// size of its shortest message, then the message, written whole or not at
// all.
int write_example_file(run_context& run, const run_options& options, bool* written) {
    if (check_strict_grammar(run) > 0) {
        error_note(run, "error: The definitions fail the strict checks: no example written\n");
        return 1;
    }
    const element* definition = run.elements;
    if (!options.message_type.empty()) {
        definition = find_message_type(run, options.message_type);
        if (definition == nullptr) {
            error_note(run, "error: No top-level definition named %s\n",
                       options.message_type.c_str());
            return 1;
        }
    }
    // Both are known before the file is opened: nothing is written then.
    const example_maker maker(*definition);
    if (maker.status() == example_status::no_finite_message) {
        // The strict checks find every such definition; this is the guard.
        report(run, SEV_ERROR, "%s has no finite message", definition->name().c_str());
        return 1;
    }
    if (maker.status() == example_status::too_large) {
        error_note(run,
                   "error: The shortest message of %s is larger than %llu bytes: no example "
                   "written\n",
                   definition->name().c_str(), static_cast<unsigned long long>(example_size_limit));
        return 1;
    }
    const char* path = options.example.c_str();
    atomic_file file;
    if (!file.open(path)) {
        error_note(run, "error: Unable to create file: %s\n", path);
        return 1;
    }
    // Writing stops at the first write that fails; the old file stays.
    if (maker.write(options.seed, file.stream()) != example_status::ready || !file.commit()) {
        file.abandon();
        error_note(run, "error: Unable to write file: %s\n", path);
        return 1;
    }
    *written = true;
    return 0;
}

}  // namespace

bool print_usage(run_context& run, const char* file_name) {
    if (file_name == nullptr) {
        write_usage(run.console);
        return true;
    }
    atomic_file file;
    if (!file.open(file_name)) return false;
    write_usage(file.stream());
    return file.commit();
}

int run(run_context& run, const run_options& options, int remaining, char** cursor) {
    // Every file is known from the command line: the output is checked
    // against them before anything is read or written.
    std::vector<bool> again;
    const bool example = !options.example.empty();
    const char* output = list_inputs(run, remaining, cursor, again);
    const bool checking = !options.check_files.empty();
    if (checking && example) {
        error_note(run, "error: --check and --example do not go together\n");
        return 1;
    }
    if ((checking || example) && output != nullptr) {
        // The messages are the run's only files: a grammar file name here
        // is a slip, and nothing is written over it.
        error_note(run, "error: No output file is taken with --%s: %s\n",
                   checking ? "check" : "example", output);
        return 1;
    }
    if (example) output = options.example.c_str();
    if (output != nullptr && !output_is_safe(run, output)) return 1;
    if (output != nullptr && !options.depfile.empty() &&
        !depfile_is_safe(run, options.depfile.c_str(), output)) {
        return 1;
    }

    // The main source file; a file that cannot be read counts as failed.
    bool failed = read_source_file(run, cursor[0]) != 0;
    run.input_path = cursor[0];
    ++cursor;
    --remaining;

    // Library files: each after a "+" argument; a file named before is
    // read only once.
    for (std::size_t mention = 1; remaining >= 2 && cursor[0][0] == '+'; ++mention) {
        if (again[mention]) {
            note(run, "warning: Source file given more than once: %s\n", cursor[1]);
        } else if (read_source_file(run, cursor[1]) != 0) {
            failed = true;
        }
        cursor += 2;
        remaining -= 2;
    }

    std::fprintf(run.console, "%lld error(s), %lld warning(s)\n",
                 static_cast<long long>(run.error_count),
                 static_cast<long long>(run.warning_count));

    int status = 0;
    if (!failed && post_parse(run) == 1) {
        if (checking) {
            status = check_message_files(run, options.check_files, options.message_type);
        } else if (options.warnings_as_errors && run.warning_count > 0) {
            error_note(run, "error: Warnings are treated as errors: no output file written\n");
        } else {
            bool written = false;
            if (example) {
                status = write_example_file(run, options, &written);
            } else {
                status = write_output(run, remaining, cursor, &written);
            }
            // After a successful write, the rule of the output file.
            if (written && !options.depfile.empty() &&
                !write_depfile(run, options.depfile.c_str(), output, prerequisites(run))) {
                status = 1;
            }
        }
    }
    free_model(run);
    return status;
}

int final_status(const run_context& run, const run_options& options, int status) {
    if (status != 0) return status;
    if (options.exit_code && (run.error_count > 0 || run.error_note_count > 0)) return 1;
    if (options.warnings_as_errors && run.warning_count > 0) return 1;
    return 0;
}

int pvx2abnf_main(int argc, char** argv, std::FILE* console) {
    return pvx2abnf_main(argc, argv, console, stderr);
}

int pvx2abnf_main(int argc, char** argv, std::FILE* console, std::FILE* errors) {
    // The run context and its storage live here so that a fatal stop deep
    // inside any pass unwinds to this frame, which sets the exit status.
    auto context = std::make_unique<run_context>();
    run_context& rc = *context;
    init_run_context(rc);
    rc.console = console;

    int status = 0;
    bool banner = false;
    try {
        // The command line is scanned before anything is printed, so that
        // --version can print its one line; nothing else depends on it.
        command_line cl;
        scan_command_line(argc, argv, cl);
        if (cl.action == run_action::version && cl.problems.empty()) {
            std::fputs("pvx2abnf version 0.91\n", console);
        } else {
            std::fputs("pvx2abnf version 0.91\n\n", console);
            banner = true;
            rc.error_format = cl.options.error_format;
            rc.strict_abnf = cl.options.strict_abnf;

            if (!cl.problems.empty()) {
                // Nothing is read or written after a bad command line.
                for (const std::string& p : cl.problems) report(rc, SEV_ERROR, "%s", p.c_str());
                status = 1;
            } else if (cl.action == run_action::usage) {
                // Nothing is read or written besides the help text.
                if (cl.help_file != nullptr && refuse_definition_file(rc, cl.help_file)) {
                    status = 1;
                } else if (!print_usage(rc, cl.help_file)) {
                    error_note(rc, "error: Unable to create file: %s\n", cl.help_file);
                    status = 1;
                }
            } else if (cl.action == run_action::help) {
                print_usage(rc, nullptr);
                write_long_options_help(console);
            } else if (cl.remaining <
                       (cl.options.check_files.empty() && cl.options.example.empty() ? 2 : 1)) {
                error_note(rc, "Insufficient arguments\n");
                print_usage(rc, nullptr);
            } else {
                status = run(rc, cl.options, cl.remaining, cl.cursor);
            }
            status = final_status(rc, cl.options, status);
        }
    } catch (const fatal_stop& stop) {
        status = stop.status;
    } catch (const std::bad_alloc&) {
        // Release what can be released before the message is written.
        free_model(rc);
        if (!banner) std::fputs("pvx2abnf version 0.91\n\n", console);
        std::fputs("FATAL error: Unable to allocate memory\n", console);
        status = 1;
    }
    // A console that could not be written (a full disk, a closed pipe) is a
    // failure of the run, reported where it can still be seen.
    if (std::fflush(console) != 0 || std::ferror(console) != 0) {
        std::fputs("pvx2abnf: error writing standard output\n", errors);
        status = 1;
    }
    return status;
}

}  // namespace qrv
