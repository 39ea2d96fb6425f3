// Positions in diagnostics: columns in characters, names found on a line,
// close names, the texts of the sources, and the places the front end and
// the sink give each diagnostic form.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "console_capture.h"
#include "frontend/source.h"
#include "model/model.h"
#include "support/diagnostics.h"
#include "support/source_positions.h"

namespace qrv {
namespace {

TEST(positions, columns_count_characters_not_bytes) {
    EXPECT_EQ(column_of("    int x;", 4), 5);
    EXPECT_EQ(column_of("", 0), 1);
    // é is two bytes, € three, U+1F600 four: each one column.
    EXPECT_EQ(column_of("/* \xc3\xa9 */ A a;", 9), 9);
    EXPECT_EQ(column_of("\xe2\x82\xac\xf0\x9f\x98\x80 x", 8), 4);
    // A byte that is not UTF-8 is a column of its own, and a sequence cut
    // short is one column per byte.
    EXPECT_EQ(column_of("\xff\xfe x", 3), 4);
    EXPECT_EQ(column_of("\xe2\x82 x", 3), 4);
    // An offset beyond the line stands just after it.
    EXPECT_EQ(column_of("ab", 10), 3);
    EXPECT_EQ(width_of("\xc3\xa9t\xc3\xa9"), 3);
}

TEST(positions, tokens_are_found_as_whole_names) {
    EXPECT_EQ(find_token("    Lines lines; Line line;", "Line"), 17u);
    EXPECT_EQ(find_token("    cmn::Customer customer;", "cmn::Customer"), 4u);
    EXPECT_EQ(find_token("    cmn::Customer customer;", "Customer"), std::string_view::npos);
    EXPECT_EQ(find_token("a-b a", "a"), 4u);
    EXPECT_EQ(find_token("x x", "x", 1), 2u);
    EXPECT_EQ(find_token("x", ""), std::string_view::npos);
    EXPECT_EQ(find_token("", "x"), std::string_view::npos);
}

TEST(positions, the_blame_goes_to_the_token_just_read) {
    const std::string_view line = "    int<1..9> count [1..];";
    // The reader stands after "count": the name.
    EXPECT_EQ(token_start_before(line, 19), 14u);
    EXPECT_EQ(token_length_at(line, 14), 5u);
    // After "..": both dots; after the number behind them, the number.
    EXPECT_EQ(token_start_before(line, 11), 9u);
    EXPECT_EQ(token_length_at(line, 9), 2u);
    EXPECT_EQ(token_start_before(line, 12), 11u);
    EXPECT_EQ(token_length_at(line, 8), 1u);
    // A dotted name is one token.
    EXPECT_EQ(token_start_before("  shop.orders::Line x", 19), 2u);
    EXPECT_EQ(token_length_at("  shop.orders::Line x", 2), 17u);
    // After blanks: the next token.
    EXPECT_EQ(token_start_before(line, 20), 20u);
    EXPECT_EQ(token_start_before(line, 0), 4u);
    // Punctuation is one character.
    EXPECT_EQ(token_start_before(line, 25), 24u);
    EXPECT_EQ(token_length_at(line, 24), 1u);
    EXPECT_EQ(token_length_at(line, 99), 1u);
    // Beyond the line: its end.
    EXPECT_EQ(token_start_before("ab", 7), 0u);
}

TEST(positions, edit_distance_counts_insertions_deletions_changes_and_swaps) {
    EXPECT_EQ(edit_distance("kitten", "sitting"), 3u);
    EXPECT_EQ(edit_distance("Reading", "Readng"), 1u);
    EXPECT_EQ(edit_distance("Reading", "Raeding"), 1u);  // a swap
    EXPECT_EQ(edit_distance("", "abc"), 3u);
    EXPECT_EQ(edit_distance("abc", ""), 3u);
    EXPECT_EQ(edit_distance("same", "same"), 0u);
    // Case alone is one edit, never none.
    EXPECT_EQ(edit_distance("order", "Order"), 1u);
    EXPECT_EQ(edit_distance("ORDER", "order"), 1u);
}

TEST(positions, close_names_are_the_nearest_within_a_third) {
    const std::vector<std::string_view> names = {"Reading", "Report", "Readings", "Heading",
                                                 "Reading", "x",      "Customer"};
    EXPECT_EQ(close_names("Readng", names),
              (std::vector<std::string>{"Reading", "Readings", "Heading"}));
    EXPECT_EQ(close_names("Readng", names, 1), (std::vector<std::string>{"Reading"}));
    // The name itself is not offered; nothing close gives nothing.
    EXPECT_EQ(close_names("Customer", names), std::vector<std::string>{});
    EXPECT_EQ(close_names("Zebra", names), std::vector<std::string>{});
    // Short names allow one edit.
    EXPECT_EQ(close_names("y", names), (std::vector<std::string>{"x"}));
    EXPECT_EQ(did_you_mean({}), "");
    EXPECT_EQ(did_you_mean({"a"}), "did you mean 'a'?");
    EXPECT_EQ(did_you_mean({"a", "b", "c"}), "did you mean 'a', 'b' or 'c'?");
}

TEST(positions, source_texts_give_lines_and_offsets) {
    source_texts texts;
    texts.keep("-", "one\r\ntwo\n\nfour");
    std::string_view line;
    ASSERT_TRUE(texts.line("-", 1, &line));
    EXPECT_EQ(line, "one");  // without its carriage return
    ASSERT_TRUE(texts.line("-", 4, &line));
    EXPECT_EQ(line, "four");
    ASSERT_TRUE(texts.line("-", 3, &line));
    EXPECT_EQ(line, "");
    EXPECT_FALSE(texts.line("-", 5, &line));
    EXPECT_FALSE(texts.line("-", 0, &line));
    std::int64_t at_line = 0;
    std::size_t byte = 0;
    ASSERT_TRUE(texts.locate("-", 7, &at_line, &byte));
    EXPECT_EQ(at_line, 2);
    EXPECT_EQ(byte, 2u);
    EXPECT_FALSE(texts.locate("-", 99, &at_line, &byte));
    std::int64_t before = 0;
    ASSERT_TRUE(texts.lines_before("-", 10, &before));
    EXPECT_EQ(before, 3);
    ASSERT_TRUE(texts.lines_before("-", 9, &before));
    EXPECT_EQ(before, 2);
    EXPECT_FALSE(texts.line("no such file.pvx", 1, &line));
    EXPECT_FALSE(texts.lines_before("no such file.pvx", 1, &before));
}

TEST(positions, a_file_is_read_again_only_up_to_where_it_is_asked) {
    const std::string path = ::testing::TempDir() + "positions_lines.pvx";
    {
        std::ofstream f(path, std::ios::binary);
        f << "a\nb\nc\n";
    }
    source_texts texts;
    std::int64_t before = 0;
    ASSERT_TRUE(texts.lines_before(path, 4, &before));
    EXPECT_EQ(before, 2);
    EXPECT_FALSE(texts.lines_before(path, 7, &before));  // beyond its end
    std::string_view line;
    ASSERT_TRUE(texts.line(path, 3, &line));
    EXPECT_EQ(line, "c");
    std::remove(path.c_str());
}

// The front end and the sink together, on a text of two modules after
// leading text.
struct positions_run : ::testing::Test {
    std::unique_ptr<run_context> run = std::make_unique<run_context>();
    diagnostics diag;
    source_texts texts;
    testing::console_capture console;

    void SetUp() override {
        init_run_context(*run);
        diag.console = console.file();
    }
    void TearDown() override { free_model(*run); }
    void form(diagnostic_format f, bool positions = true) {
        diag.format = f;
        diag.one_per_mistake = f != diagnostic_format::msvc;
        diag.file_positions = positions;
        diag.sources = positions ? &texts : nullptr;
    }
    std::string read(std::string_view source) {
        read_source_text(*run, diag, "t.pvx", source, nullptr);
        return console.take();
    }
};

constexpr std::string_view two_modules =
    "Leading text.\n"
    "pavex*/\n"
    "pavex module a;\n"
    "struct A { int<1..2> x; };\n"
    "endmodule;\n"
    "pavex module b;\n"
    "struct B {\n"
    "\tint y;\n"
    "    bool z [1..];\n"
    "};\n";

TEST_F(positions_run, the_original_form_counts_lines_from_each_module) {
    form(diagnostic_format::msvc, false);
    EXPECT_EQ(read(two_modules),
              "t.pvx(4) : error: Integer 'y' missing constraint\n"
              "t.pvx(5) : error: Illegal cardinality format\n"
              "t.pvx(5) : error: Illegal cardinality format\n"
              "t.pvx(6) : error: Illegal cardinality format\n"
              "t.pvx(6) : error: Illegal cardinality format\n"
              "t.pvx(7) : error: Encountered premature end of file\n"
              "t.pvx(7) : error: Encountered premature end of file\n");
}

TEST_F(positions_run, file_positions_count_the_leading_text_and_earlier_modules) {
    form(diagnostic_format::msvc);
    const std::string out = read(two_modules);
    EXPECT_EQ(out.substr(0, out.find('\n', out.find('\n') + 1) + 1),
              "t.pvx(8,6) : error: Integer 'y' missing constraint\n"
              "t.pvx(9,16) : error: Illegal cardinality format\n");
    // Module b's first line is the one module a ends on.
    EXPECT_EQ(run->module_line_offsets.at(run->modules), 2);
    EXPECT_EQ(run->module_line_offsets.at(run->modules->next), 4);
}

TEST_F(positions_run, follow_on_errors_fold_into_the_first) {
    form(diagnostic_format::gcc);
    EXPECT_EQ(read("pavex module m;\nstruct S {\n  int<1..2> a as t [?];\n  bool b;\n};\n"),
              "t.pvx:3:20: error: Unexpected token [ (and 2 follow-on errors in this statement)\n");
    EXPECT_EQ(diag.error_count, 1);
}

TEST_F(positions_run, an_illegal_cardinality_ends_its_statement_only) {
    form(diagnostic_format::gcc);
    EXPECT_EQ(read("pavex module m;\nstruct S {\n  bool a [1..];\n  int b;\n  bool c [x;\n  "
                   "bool d;\n};\n"),
              "t.pvx:3:14: error: Illegal cardinality format\n"
              "t.pvx:4:7: error: Integer 'b' missing constraint\n"
              "t.pvx:5:11: error: Illegal cardinality format\n");
}

TEST_F(positions_run, the_pretty_form_shows_the_line_with_a_caret_under_the_token) {
    form(diagnostic_format::pretty);
    EXPECT_EQ(read("pavex module m;\nstruct S {\n\t/* \xc3\xa9 */ int v;\n};\n"),
              "t.pvx:3:14: error: Integer 'v' missing constraint\n"
              "   3 | \t/* \xc3\xa9 */ int v;\n"
              "     | \t            ^\n");
}

TEST_F(positions_run, colours_only_when_asked_for) {
    form(diagnostic_format::pretty);
    diag.color = true;
    const std::string out = read("pavex module m;\nstruct S { int v; };\n");
    EXPECT_NE(out.find("\033[1;31merror:"), std::string::npos) << out;
    EXPECT_NE(out.find("\033[1;32m^"), std::string::npos) << out;
}

TEST(positions_sink, a_place_without_positions_is_the_line_as_before) {
    testing::console_capture a;
    testing::console_capture b;
    diagnostics first;
    first.console = a.file();
    diagnostics second;
    second.console = b.file();
    report_at(first, "m.pvx", 7, SEV_ERROR, "Unable to expand definition of -%s- in -%s-\n", "X",
              "x");
    source_place place;
    place.file = "m.pvx";
    place.line = 7;
    place.token = "X";
    report_place_f(second, place, SEV_ERROR, "did you mean 'Y'?",
                   "Unable to expand definition of -%s- in -%s-\n", "X", "x");
    EXPECT_EQ(a.text(), b.text());
    EXPECT_EQ(second.error_count, 1);
}

TEST(positions_sink, json_carries_the_column_the_help_and_the_follow_ons) {
    testing::console_capture out;
    source_texts texts;
    texts.keep("m.pvx", "pavex module m;\nstruct S { Strng s; };\n");
    diagnostics diag;
    diag.console = out.file();
    diag.format = diagnostic_format::json;
    diag.file_positions = true;
    diag.sources = &texts;
    source_place place;
    place.file = "m.pvx";
    place.line = 2;
    place.token = "Strng";
    diagnostic_extras extras;
    extras.help = "did you mean 'String'?";
    extras.follow_ons = 2;
    report_place(diag, place, SEV_ERROR, "Unable to expand\n", extras);
    EXPECT_EQ(out.text(),
              "{\"file\":\"m.pvx\",\"line\":2,\"column\":12,\"severity\":\"error\",\"message\":"
              "\"Unable to expand\",\"help\":\"did you mean 'String'?\",\"follow_on\":2}\n");
}

TEST(positions_sink, a_name_on_a_later_line_of_the_declaration_moves_the_place) {
    testing::console_capture out;
    source_texts texts;
    texts.keep("m.pvx", "struct S {\n    Strng\n        s;\n};\n");
    diagnostics diag;
    diag.console = out.file();
    diag.format = diagnostic_format::gcc;
    diag.file_positions = true;
    diag.sources = &texts;
    source_place place;
    place.file = "m.pvx";
    place.line = 2;
    place.token = "s";
    report_place(diag, place, SEV_ERROR, "x");
    place.token = "absent";
    report_place(diag, place, SEV_ERROR, "y");
    EXPECT_EQ(out.text(), "m.pvx:3:9: error: x\nm.pvx:2:5: error: y\n");
}

TEST(positions_sink, a_run_offers_a_bounded_number_of_suggestions) {
    diagnostics diag;
    EXPECT_FALSE(may_suggest(diag, 3));  // only where positions are shown
    diag.file_positions = true;
    diag.suggestions_left = 3;
    // One refused for its size counts as well.
    EXPECT_FALSE(may_suggest(diag, max_suggestion_candidates + 1));
    EXPECT_TRUE(may_suggest(diag, 3));
    EXPECT_TRUE(may_suggest(diag, max_suggestion_candidates));
    EXPECT_FALSE(may_suggest(diag, 3));
    EXPECT_EQ(diag.suggestions_left, 0);
}

}  // namespace
}  // namespace qrv
