#include "app/run.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "abnf/default_grammar.h"
#include "abnf/strict_grammar.h"
#include "app/back_ends.h"
#include "app/file_checks.h"
#include "app/job.h"
#include "app/read_version.h"
#include "app/run_steps.h"
#include "depfile/depfile.h"
#include "frontend/source.h"
#include "messages/checker.h"
#include "postparse/post_parse.h"
#include "support/atomic_file.h"
#include "support/diagnostics.h"
#include "support/read_file.h"
#include "support/source_positions.h"

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

}  // namespace

namespace {

// Whether the job's output goes to standard output: then the console does
// not.
bool writes_standard_output(const job& j) {
    const std::optional<std::string> out = output_file(j);
    return j.output_made() == output_kind::list ||
           (out && (*out == standard_stream || names_standard_output(*out)));
}

}  // namespace

namespace {

// After a --type name that names no top-level definition (the back end
// said so), the pretty form's help with the close names.
void suggest_message_type(run_context& run, diagnostics& diag, const job& j) {
    const std::string& name = j.options.message_type;
    if (diag.format != diagnostic_format::pretty || name.empty() || diag.error_count > 0 ||
        find_message_type(run, name) != nullptr) {
        return;
    }
    const std::vector<const module_record*> modules = declaring_modules(run);
    std::vector<std::string> names;
    std::size_t i = 0;
    const bool qualified = name.find("::") != std::string::npos;
    for (const element* e = run.elements; e != nullptr; e = e->next(), ++i) {
        const module_record* m = i < modules.size() ? modules[i] : e->module();
        if (qualified && m != nullptr && !m->name.empty()) {
            names.push_back(std::string(m->name.view()) + "::" + std::string(e->name().view()));
        } else {
            names.emplace_back(e->name().view());
        }
    }
    if (!may_suggest(diag, names.size())) return;
    std::vector<std::string_view> views(names.begin(), names.end());
    help_note(diag, did_you_mean(close_names(name, views)));
}

// The JSON modes take the place of the other outputs: one at a time.
const char* json_mode_clash(const job& j) {
    const run_options& o = j.options;
    const int modes = (o.check_files.empty() ? 0 : 1) + (o.example.empty() ? 0 : 1) +
                      (o.to_json_files.empty() ? 0 : 1) + (o.from_json_files.empty() ? 0 : 1) +
                      (o.json_schema.empty() ? 0 : 1);
    const bool json =
        !o.to_json_files.empty() || !o.from_json_files.empty() || !o.json_schema.empty();
    if (json && modes > 1) {
        return "--to-json, --from-json and --json-schema go neither together nor with --check or "
               "--example";
    }
    if (o.json_lines && o.to_json_files.empty()) return "--json-lines goes with --to-json";
    return nullptr;
}

// What the checks above leave: any two of the outputs that take the place
// of the grammar, named as the command line gives them.
std::string modes_clash(const job& j) {
    const run_options& o = j.options;
    const std::pair<bool, const char*> modes[] = {
        {!o.check_files.empty(), "--check"},
        {!o.example.empty(), "--example"},
        {o.lint, "--lint"},
        {o.list, "--list"},
        {!o.to_json_files.empty(), "--to-json"},
        {!o.from_json_files.empty(), "--from-json"},
        {!o.json_schema.empty(), "--json-schema"},
        {!o.doc.empty(), "--doc"},
        {o.compat != run_options::compat_direction::none, "--compat"},
    };
    std::vector<const char*> given;
    for (const auto& [on, name] : modes) {
        if (on) given.push_back(name);
    }
    if (given.size() < 2) return {};
    std::string names;
    for (std::size_t i = 0; i < given.size(); ++i) {
        if (i > 0) names += i + 1 == given.size() ? " and " : ", ";
        names += given[i];
    }
    return names;
}

}  // namespace

bool print_usage(diagnostics& diag, const char* file_name) {
    if (file_name == nullptr) {
        write_usage(diag.console);
        return true;
    }
    atomic_file file;
    if (!file.open(file_name)) return false;
    write_usage(file.stream());
    return file.commit();
}

int run(run_context& run, diagnostics& diag, const job& j) {
    const back_end& maker = back_end_for(j.output_made());
    // Every file is known from the command line: the output is checked
    // against them before anything is read or written.
    const run_inputs inputs = list_inputs(j.sources);
    if (!j.options.check_files.empty() && !j.options.example.empty()) {
        error_note(diag, "error: --check and --example do not go together\n");
        return 1;
    }
    if (!j.options.doc.empty() &&
        (!j.options.check_files.empty() || !j.options.example.empty() || j.options.lint ||
         j.options.list || j.options.strict_abnf || !j.options.message_type.empty())) {
        // The page documents every definition read: any of these would be
        // left undone without a word.
        error_note(diag,
                   "error: --doc goes with none of --check, --example, --lint, --list, "
                   "--strict-abnf and --type\n");
        return 1;
    }
    if (maker.kind == output_kind::grammar && !j.options.strict_abnf &&
        !j.options.message_type.empty()) {
        // The default grammar always starts at the first definition: a
        // --type here would be silently ignored.
        error_note(diag,
                   "error: --type needs --check, --example or --strict-abnf: the default grammar "
                   "starts at the first definition of the input file\n");
        return 1;
    }
    if (const char* clash = json_mode_clash(j)) {
        error_note(diag, "error: %s\n", clash);
        return 1;
    }
    // The conversions write to the file --output names.
    const bool output_option =
        (maker.kind == output_kind::to_json || maker.kind == output_kind::from_json) &&
        j.named_output;
    if (maker.option != nullptr && j.output && !output_option) {
        // The messages are the run's only files: a grammar file name here
        // is a slip, and nothing is written over it.
        error_note(diag, "error: No output file is taken with --%s: %s\n", maker.option,
                   j.output->c_str());
        return 1;
    }
    const std::optional<std::string> output = output_file(j);
    const bool to_standard_output = output && *output == standard_stream;
    if (output && !to_standard_output && !output_is_safe(diag, inputs, output->c_str())) return 1;
    if (output && !j.options.depfile.empty()) {
        if (to_standard_output) {
            error_note(diag, "error: A dependency file needs an output file with a name\n");
            return 1;
        }
        if (!depfile_is_safe(diag, inputs, j.options.depfile.c_str(), output->c_str())) return 1;
    }

    // Only a documentation run keeps the comments of the sources.
    if (maker.kind == output_kind::doc) run.docs = std::make_unique<doc_notes>();
    const bool other_mode = !j.options.check_files.empty() || !j.options.example.empty() ||
                            j.options.lint || j.options.list;
    if (maker.compare != nullptr && other_mode) {
        error_note(diag,
                   "error: --compat does not go together with --check, --example, --lint or "
                   "--list\n");
        return 1;
    }
    if (maker.compare == nullptr &&
        (!j.options.old_main.empty() || !j.options.old_libraries.empty() ||
         !j.options.witness_dir.empty())) {
        error_note(diag, "error: --old, --old-lib and --witness-dir need --compat\n");
        return 1;
    }
    if (const std::string clash = modes_clash(j); !clash.empty()) {
        error_note(diag, "error: %s do not go together: a run makes one of them\n", clash.c_str());
        return 1;
    }
    if (maker.compare != nullptr && j.options.old_main.empty()) {
        error_note(diag, "error: --compat needs the old version's main source file: --old=FILE\n");
        return 1;
    }

    // The main source file, then each library file; a file that cannot be
    // read counts as failed, and a file named before is read only once.
    // The old version of a comparison is read the same way into a model of
    // its own, on a second thread where the run may have one; both are
    // reported before the summary.
    std::unique_ptr<run_context> old_version;
    std::unique_ptr<old_version_reader> old_reader;
    if (maker.compare != nullptr) {
        old_version = std::make_unique<run_context>();
        init_run_context(*old_version);
        std::vector<std::string> old_sources{j.options.old_main};
        old_sources.insert(old_sources.end(), j.options.old_libraries.begin(),
                           j.options.old_libraries.end());
        old_reader = std::make_unique<old_version_reader>(
            *old_version, diag, std::move(old_sources), j.options.threads > 1);
    }
    bool failed = !read_version(run, diag, j.sources, inputs);
    if (old_reader != nullptr && !old_reader->read(diag)) failed = true;

    // One report per mistake: the summary comes last and counts
    // everything; the original form gives it after the sources.
    if (!j.options.quiet && !diag.one_per_mistake) write_summary(diag);
    diag.summary_due = !j.options.quiet && diag.one_per_mistake;

    int status = 0;
    if (!failed && maker.check_sources != nullptr) maker.check_sources(run, diag);
    // Post-parse of both versions, so that the errors of each are reported.
    const bool parsed = !failed && post_parse(run, diag) == 1;
    // The old version's post-parse has nothing to do after an error.
    const bool old_parsed =
        old_reader == nullptr || (!failed && diag.error_count == 0 && old_reader->post_parse(diag));
    if (parsed && old_parsed && maker.compare != nullptr) {
        status = maker.compare(j, *old_version, run, diag);
    } else if (parsed && old_parsed) {
        if (maker.makes_file && j.options.warnings_as_errors && diag.warning_count > 0) {
            error_note(diag, "error: Warnings are treated as errors: no output file written\n");
        } else {
            bool written = false;
            status = maker.make(j, run, diag, &written);
            // After a successful write, the rule of the output file.
            if (written && !j.options.depfile.empty() &&
                !write_depfile(diag, j.options.depfile.c_str(), *output, prerequisites(inputs))) {
                status = 1;
            }
            suggest_message_type(run, diag, j);
        }
    }
    if (diag.summary_due) write_summary(diag);
    free_model(run);
    old_reader.reset();
    if (old_version != nullptr) free_model(*old_version);
    return status;
}

int final_status(const diagnostics& diag, const run_options& options, int status) {
    if (status != 0) return status;
    // A run that counted an error or told of a failure has failed, unless
    // the old statuses are asked for (and --exit-code not).
    const bool fails_on_errors = !options.legacy_status || options.exit_code;
    if (fails_on_errors && (diag.error_count > 0 || diag.error_note_count > 0)) return 1;
    if (options.warnings_as_errors && diag.warning_count > 0) return 1;
    return 0;
}

int pvx2abnf_main(int argc, char** argv, std::FILE* console) {
    return pvx2abnf_main(argc, argv, console, stderr);
}

int pvx2abnf_main(int argc, char** argv, std::FILE* console, std::FILE* errors) {
    // The model and its storage live here so that a fatal stop deep inside
    // any pass unwinds to this frame, which sets the exit status.
    auto context = std::make_unique<run_context>();
    run_context& rc = *context;
    init_run_context(rc);
    diagnostics diag;
    diag.console = console;
    source_texts sources;

    int status = 0;
    bool banner = false;
    try {
        // The command line is read before anything is printed, so that
        // --version can print its one line; nothing else depends on it.
        job j = parse_command_line(argc, argv);
        if (j.options.threads == 0)
            j.options.threads = std::thread::hardware_concurrency() > 1 ? 2 : 1;
        j.header_time = header_time(std::getenv("SOURCE_DATE_EPOCH"));
        diag.format = j.options.error_format;
        if (j.options.diagnostics_to_stderr || writes_standard_output(j)) {
            // Standard output carries only the data; in the json form the
            // console carries only JSON lines.
            diag.console = errors;
            diag.json_stream = diag.format == diagnostic_format::json;
        }
        // The original form keeps its lines, counted from the start of each
        // module, unless the file's lines are asked for.
        diag.one_per_mistake = diag.format != diagnostic_format::msvc;
        // A listing shows where each definition stands in its file.
        diag.file_positions = diag.one_per_mistake || j.options.file_positions || j.options.list;
        if (diag.file_positions) diag.sources = &sources;
        using choice = run_options::color_choice;
        const char* no_color = std::getenv("NO_COLOR");
        diag.color = diag.format == diagnostic_format::pretty &&
                     (j.options.color == choice::always ||
                      (j.options.color == choice::autodetect && ::isatty(::fileno(diag.console)) &&
                       (no_color == nullptr || no_color[0] == '\0')));
        if (j.action == run_action::version && j.problems.empty()) {
            std::fputs("pvx2abnf version 0.91\n", console);
        } else {
            if (!j.options.quiet && !diag.json_stream) {
                std::fputs("pvx2abnf version 0.91\n\n", diag.console);
            }
            banner = true;

            // A run that names its output by an option needs only its input.
            const bool with_file = j.output_made() != output_kind::grammar || j.named_output;
            if (!j.problems.empty()) {
                // Nothing is read or written after a bad command line.
                for (const std::string& p : j.problems) report(diag, SEV_ERROR, "%s", p.c_str());
                for (const std::string& n : j.problem_notes) note(diag, "%s", n.c_str());
                status = 1;
            } else if (j.action == run_action::usage) {
                // Nothing is read or written besides the help text.
                const char* help = j.help_file ? j.help_file->c_str() : nullptr;
                if (help != nullptr && refuse_definition_file(diag, help)) {
                    status = 1;
                } else if (!print_usage(diag, help)) {
                    error_note(diag, "error: Unable to create file: %s\n", help);
                    status = 1;
                }
            } else if (j.action == run_action::help) {
                print_usage(diag, nullptr);
                write_long_options_help(diag.console);
            } else if (j.arguments.size() < (with_file ? 1u : 2u)) {
                error_note(diag, "Insufficient arguments\n");
                print_usage(diag, nullptr);
            } else {
                status = run(rc, diag, j);
            }
            status = final_status(diag, j.options, status);
        }
    } catch (const fatal_stop& stop) {
        status = stop.status;
    } catch (const std::bad_alloc&) {
        // Release what can be released before the message is written.
        free_model(rc);
        if (!banner) std::fputs("pvx2abnf version 0.91\n\n", diag.console);
        std::fputs("FATAL error: Unable to allocate memory\n", diag.console);
        status = 1;
    }
    // A fatal diagnostic ended the run before its summary.
    if (diag.summary_due) write_summary(diag);
    // A console that could not be written (a full disk, a closed pipe) is a
    // failure of the run, reported where it can still be seen.
    if (std::fflush(console) != 0 || std::ferror(console) != 0 || std::fflush(diag.console) != 0 ||
        std::ferror(diag.console) != 0) {
        std::fputs("pvx2abnf: error writing standard output\n", errors);
        status = 1;
    }
    return status;
}

}  // namespace qrv
