// The whole pipeline in memory: a main source, optionally a library source
// and a directive file for the main source, carved out of the input at
// "\0\n"; then post-parse and the ABNF text into memory, default and strict.
#include <memory>
#include <new>
#include <string>

#include "abnf/default_grammar.h"
#include "abnf/strict_grammar.h"
#include "frontend/source.h"
#include "fuzz_common.h"
#include "postparse/post_parse.h"
#include "support/output_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qrv;
    std::vector<std::string_view> parts = fuzz::split_input(data, size);
    auto run = std::make_unique<run_context>();
    diagnostics diag;
    init_run_context(*run);
    diag.console = fuzz::null_console();
    try {
        const std::string_view* directives = parts.size() > 2 ? &parts[2] : nullptr;
        bool failed = read_source_text(*run, diag, "main.pvx", parts[0], directives) != 0;
        if (parts.size() > 1 && read_source_text(*run, diag, "lib.pvx", parts[1], nullptr) != 0) {
            failed = true;
        }
        run->input_path = "main.pvx";
        if (!failed && post_parse(*run, diag) == 1) {
            // Nested repeated bodies are written once per repetition, so a
            // small input may ask for gigabytes of output: stop at 16 MB.
            output_writer bounded;
            bounded.memory_limit = 16 << 20;
            std::string out;
            grammar_settings settings;
            try {
                write_abnf_to_memory(*run, diag, settings, bounded, out);
            } catch (const output_limit_reached&) {
            }
            // The strict grammar: its checks, then its writer, which must
            // hold up even on what the checks refuse.
            settings.strict = true;
            check_strict_grammar(*run, diag);
            output_writer bounded_strict;
            bounded_strict.memory_limit = 16 << 20;
            try {
                write_abnf_to_memory(*run, diag, settings, bounded_strict, out);
            } catch (const output_limit_reached&) {
            }
        }
        free_model(*run);
    } catch (const fatal_stop&) {
    }
    return 0;
}
