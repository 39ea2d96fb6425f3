// The message checker: definitions and a message carved out of the input
// at "\0\n"; when the definitions pass post-parse and the strict checks,
// the message is checked against the root and the next few definitions.
// Whatever the bytes, the checker reports and never reads outside them; a
// valid message must also be valid with white space and a comment before it
// and blanks after it. Nothing after it may hold "*/" or a line end: those
// would end a "/*" or "//" that the message leaves open (and so reads as a
// value), and turn the rest of the message into a comment.
#include <cstdlib>
#include <memory>
#include <new>
#include <string>

#include "abnf/strict_grammar.h"
#include "frontend/source.h"
#include "fuzz_common.h"
#include "messages/checker.h"
#include "postparse/post_parse.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qrv;
    std::vector<std::string_view> parts = fuzz::split_input(data, size);
    if (parts.size() < 2) return 0;
    auto run = std::make_unique<run_context>();
    diagnostics diag;
    init_run_context(*run);
    diag.console = fuzz::null_console();
    try {
        if (read_source_text(*run, diag, "main.pvx", parts[0], nullptr) == 0 &&
            post_parse(*run, diag) == 1 && check_strict_grammar(*run, diag) == 0) {
            // The message is copied so that a read past its end is seen.
            const std::string message(parts[1]);
            int types = 0;
            for (const element* e = run->elements; e != nullptr && types < 4; e = e->next()) {
                ++types;
                const bool valid = check_message(*e, message).valid();
                if (valid && !check_message(*e, " \n/**/ " + message + "\t ").valid()) {
                    std::abort();
                }
            }
        }
        free_model(*run);
    } catch (const fatal_stop&) {
    }
    return 0;
}
