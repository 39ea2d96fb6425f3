#include "app/run.h"

#include <cstring>
#include <new>

#include "abnf/abnf.h"
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

int run(run_context& run, int remaining, char** cursor) {
    // The main source file; a file that cannot be read counts as failed.
    bool failed = read_source_file(run, cursor[0]) != 0;
    run.input_path = cursor[0];
    ++cursor;
    --remaining;

    // Library files: each after a "+" argument.
    while (remaining >= 2 && cursor[0][0] == '+') {
        if (read_source_file(run, cursor[1]) != 0) failed = true;
        cursor += 2;
        remaining -= 2;
    }

    std::fprintf(run.console, "%d error(s), %d warning(s)\n", run.error_count, run.warning_count);

    int status = 0;
    if (!failed && post_parse(run) == 1) status = write_output(run, remaining, cursor);
    free_model(run);
    return status;
}

int pvx2abnf_main(int argc, char** argv, std::FILE* console) {
    std::fputs("pvx2abnf version 0.91\n\n", console);

    // The run context and its storage live here so that a fatal stop deep
    // inside any pass unwinds to this frame, which sets the exit status.
    auto context = std::make_unique<run_context>();
    run_context& rc = *context;
    init_run_context(rc);
    rc.console = console;

    int status = 0;
    try {
        // Option scan: only before the input file name, only the first
        // character after '-' counts; unknown options are ignored.
        int remaining = argc;
        char** cursor = argv;
        for (;;) {
            --remaining;
            if (remaining <= 0) break;
            ++cursor;
            if (cursor[0][0] != '-') break;
            if (std::strcmp(cursor[0], "--strict-abnf") == 0) {
                rc.strict_abnf = true;
                continue;
            }
            if (cursor[0][1] == '?') {
                const char* file = remaining >= 2 ? cursor[1] : nullptr;
                if (!print_usage(rc, file)) {
                    std::fprintf(console, "error: Unable to create file: %s\n", file);
                }
                std::fflush(console);
                return 0;
            }
        }
        if (remaining < 2) {
            std::fputs("Insufficient arguments\n", console);
            print_usage(rc, nullptr);
        } else {
            status = run(rc, remaining, cursor);
        }
    } catch (const fatal_stop& stop) {
        status = stop.status;
    } catch (const std::bad_alloc&) {
        // Release what can be released before the message is written.
        free_model(rc);
        rc.pending_comment.clear();
        rc.pending_comment.shrink_to_fit();
        std::fputs("FATAL error: Unable to allocate memory\n", console);
        status = 1;
    }
    std::fflush(console);
    return status;
}

}  // namespace qrv
