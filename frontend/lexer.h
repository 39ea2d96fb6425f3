// The lexer: characters with two of push-back and line counting, comments,
// the three token readers, number values and the name validators.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "frontend/parse_state.h"

namespace qrv {

// Token codes: 0 to 46 are the keywords and punctuation of the language.
enum token_code : int {
    TK_PAVEX = 0,
    TK_MODULE = 1,
    TK_IMPORT = 2,
    TK_EXTENDS = 3,
    TK_PLUG = 4,
    TK_INTO = 5,
    TK_STRUCT = 6,
    TK_UNION = 7,
    TK_COMBI = 8,
    TK_LBRACE = 9,   // {
    TK_RBRACE = 10,  // }
    TK_VOID = 11,
    TK_BOOL = 12,
    TK_INT = 13,
    TK_FLOAT = 14,
    TK_SINGLE = 15,
    TK_DOUBLE = 16,
    TK_OID = 17,
    TK_ASCII = 18,
    TK_UNQUOTED_ASCII = 19,
    TK_UNICODE = 20,
    TK_BYTES = 21,
    TK_EMBEDDED = 22,
    TK_CONST = 23,
    TK_IPV4 = 24,
    TK_IPV6 = 25,
    TK_DATE = 26,
    TK_TIME = 27,
    TK_ELLIPSIS = 28,  // ...
    TK_ENDMODULE = 29,
    TK_LANGLE = 30,    // <
    TK_RANGLE = 31,    // >
    TK_DOTDOT = 32,    // ..
    TK_LBRACKET = 33,  // [
    TK_RBRACKET = 34,  // ]
    TK_IGNORE = 35,
    TK_AS = 36,
    TK_PLUGIN = 37,
    TK_PLUGGABLE = 38,
    TK_SMARK = 39,
    TK_EMARK = 40,
    TK_EXEC = 41,
    TK_QUESTION = 42,   // ?
    TK_STAR = 43,       // *
    TK_PLUS = 44,       // +
    TK_SEMICOLON = 45,  // ;
    TK_COMMA = 46,      // ,
    TK_NUMBER = 47,
    TK_WORD = 48,
    TK_END = 49,
};

// Character classes of the readers, one table lookup each.
enum char_class : std::uint8_t {
    CC_SPACE = 1,
    CC_WORD = 2,      // continues a word: letter, digit, '-', '.', ':', '_'
    CC_RAW_STOP = 4,  // ends a raw word: white space, ',', ';', zero byte
    CC_NAME = 8,      // continues an identifier: letter, digit, '-', '_'
};

constexpr std::array<std::uint8_t, 256> make_char_classes() {
    std::array<std::uint8_t, 256> t{};
    for (int c = 0; c < 256; ++c) {
        std::uint8_t k = 0;
        const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        const bool digit = c >= '0' && c <= '9';
        if (c == ' ' || (c >= '\t' && c <= '\r')) k |= CC_SPACE | CC_RAW_STOP;
        if (letter || digit || c == '-' || c == '.' || c == ':' || c == '_') k |= CC_WORD;
        if (letter || digit || c == '-' || c == '_') k |= CC_NAME;
        if (c == ',' || c == ';' || c == 0) k |= CC_RAW_STOP;
        t[static_cast<std::size_t>(c)] = k;
    }
    return t;
}

inline constexpr std::array<std::uint8_t, 256> char_classes = make_char_classes();

// Token texts hold at most 128 characters (a number 129); a caller's buffer
// has room for 130 including the terminator.
inline constexpr std::size_t token_text_capacity = 130;
inline constexpr std::size_t token_max_chars = 128;

inline constexpr int end_of_file = -1;

// The next character (0 to 255) or end_of_file; counts line feeds.
inline int read_char(parse_state& ps) {
    source_stream& s = *ps.stream;
    int c;
    if (s.pushed_count > 0) {
        c = s.pushed[--s.pushed_count];
    } else if (s.pos < s.size) {
        c = s.data[s.pos++];
    } else {
        return end_of_file;
    }
    if (c == '\n') ++ps.line;
    return c;
}

// Pushes a character back (at most two in a row); end_of_file is not pushed.
inline void unread_char(parse_state& ps, int c) {
    if (c == end_of_file) return;
    source_stream& s = *ps.stream;
    if (s.pushed_count < 2) s.pushed[s.pushed_count++] = c;
    if (c == '\n') --ps.line;
}

// The next character with each comment replaced by one space.
int read_significant_char(parse_state& ps);

// Token readers; `text` has room for token_text_capacity characters and is
// left unchanged when the reader returns TK_END.
int next_token(parse_state& ps, char* text);
int next_statement_token(parse_state& ps, char* text);
int next_raw_word(parse_state& ps, char* text);

// The code of a token text: TK_NUMBER, a keyword's code or TK_WORD.
int classify_token(std::string_view text);

// The value of a number token; a bad bit count prints a plain note on the
// run's console and gives 0.
std::uint32_t number_value(diagnostics& diag, const char* text);

// Replaces every '-', '.' and ':' by '_'.
void to_c_name(char* text);
std::string to_c_name(std::string_view text);

// Character classes: plain ASCII on single bytes; bytes from 0x80 up and
// end_of_file are in no class.
constexpr bool is_letter(int c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
constexpr bool is_digit(int c) { return c >= '0' && c <= '9'; }
constexpr bool is_hex_digit(int c) {
    return is_digit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}
constexpr bool is_space(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool is_identifier(std::string_view s);
bool is_tag_text(std::string_view s);
bool is_const_text(std::string_view s);
bool is_module_name(std::string_view s);
bool is_reference_name(std::string_view s);

}  // namespace qrv
