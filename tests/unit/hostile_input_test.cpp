// Whole runs on hostile inputs, generated here: every one must end with its
// diagnostics and the right exit status, without a crash, a hang or a
// partial output file.
#include <gtest/gtest.h>

#include <string>

#include "cli_support.h"
#include "test_model.h"

namespace qrv::testing {
namespace {

std::size_t count_of(const std::string& haystack, const std::string& needle) {
    std::size_t n = 0;
    for (std::size_t at = haystack.find(needle); at != std::string::npos;
         at = haystack.find(needle, at + needle.size())) {
        ++n;
    }
    return n;
}

struct hostile : ::testing::Test {
    std::filesystem::path dir;

    void SetUp() override {
        dir = scratch_dir(std::string("hostile-") +
                          ::testing::UnitTest::GetInstance()->current_test_info()->name());
    }

    cli_result translate(const std::string& source, const std::string* directives = nullptr) {
        write_file(dir / "in.pvx", source);
        if (directives != nullptr) write_file(dir / "in.pvxcfg", *directives);
        return run_cli({(dir / "in.pvx").string(), (dir / "out.abnf").string()});
    }

    bool wrote_output() const { return std::filesystem::exists(dir / "out.abnf"); }
};

TEST_F(hostile, nul_and_high_bytes_in_sources_are_reported_not_fatal) {
    std::string source = "struct A { bool b; };\n";
    source += std::string("struct B\0 { bool c; };\n", 23);
    source += "struct C { bool \xff\xfe; };\n";
    source += "\x80\x81 x;\n";
    cli_result r = translate(source);
    EXPECT_EQ(r.status, 1);  // the sources have errors
    EXPECT_NE(r.out.find(" error(s), 0 warning(s)\n"), std::string::npos);
    EXPECT_EQ(r.out.find("\n0 error(s)"), std::string::npos);  // some errors were counted
    EXPECT_FALSE(wrote_output());
}

TEST_F(hostile, nul_and_high_bytes_in_directive_files_only_warn) {
    std::string directives("A\0 list\nA \xff\xfe\n\x80 list\n# \0 comment\nA list\n", 38);
    cli_result r = translate("struct A { bool b; };\n", &directives);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("0 error(s), "), std::string::npos);
    EXPECT_TRUE(wrote_output());
}

TEST_F(hostile, a_ten_megabyte_single_line_source_translates) {
    std::string source = "struct Big {";
    for (int i = 0; source.size() < 10'000'000; ++i) {
        source += " bool m" + std::to_string(i) + ";";
    }
    source += " };";
    cli_result r = translate(source);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("0 error(s), 0 warning(s)\n"), std::string::npos);
    EXPECT_TRUE(wrote_output());
}

TEST_F(hostile, a_one_megabyte_word_is_cut_into_tokens) {
    cli_result r = translate("struct A { " + std::string(1 << 20, 'a') + " x; };\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Identifier name exceeds 63 characters"), std::string::npos);
    EXPECT_FALSE(wrote_output());
}

TEST_F(hostile, a_hundred_thousand_opening_braces) {
    cli_result r = translate(std::string(100000, '{'));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(count_of(r.out, "Illegal reference name: {"), 100000u);
    EXPECT_FALSE(wrote_output());
}

TEST_F(hostile, a_million_nested_plain_comments) {
    std::string source;
    source.reserve(4'100'000);
    for (int i = 0; i < 1'000'000; ++i) source += "/* ";
    for (int i = 0; i < 1'000'000; ++i) source += "*/ ";
    source += "\nstruct A { bool b; };\n";
    cli_result r = translate(source);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("0 error(s), 0 warning(s)\n"), std::string::npos);
    EXPECT_TRUE(wrote_output());
}

TEST_F(hostile, an_unterminated_marked_comment_hides_the_rest) {
    cli_result r = translate("struct A { bool b; };\n/** struct B { bool c; };\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("0 error(s), 0 warning(s)\n"), std::string::npos);
    EXPECT_EQ(read_file(dir / "out.abnf").find("B = "), std::string::npos);
}

TEST_F(hostile, a_hundred_thousand_structures_in_a_chain) {
    std::string source;
    const int n = 100000;
    for (int i = 0; i < n; ++i) {
        source += "struct D" + std::to_string(i) + " { ";
        if (i + 1 < n) source += "D" + std::to_string(i + 1) + " next; ";
        source += "bool b; };\n";
    }
    cli_result r = translate(source);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("0 error(s), 0 warning(s)\n"), std::string::npos);
    EXPECT_EQ(r.out.find("has not been referenced"), std::string::npos);
    EXPECT_TRUE(wrote_output());
}

TEST_F(hostile, a_hundred_thousand_references_in_a_chain_of_names) {
    // Top-level A0 has the type A1, A1 the type A2, ...: beyond ten lookups
    // a reference is not expanded; every element is reported once.
    std::string source = "struct Root { A0 a; };\n";
    const int n = 100000;
    for (int i = 0; i < n; ++i) {
        source += "A" + std::to_string(i + 1) + " A" + std::to_string(i) + ";\n";
    }
    source += "int<0..9> A" + std::to_string(n) + ";\n";
    cli_result r = translate(source);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(count_of(r.out, "Unable to expand definition of -"), static_cast<std::size_t>(n - 9));
    EXPECT_FALSE(wrote_output());
}

TEST_F(hostile, a_doubling_dag_of_depth_forty_with_a_cycle_at_the_bottom) {
    std::string source;
    for (int i = 0; i < 40; ++i) {
        source += "struct D" + std::to_string(i) + " { D" + std::to_string(i + 1) + " a; D" +
                  std::to_string(i + 1) + " b; };\n";
    }
    source += "struct D40 { D40 self [?]; bool leaf; };\n";
    cli_result r = translate(source);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("0 error(s), 0 warning(s)\n"), std::string::npos);
    EXPECT_TRUE(wrote_output());
}

TEST_F(hostile, ten_thousand_modules_in_one_file) {
    std::string source;
    for (int i = 0; i < 10000; ++i) {
        const std::string k = std::to_string(i);
        source += "pavex module m" + k + ";\nstruct S" + k + " { bool b; };\nendmodule;\n";
    }
    cli_result r = translate(source);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("0 error(s), 0 warning(s)\n"), std::string::npos);
    EXPECT_EQ(count_of(r.out, "has not been referenced"), 9999u);
}

TEST_F(hostile, directive_lines_longer_than_255_characters) {
    std::string directives = std::string(1000, 'A') + " list\n" + "A " + std::string(600, 'x') +
                             "\n" + std::string(300, ' ') + "A list\n";
    cli_result r = translate("struct A { bool b; };\n", &directives);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("0 error(s), "), std::string::npos);
    EXPECT_NE(r.out.find("in.pvxcfg("), std::string::npos);  // warnings at their lines
    EXPECT_TRUE(wrote_output());
}

}  // namespace
}  // namespace qrv::testing
