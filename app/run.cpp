#include "app/run.h"

#include <new>
#include <string>
#include <vector>

#include "abnf/abnf.h"
#include "app/options.h"
#include "depfile/depfile.h"
#include "frontend/source.h"
#include "postparse/post_parse.h"
#include "qrvutil/diagnostics.h"

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

bool is_readable_file(const char* path) {
    std::FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return false;
    char byte;
    const bool ok = std::fread(&byte, 1, 1, f) == 1 || std::ferror(f) == 0;
    std::fclose(f);
    return ok;
}

void write_usage(std::FILE* out) {
    std::fprintf(out, usage_text, __DATE__, __TIME__);
    std::fputs(flags_text, out);
}

}  // namespace

bool print_usage(run_context& run, const char* file_name) {
    if (file_name == nullptr) {
        write_usage(run.console);
        return true;
    }
    std::FILE* f = std::fopen(file_name, "wt");
    if (f == nullptr) return false;
    write_usage(f);
    return std::fclose(f) == 0;
}

int run(run_context& run, const run_options& options, int remaining, char** cursor) {
    // The files the grammar is made from, for the dependency file.
    std::vector<std::string> inputs;
    const auto read = [&](const char* path) {
        const bool ok = read_source_file(run, path) == 0;
        if (!options.depfile.empty()) {
            inputs.emplace_back(path);
            const std::string directives = std::string(path) + "cfg";
            if (is_readable_file(directives.c_str())) inputs.push_back(directives);
        }
        return ok;
    };

    // The main source file; a file that cannot be read counts as failed.
    bool failed = !read(cursor[0]);
    run.input_path = cursor[0];
    ++cursor;
    --remaining;

    // Library files: each after a "+" argument.
    while (remaining >= 2 && cursor[0][0] == '+') {
        if (!read(cursor[1])) failed = true;
        cursor += 2;
        remaining -= 2;
    }

    std::fprintf(run.console, "%d error(s), %d warning(s)\n", run.error_count, run.warning_count);

    int status = 0;
    if (!failed && post_parse(run) == 1) {
        if (options.warnings_as_errors && run.warning_count > 0) {
            error_note(run, "error: Warnings are treated as errors: no output file written\n");
        } else {
            bool written = false;
            status = write_output(run, remaining, cursor, &written);
            // After a successful write, the rule of the output file.
            if (written && !options.depfile.empty() &&
                !write_depfile(run, options.depfile.c_str(), cursor[0], inputs)) {
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
            std::fflush(console);
            return 0;
        }
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
            if (!print_usage(rc, cl.help_file)) {
                error_note(rc, "error: Unable to create file: %s\n", cl.help_file);
            }
        } else if (cl.action == run_action::help) {
            print_usage(rc, nullptr);
            write_long_options_help(console);
        } else if (cl.remaining < 2) {
            error_note(rc, "Insufficient arguments\n");
            print_usage(rc, nullptr);
        } else {
            status = run(rc, cl.options, cl.remaining, cl.cursor);
        }
        status = final_status(rc, cl.options, status);
    } catch (const fatal_stop& stop) {
        status = stop.status;
    } catch (const std::bad_alloc&) {
        // Release what can be released before the message is written.
        free_model(rc);
        rc.pending_comment.clear();
        rc.pending_comment.shrink_to_fit();
        if (!banner) std::fputs("pvx2abnf version 0.91\n\n", console);
        std::fputs("FATAL error: Unable to allocate memory\n", console);
        status = 1;
    }
    std::fflush(console);
    return status;
}

}  // namespace qrv
