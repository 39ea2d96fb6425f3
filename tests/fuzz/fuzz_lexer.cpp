// The token readers on arbitrary bytes, in an order chosen by the input.
#include <cstring>

#include "frontend/lexer.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qrv;
    if (size == 0) return 0;
    run_context run;
    diagnostics diag;
    init_run_context(run);
    diag.console = fuzz::null_console();
    source_stream stream;
    stream.data = data + 1;
    stream.size = size - 1;
    parse_state ps;
    ps.stream = &stream;
    ps.run = &run;
    ps.diag = &diag;

    unsigned selector = data[0];
    char text[token_text_capacity];
    bool must_move = false;  // a raw word may stop without reading anything
    for (int i = 0;; ++i) {
        int which = must_move ? 0 : static_cast<int>((selector >> (2 * (i % 4))) & 3);
        std::size_t before = stream.pos - static_cast<std::size_t>(stream.pushed_count);
        int code;
        switch (which) {
            case 1: code = next_statement_token(ps, text); break;
            case 2: code = next_raw_word(ps, text); break;
            case 3: {
                int c = read_significant_char(ps);
                code = c == end_of_file ? TK_END : TK_WORD;
                text[0] = '\0';
                break;
            }
            default: code = next_token(ps, text); break;
        }
        if (code == TK_END) break;
        if (std::strlen(text) > token_max_chars + 1) __builtin_trap();
        if (code == TK_NUMBER) (void)number_value(diag, text);
        (void)is_identifier(text);
        (void)is_tag_text(text);
        (void)is_const_text(text);
        (void)is_module_name(text);
        (void)is_reference_name(text);
        must_move = stream.pos - static_cast<std::size_t>(stream.pushed_count) == before;
        if (ps.line < 1) __builtin_trap();
    }
    return 0;
}
