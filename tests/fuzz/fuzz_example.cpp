// The example writer against the checker: definitions (the input up to
// "\0\n", or all of it), and for the root and the next three definitions the
// examples of two seeds taken from the bytes after it. Every example the
// writer makes must stay within its bound and be valid for the checker;
// the shortest message must be exactly as long as the writer says.
#include <cstdlib>
#include <memory>
#include <new>
#include <string>

#include "abnf/strict_grammar.h"
#include "frontend/source.h"
#include "fuzz_common.h"
#include "messages/checker.h"
#include "messages/example_writer.h"
#include "postparse/post_parse.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qrv;
    std::vector<std::string_view> parts = fuzz::split_input(data, size);
    std::uint64_t seed = 0;
    if (parts.size() > 1) {
        for (char c : parts[1].substr(0, 8)) seed = seed << 8 | static_cast<unsigned char>(c);
    }
    auto run = std::make_unique<run_context>();
    diagnostics diag;
    init_run_context(*run);
    diag.console = fuzz::null_console();
    try {
        if (read_source_text(*run, diag, "main.pvx", parts[0], nullptr) == 0 &&
            post_parse(*run, diag) == 1 && check_strict_grammar(*run, diag) == 0) {
            int types = 0;
            for (const element* e = run->elements; e != nullptr && types < 4; e = e->next()) {
                ++types;
                const example_maker maker(*e);
                if (maker.status() != example_status::ready) continue;
                // Small bounds keep the fuzzer fast; the shortest message
                // is written whole whatever the bound.
                if (maker.shortest_size() > (1u << 16)) continue;
                std::string shortest;
                if (maker.write(seed, shortest, 0) != example_status::ready) std::abort();
                if (shortest.size() != maker.shortest_size()) std::abort();
                if (!check_message(*e, shortest).valid()) std::abort();
                for (std::uint64_t s : {seed, seed + 1}) {
                    std::string out;
                    if (maker.write(s, out, 4096) != example_status::ready) std::abort();
                    if (out.size() > maker.shortest_size() + 4096) std::abort();
                    if (!check_message(*e, out).valid()) std::abort();
                }
            }
        }
        free_model(*run);
    } catch (const fatal_stop&) {
    }
    return 0;
}
