#include "frontend/lexer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "test_model.h"

namespace qrv {
namespace {

struct token {
    int code;
    std::string text;
    std::int64_t line;
    friend bool operator==(const token&, const token&) = default;
};

std::ostream& operator<<(std::ostream& os, const token& t) {
    return os << "{" << t.code << ", \"" << t.text << "\", line " << t.line << "}";
}

struct lexer_fixture : ::testing::Test {
    run_context run;
    diagnostics diag;
    std::string source;
    source_stream stream;
    parse_state ps;
    char text[token_text_capacity] = {};

    void SetUp() override {
        init_run_context(run);
        ps.run = &run;
        ps.diag = &diag;
    }

    void load(std::string s) {
        source = std::move(s);
        stream = source_stream{};
        stream.data = reinterpret_cast<const unsigned char*>(source.data());
        stream.size = source.size();
        ps.stream = &stream;
        ps.line = 1;
    }

    token next() {
        const int code = next_token(ps, text);
        return {code, code == TK_END ? "" : text, ps.line};
    }

    // The texts of all tokens up to end of file.
    std::vector<std::string> texts(std::string s) {
        load(std::move(s));
        std::vector<std::string> out;
        while (next_token(ps, text) != TK_END) out.emplace_back(text);
        return out;
    }
};

using strings = std::vector<std::string>;

// ---------------------------------------------------------------------------
// Comments and line counting

TEST_F(lexer_fixture, comments_are_white_space_and_their_line_feeds_count_once) {
    load("a // one\n/* two\nthree\nfour */ b\n/* x */c");
    EXPECT_EQ(next(), (token{TK_WORD, "a", 1}));
    EXPECT_EQ(next(), (token{TK_WORD, "b", 4}));
    EXPECT_EQ(next(), (token{TK_WORD, "c", 5}));
    EXPECT_EQ(next_token(ps, text), TK_END);
    EXPECT_EQ(ps.line, 5);
}

TEST_F(lexer_fixture, comment_directly_after_a_word_ends_it) {
    EXPECT_EQ(texts("int/*c*/name"), (strings{"int", "name"}));
    EXPECT_EQ(texts("a/b"), (strings{"a", "/", "b"}));
    EXPECT_EQ(texts("a//b\nc"), (strings{"a", "c"}));
    EXPECT_EQ(texts("12/*x*/34"), (strings{"12", "34"}));
}

TEST_F(lexer_fixture, plain_comments_nest_and_two_stars_close_at_once) {
    EXPECT_EQ(texts("/* a /* b */ c */ d"), (strings{"d"}));
    EXPECT_EQ(texts("/* a /* b **/ c */ d"), (strings{"c", "*", "/", "d"}));
    EXPECT_EQ(texts("/* a **/ d"), (strings{"d"}));
    // The two stars must stand right before the '/'.
    EXPECT_EQ(texts("/* a ** b /* c */ d */ e"), (strings{"e"}));
}

TEST_F(lexer_fixture, marked_comment_ends_only_at_pavex_close) {
    EXPECT_EQ(texts("/** a */ b /* c pavex*/ d"), (strings{"d"}));
    EXPECT_EQ(texts("/**pavex*/e"), (strings{"e"}));
    EXPECT_EQ(texts("/** Pavex*/ f"), (strings{}));
}

TEST_F(lexer_fixture, unterminated_comment_ends_at_end_of_file_and_keeps_buffer) {
    for (const char* s : {"x /* open", "x /* a /* b */", "x /** a */", "x /*", "x //"}) {
        load(s);
        EXPECT_EQ(next().text, "x");
        EXPECT_EQ(next_token(ps, text), TK_END) << s;
        EXPECT_STREQ(text, "x") << s;
        EXPECT_EQ(next_raw_word(ps, text), TK_END);
        EXPECT_EQ(next_statement_token(ps, text), TK_END);
        EXPECT_STREQ(text, "x");
    }
}

TEST_F(lexer_fixture, slash_before_line_feed_is_pushed_back_uncounted) {
    load("/\nx");
    EXPECT_EQ(read_significant_char(ps), '/');
    EXPECT_EQ(ps.line, 1);
    EXPECT_EQ(read_significant_char(ps), '\n');
    EXPECT_EQ(ps.line, 2);
    EXPECT_EQ(read_significant_char(ps), 'x');
    EXPECT_EQ(read_significant_char(ps), end_of_file);
}

// ---------------------------------------------------------------------------
// Numbers

TEST_F(lexer_fixture, number_forms) {
    EXPECT_EQ(texts("007 00 0 0x00ff 0X0 -0 -007 8b 16B -12"),
              (strings{"7", "0", "0", "0xff", "0x0", "-0", "-7", "8b", "16B", "-12"}));
    load("-b -B - x -5");
    EXPECT_EQ(next(), (token{TK_WORD, "-b", 1}));
    EXPECT_EQ(next(), (token{TK_WORD, "-B", 1}));
    EXPECT_EQ(next(), (token{TK_WORD, "-", 1}));
    EXPECT_EQ(next(), (token{TK_WORD, "x", 1}));
    EXPECT_EQ(next(), (token{TK_NUMBER, "-5", 1}));
}

TEST_F(lexer_fixture, number_ends_at_its_last_digit) {
    EXPECT_EQ(texts("1..5"), (strings{"1", "..", "5"}));
    EXPECT_EQ(texts("0x1fg 12abc 12bc"), (strings{"0x1f", "g", "12", "abc", "12b", "c"}));
}

TEST_F(lexer_fixture, long_number_is_cut_at_128_characters_plus_suffix) {
    const std::string digits(200, '7');
    load("-" + digits + "b");
    EXPECT_EQ(next(), (token{TK_NUMBER, "-" + digits.substr(0, 127), 1}));
    EXPECT_EQ(next().text, digits.substr(0, 73) + "b");
    load("0x" + std::string(130, 'f'));
    EXPECT_EQ(next().text, "0x" + std::string(126, 'f'));
    EXPECT_EQ(next().text, "ffff");
    load(std::string(128, '9') + "b");
    EXPECT_EQ(next().text, std::string(128, '9') + "b");
}

TEST_F(lexer_fixture, statement_position_splits_numbers_and_starts_words_with_plus) {
    load("123 +ext.a -5 _x");
    EXPECT_EQ(next_statement_token(ps, text), TK_NUMBER);
    EXPECT_STREQ(text, "1");
    EXPECT_EQ(next(), (token{TK_NUMBER, "23", 1}));
    EXPECT_EQ(next_statement_token(ps, text), TK_WORD);
    EXPECT_STREQ(text, "+ext.a");
    EXPECT_EQ(next_statement_token(ps, text), TK_WORD);
    EXPECT_STREQ(text, "-");
    EXPECT_EQ(next_statement_token(ps, text), TK_NUMBER);
    EXPECT_STREQ(text, "5");
    EXPECT_EQ(next_statement_token(ps, text), TK_WORD);
    EXPECT_STREQ(text, "_");
    EXPECT_EQ(next_statement_token(ps, text), TK_WORD);
    EXPECT_STREQ(text, "x");
    EXPECT_EQ(texts("+a"), (strings{"+", "a"}));
}

// ---------------------------------------------------------------------------
// Words, punctuation and keywords

TEST_F(lexer_fixture, word_is_cut_at_128_characters) {
    const std::string word = "a" + std::string(127, '.') + "bc-d";
    EXPECT_EQ(texts(word + " e"), (strings{word.substr(0, 128), "bc-d", "e"}));
    EXPECT_EQ(texts("unquoted-ascii m::a.b_c"), (strings{"unquoted-ascii", "m::a.b_c"}));
}

TEST_F(lexer_fixture, dots_form_the_longest_punctuation) {
    EXPECT_EQ(texts("...."), (strings{"...", "."}));
    EXPECT_EQ(texts(". ."), (strings{".", "."}));
    EXPECT_EQ(texts("..x"), (strings{"..", "x"}));
    EXPECT_EQ(texts("./*c*/."), (strings{".", "."}));
    load("... .. <>;");
    EXPECT_EQ(next().code, TK_ELLIPSIS);
    EXPECT_EQ(next().code, TK_DOTDOT);
    EXPECT_EQ(next().code, TK_LANGLE);
    EXPECT_EQ(next().code, TK_RANGLE);
    EXPECT_EQ(next().code, TK_SEMICOLON);
}

TEST_F(lexer_fixture, keywords_match_exactly_and_every_code_has_its_text) {
    EXPECT_EQ(classify_token("module"), TK_MODULE);
    EXPECT_EQ(classify_token("Module"), TK_WORD);
    EXPECT_EQ(classify_token("modules"), TK_WORD);
    EXPECT_EQ(classify_token("="), TK_WORD);
    EXPECT_EQ(classify_token("-"), TK_WORD);
    EXPECT_EQ(classify_token("-1"), TK_NUMBER);
    // Every keyword and punctuation text has its code, in the order of the
    // codes.
    const char* const texts[] = {"pavex",   "module", "import",   "extends",   "plug",
                                 "into",    "struct", "union",    "combi",     "{",
                                 "}",       "void",   "bool",     "int",       "float",
                                 "single",  "double", "oid",      "ascii",     "unquoted-ascii",
                                 "unicode", "bytes",  "embedded", "const",     "ipv4",
                                 "ipv6",    "date",   "time",     "...",       "endmodule",
                                 "<",       ">",      "..",       "[",         "]",
                                 "ignore",  "as",     "plugin",   "pluggable", "smark",
                                 "emark",   "exec",   "?",        "*",         "+",
                                 ";",       ","};
    static_assert(std::size(texts) == TK_NUMBER);
    for (int code = 0; code < TK_NUMBER; ++code) {
        EXPECT_EQ(classify_token(texts[code]), code) << texts[code];
    }
}

TEST_F(lexer_fixture, raw_word_stops_at_separators_and_never_classifies) {
    load(" module{x}.y, ;\tz\vw");
    EXPECT_EQ(next_raw_word(ps, text), TK_WORD);
    EXPECT_STREQ(text, "module{x}.y");
    EXPECT_EQ(next_raw_word(ps, text), TK_WORD);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(read_char(ps), ',');
    EXPECT_EQ(next_raw_word(ps, text), TK_WORD);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(read_char(ps), ';');
    EXPECT_EQ(next_raw_word(ps, text), TK_WORD);
    EXPECT_STREQ(text, "z");
    EXPECT_EQ(next_raw_word(ps, text), TK_WORD);
    EXPECT_STREQ(text, "w");
    load("module");
    EXPECT_EQ(next_raw_word(ps, text), TK_WORD);
    EXPECT_STREQ(text, "module");
    load(std::string(130, 'q') + std::string("\0r", 2));
    EXPECT_EQ(next_raw_word(ps, text), TK_WORD);
    EXPECT_EQ(std::string(text), std::string(128, 'q'));
    EXPECT_EQ(next_raw_word(ps, text), TK_WORD);
    EXPECT_STREQ(text, "qq");
    EXPECT_EQ(read_char(ps), 0);
}

// ---------------------------------------------------------------------------
// Number values

TEST_F(lexer_fixture, number_value_reads_decimal_hex_and_bit_counts) {
    char* captured = nullptr;
    std::size_t size = 0;
    diag.console = open_memstream(&captured, &size);
    EXPECT_EQ(number_value(diag, "65535"), 65535u);
    EXPECT_EQ(number_value(diag, "-12"), 12u);
    EXPECT_EQ(number_value(diag, "0xffFF"), 65535u);
    EXPECT_EQ(number_value(diag, "4294967295"), 4294967295u);
    EXPECT_EQ(number_value(diag, "4294967296"), 4294967295u);
    EXPECT_EQ(number_value(diag, "0x100000000"), 4294967295u);
    EXPECT_EQ(number_value(diag, std::string(128, '9').c_str()), 4294967295u);
    EXPECT_EQ(number_value(diag, "0b"), 0u);
    EXPECT_EQ(number_value(diag, "8b"), 255u);
    EXPECT_EQ(number_value(diag, "-16B"), 65535u);
    EXPECT_EQ(number_value(diag, "32b"), 4294967295u);
    EXPECT_EQ(number_value(diag, "0x1b"), 0u);
    std::fflush(diag.console);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(number_value(diag, "33b"), 0u);
    EXPECT_EQ(number_value(diag, "4294967304b"), 0u);  // wraps to 8 if unchecked
    std::fclose(diag.console);
    diag.console = stdout;
    EXPECT_EQ(std::string(captured),
              "ERROR: Unable to convert 33b to numerical value\n"
              "ERROR: Unable to convert 4294967304b to numerical value\n");
    std::free(captured);
}

// ---------------------------------------------------------------------------
// C names and validators

TEST(lexer_names, to_c_name_replaces_separators) {
    char s[] = "a-b.c::d_e";
    to_c_name(s);
    EXPECT_STREQ(s, "a_b_c__d_e");
    EXPECT_EQ(to_c_name(std::string_view("x.y-z")), "x_y_z");
}

TEST(lexer_names, validators_accept_and_reject) {
    EXPECT_TRUE(is_identifier("a-1_b"));
    for (const char* s : {"", "1a", "_a", "a.b", "a:b", "a b"}) EXPECT_FALSE(is_identifier(s)) << s;

    for (const char* s : {"?x", "a-b", "tag", "a:b", "a(b"}) EXPECT_TRUE(is_tag_text(s)) << s;
    for (const char* s : {"", "-a", "1a", "a=b", "a,b", "(a", "'a", "a}", "a)"}) {
        EXPECT_FALSE(is_tag_text(s)) << s;
    }

    for (const char* s : {"-1", "abc", "/x", "9"}) EXPECT_TRUE(is_const_text(s)) << s;
    for (const char* s : {"", "//x", "/*x", "\"a", "[a", "a=1", "a,b"}) {
        EXPECT_FALSE(is_const_text(s)) << s;
    }

    for (const char* s : {"+m", "a.b-c_1"}) EXPECT_TRUE(is_module_name(s)) << s;
    for (const char* s : {"", "1a", ".a", "a::b", "a b"}) EXPECT_FALSE(is_module_name(s)) << s;

    for (const char* s : {"a-b_c", "+ext", "m.n::t.u", "m::t:anything!", "a::b"}) {
        EXPECT_TRUE(is_reference_name(s)) << s;
    }
    for (const char* s : {"", "a.b", "a:b", "a::1", "a::", "1a", "a::b!", "a!::b", "a:"}) {
        EXPECT_FALSE(is_reference_name(s)) << s;
    }
}

}  // namespace
}  // namespace qrv
