// The lexer: comments, the three token readers, token classification, number
// values, C names and the name validators.
//
// The readers are the innermost loop of a run, so they work on the caller's
// buffer directly, classify characters through one table and keep comment
// handling out of line: the common path of `significant_char` is a read and
// one compare.
#include "frontend/lexer.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "support/diagnostics.h"

namespace qrv {
namespace {

// ---------------------------------------------------------------------------
// Character classes of the readers

// End of file is in no class.
inline bool has_class(int c, std::uint8_t k) {
    return c >= 0 && (char_classes[static_cast<std::size_t>(c)] & k) != 0;
}

// ---------------------------------------------------------------------------
// Comments

// Skips the rest of a line comment, the line feed included.
void skip_line_comment(parse_state& ps) {
    int c;
    do {
        c = read_char(ps);
    } while (c != '\n' && c != end_of_file);
}

// The five characters before the current one are kept in one word, nine bits
// each; 0x100 stands for "no character yet" and matches no byte.
constexpr int history_bits = 9;
constexpr std::uint64_t history_mask = (std::uint64_t{1} << (5 * history_bits)) - 1;

constexpr std::uint64_t pack_history(const char* five) {
    std::uint64_t h = 0;
    for (int i = 0; i < 5; ++i) {
        h = (h << history_bits) | static_cast<unsigned char>(five[i]);
    }
    return h;
}

constexpr std::uint64_t empty_history = [] {
    std::uint64_t h = 0;
    for (int i = 0; i < 5; ++i) h = (h << history_bits) | 0x100;
    return h;
}();
constexpr std::uint64_t pavex_history = pack_history("pavex");

// Skips a block comment whose "/*" has been read. A comment that begins
// with a further star is a marked comment and ends only at "pavex*/"; any
// other comment nests, and a "**/" ends it at once at any depth. End of file
// ends either form silently. The character after the closing '/' is left
// unread.
[[gnu::noinline]] void skip_block_comment(parse_state& ps) {
    int c1 = read_char(ps);
    int c2 = read_char(ps);
    const bool marked = c1 == '*';
    std::int64_t depth = 1;
    bool two_stars = false;
    std::uint64_t history = empty_history;
    for (;;) {
        if (c1 == '/' && c2 == '*') {
            ++depth;
        } else if (c1 == '*' && c2 == '/') {
            if (marked) {
                if (history == pavex_history) return;
            } else {
                --depth;
                if (two_stars || depth == 0) return;
            }
        } else {
            if (c2 == end_of_file) return;
            two_stars = c1 == '*' && c2 == '*';
        }
        // c1 is a character here: only c2 can be end of file, and that ends
        // the comment above before it can move into c1.
        history = ((history << history_bits) | static_cast<unsigned>(c1)) & history_mask;
        c1 = c2;
        c2 = read_char(ps);
    }
}

// The '/' has been read: a comment comes back as one space, anything else
// leaves the '/' as it is and pushes the following character back.
[[gnu::noinline]] int after_slash(parse_state& ps) {
    const int next = read_char(ps);
    if (next == '/') {
        skip_line_comment(ps);
        return ' ';
    }
    if (next == '*') {
        skip_block_comment(ps);
        return ' ';
    }
    unread_char(ps, next);
    return '/';
}

inline int significant_char(parse_state& ps) {
    const int c = read_char(ps);
    return c == '/' ? after_slash(ps) : c;
}

// The first character of a token, after white space and comments. Plain
// white space is taken from the source directly while nothing is pushed
// back; the rest goes the general way.
inline int skip_space(parse_state& ps) {
    source_stream& s = *ps.stream;
    if (s.pushed_count == 0) {
        while (s.pos < s.size && (char_classes[s.data[s.pos]] & CC_SPACE) != 0) {
            if (s.data[s.pos] == '\n') ++ps.line;
            ++s.pos;
        }
    }
    int c;
    do {
        c = significant_char(ps);
    } while (has_class(c, CC_SPACE));
    return c;
}

// ---------------------------------------------------------------------------
// Token bodies: each stores the token's characters from `c`, its first
// character, pushes back the character that ended it and returns the length.

std::size_t read_word(parse_state& ps, int c, char* text) {
    std::size_t n = 0;
    text[n++] = static_cast<char>(c);
    // Word characters are never '/' or a line feed: while nothing is pushed
    // back they come straight from the source.
    source_stream& s = *ps.stream;
    if (s.pushed_count == 0) {
        const unsigned char* p = s.data + s.pos;
        const std::size_t available = s.size - s.pos;
        const std::size_t limit = std::min(available, token_max_chars - n);
        std::size_t k = 0;
        while (k < limit && (char_classes[p[k]] & CC_WORD) != 0)
            text[n++] = static_cast<char>(p[k++]);
        s.pos += k;
        // The character after the word stays where it is, as if read and
        // pushed back, unless it may begin a comment or the source ended.
        if (k < available && p[k] != '/') return n;
    }
    c = significant_char(ps);
    while (n < token_max_chars && has_class(c, CC_WORD)) {
        text[n++] = static_cast<char>(c);
        c = significant_char(ps);
    }
    unread_char(ps, c);
    return n;
}

std::size_t read_number(parse_state& ps, int c, char* text) {
    std::size_t n = 0;
    if (c == '-') {
        text[n++] = '-';
        c = significant_char(ps);
    }
    bool zero_seen = false;
    bool hex = false;
    if (c == '0') {
        zero_seen = true;
        c = significant_char(ps);
        if (c == 'x' || c == 'X') {
            text[n++] = '0';
            text[n++] = 'x';
            c = significant_char(ps);
            hex = true;
        }
    }
    // Leading zeros are not kept, also after "0x".
    while (c == '0') c = significant_char(ps);
    const std::size_t digits_start = n;
    while (n < token_max_chars && (hex ? is_hex_digit(c) : is_digit(c))) {
        text[n++] = static_cast<char>(c);
        c = significant_char(ps);
    }
    if (n == digits_start && zero_seen) text[n++] = '0';
    if (c == 'b' || c == 'B') {
        text[n++] = static_cast<char>(c);
        c = significant_char(ps);
    }
    unread_char(ps, c);
    return n;
}

// One character, or ".." or "...".
std::size_t read_punctuation(parse_state& ps, int c, char* text) {
    text[0] = static_cast<char>(c);
    if (c != '.') return 1;
    c = significant_char(ps);
    if (c != '.') {
        unread_char(ps, c);
        return 1;
    }
    text[1] = '.';
    c = significant_char(ps);
    if (c != '.') {
        unread_char(ps, c);
        return 2;
    }
    text[2] = '.';
    // "..." is complete; the character after it is looked at and left.
    unread_char(ps, significant_char(ps));
    return 3;
}

// ---------------------------------------------------------------------------
// Keywords: the text of every code 0 to 46, found again through a hash on
// the length and the first and last characters that places each keyword in
// its own slot (checked when compiling).

constexpr std::array<std::string_view, 47> keyword_texts = {
    "pavex",   "module", "import",   "extends",   "plug",
    "into",    "struct", "union",    "combi",     "{",
    "}",       "void",   "bool",     "int",       "float",
    "single",  "double", "oid",      "ascii",     "unquoted-ascii",
    "unicode", "bytes",  "embedded", "const",     "ipv4",
    "ipv6",    "date",   "time",     "...",       "endmodule",
    "<",       ">",      "..",       "[",         "]",
    "ignore",  "as",     "plugin",   "pluggable", "smark",
    "emark",   "exec",   "?",        "*",         "+",
    ";",       ",",
};

constexpr std::size_t longest_keyword = 14;
constexpr std::size_t keyword_slot_count = 128;

constexpr std::size_t keyword_hash(std::string_view s) {
    return (s.size() * 2 + static_cast<unsigned char>(s.front()) * 58u +
            static_cast<unsigned char>(s.back()) * 41u) &
           (keyword_slot_count - 1);
}

struct keyword_table {
    std::array<std::int8_t, keyword_slot_count> slots{};
    bool collision = false;
};

constexpr keyword_table make_keyword_table() {
    keyword_table t;
    for (auto& s : t.slots) s = -1;
    for (std::size_t code = 0; code < keyword_texts.size(); ++code) {
        std::int8_t& slot = t.slots[keyword_hash(keyword_texts[code])];
        if (slot >= 0) t.collision = true;
        slot = static_cast<std::int8_t>(code);
    }
    return t;
}

constexpr keyword_table keywords = make_keyword_table();
static_assert(!keywords.collision, "keyword hash must place every keyword in its own slot");

// The keyword code of a text, or TK_WORD.
constexpr int keyword_code(std::string_view text) {
    if (text.empty() || text.size() > longest_keyword) return TK_WORD;
    const int code = keywords.slots[keyword_hash(text)];
    if (code < 0) return TK_WORD;
    // Compared here: the texts are short and a library call costs more.
    const std::string_view keyword = keyword_texts[static_cast<std::size_t>(code)];
    if (keyword.size() != text.size()) return TK_WORD;
    for (std::size_t i = 0; i < keyword.size(); ++i) {
        if (keyword[i] != text[i]) return TK_WORD;
    }
    return code;
}

constexpr int classify(std::string_view text) {
    if (text.empty()) return TK_WORD;
    const unsigned char first = static_cast<unsigned char>(text[0]);
    if (is_digit(first)) return TK_NUMBER;
    if (first == '-' && text.size() > 1 && is_digit(static_cast<unsigned char>(text[1]))) {
        return TK_NUMBER;
    }
    return keyword_code(text);
}

// The code of every one-character token, worked out once.
constexpr std::array<std::int8_t, 256> make_single_codes() {
    std::array<std::int8_t, 256> t{};
    for (int c = 0; c < 256; ++c) {
        const char one[1] = {static_cast<char>(c)};
        t[static_cast<std::size_t>(c)] =
            static_cast<std::int8_t>(classify(std::string_view(one, 1)));
    }
    return t;
}

constexpr std::array<std::int8_t, 256> single_codes = make_single_codes();

// The token's text is terminated and classified; each reader knows what
// its tokens can be, so only what is still open is looked at.
inline int finish_word(char* text, std::size_t n) {
    text[n] = '\0';
    return keyword_code(std::string_view(text, n));
}

inline int finish_number(char* text, std::size_t n) {
    text[n] = '\0';
    return classify(std::string_view(text, n));
}

inline int finish_punctuation(char* text, std::size_t n) {
    text[n] = '\0';
    if (n == 1) return single_codes[static_cast<unsigned char>(text[0])];
    return n == 2 ? TK_DOTDOT : TK_ELLIPSIS;
}

// ---------------------------------------------------------------------------
// Validators

inline bool is_name_char(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return is_letter(u) || is_digit(u) || c == '-' || c == '_' || c == '.';
}

// Characters that may not follow the first one of a tag or constant text.
inline bool is_value_stop(char c) { return c == '=' || c == '}' || c == ')' || c == ','; }

bool rest_is_value_text(std::string_view s) {
    for (std::size_t i = 1; i < s.size(); ++i) {
        if (is_value_stop(s[i])) return false;
    }
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------

int read_significant_char(parse_state& ps) { return significant_char(ps); }

int next_token(parse_state& ps, char* text) {
    const int c = skip_space(ps);
    if (c == end_of_file) return TK_END;
    if (is_digit(c) || c == '-') return finish_number(text, read_number(ps, c, text));
    if (is_letter(c) || c == '_') return finish_word(text, read_word(ps, c, text));
    return finish_punctuation(text, read_punctuation(ps, c, text));
}

int next_statement_token(parse_state& ps, char* text) {
    const int c = skip_space(ps);
    if (c == end_of_file) return TK_END;
    if (is_letter(c) || c == '+') return finish_word(text, read_word(ps, c, text));
    return finish_punctuation(text, read_punctuation(ps, c, text));
}

int next_raw_word(parse_state& ps, char* text) {
    int c = skip_space(ps);
    if (c == end_of_file) return TK_END;
    std::size_t n = 0;
    while (n < token_max_chars && c != end_of_file && !has_class(c, CC_RAW_STOP)) {
        text[n++] = static_cast<char>(c);
        c = significant_char(ps);
    }
    unread_char(ps, c);
    text[n] = '\0';
    return TK_WORD;
}

int classify_token(std::string_view text) { return classify(text); }

std::uint32_t number_value(diagnostics& diag, const char* text) {
    constexpr std::uint64_t max_value = 4294967295u;
    const char* p = text;
    if (*p == '-') ++p;
    const std::size_t len = std::strlen(p);

    if (len > 0 && (p[len - 1] == 'b' || p[len - 1] == 'B')) {
        // A bit count: the decimal digits at the start ("0x..." counts 0).
        unsigned count = 0;
        for (; is_digit(static_cast<unsigned char>(*p)); ++p) {
            count = count * 10 + static_cast<unsigned>(*p - '0');
            if (count > 32) break;
        }
        if (count > 32) {
            error_note(diag, "ERROR: Unable to convert %s to numerical value\n", text);
            return 0;
        }
        return static_cast<std::uint32_t>((std::uint64_t{1} << count) - 1);
    }

    std::uint64_t value = 0;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        for (p += 2; is_hex_digit(static_cast<unsigned char>(*p)); ++p) {
            const unsigned char c = static_cast<unsigned char>(*p);
            const unsigned digit = is_digit(c) ? c - '0' : (c | 0x20) - 'a' + 10;
            value = value * 16 + digit;
            if (value > max_value) return static_cast<std::uint32_t>(max_value);
        }
    } else {
        for (; is_digit(static_cast<unsigned char>(*p)); ++p) {
            value = value * 10 + static_cast<unsigned>(*p - '0');
            if (value > max_value) return static_cast<std::uint32_t>(max_value);
        }
    }
    return static_cast<std::uint32_t>(value);
}

void to_c_name(char* text) {
    for (; *text != '\0'; ++text) {
        if (*text == '-' || *text == '.' || *text == ':') *text = '_';
    }
}

std::string to_c_name(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c == '-' || c == '.' || c == ':') c = '_';
    }
    return out;
}

bool is_identifier(std::string_view s) {
    if (s.empty() || !is_letter(static_cast<unsigned char>(s[0]))) return false;
    for (std::size_t i = 1; i < s.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (!is_letter(c) && !is_digit(c) && c != '-' && c != '_') return false;
    }
    return true;
}

bool is_tag_text(std::string_view s) {
    if (s.empty()) return false;
    // A tag must not begin with anything that could start a number.
    if (is_digit(static_cast<unsigned char>(s[0]))) return false;
    if (std::strchr("=,\"'{}()[-", s[0]) != nullptr && s[0] != '\0') return false;
    return rest_is_value_text(s);
}

bool is_const_text(std::string_view s) {
    if (s.empty()) return false;
    if (s.starts_with("//") || s.starts_with("/*")) return false;
    if (std::strchr("=,\"'{}()[", s[0]) != nullptr && s[0] != '\0') return false;
    return rest_is_value_text(s);
}

bool is_module_name(std::string_view s) {
    if (s.empty()) return false;
    if (s[0] != '+' && !is_letter(static_cast<unsigned char>(s[0]))) return false;
    for (std::size_t i = 1; i < s.size(); ++i) {
        if (!is_name_char(s[i])) return false;
    }
    return true;
}

bool is_reference_name(std::string_view s) {
    if (s.empty()) return false;
    if (s[0] != '+' && !is_letter(static_cast<unsigned char>(s[0]))) return false;
    std::size_t i = 1;
    bool dotted = false;
    for (; i < s.size() && s[i] != ':'; ++i) {
        if (!is_name_char(s[i])) return false;
        if (s[i] == '.') dotted = true;
    }
    // A plain name has no dots; a dotted module name needs "::" and a name.
    if (i == s.size()) return !dotted;
    if (i + 2 >= s.size() || s[i + 1] != ':' || !is_letter(static_cast<unsigned char>(s[i + 2]))) {
        return false;
    }
    for (i += 3; i < s.size() && s[i] != ':'; ++i) {
        if (!is_name_char(s[i])) return false;
    }
    return true;
}

}  // namespace qrv
