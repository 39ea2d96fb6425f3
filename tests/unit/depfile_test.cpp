#include "depfile/depfile.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "cli_support.h"

namespace qrv {
namespace {

TEST(depfile, names_are_escaped_as_make_and_ninja_read_them) {
    EXPECT_EQ(make_escaped("plain/path-1.pvx"), "plain/path-1.pvx");
    EXPECT_EQ(make_escaped("a b\tc"), "a\\ b\\\tc");
    EXPECT_EQ(make_escaped("#1 $x"), "\\#1\\ $$x");
    EXPECT_EQ(make_escaped("c:a:b"), "c\\:a\\:b");
    // Backslashes stay single except before a blank, where 2N+1 of them
    // stand for N and the blank.
    EXPECT_EQ(make_escaped("a\\b"), "a\\b");
    EXPECT_EQ(make_escaped("a\\ b"), "a\\\\\\ b");
    EXPECT_EQ(make_escaped("a\\\\ b\\"), "a\\\\\\\\\\ b\\");
}

TEST(depfile, one_rule_for_the_target_and_an_empty_rule_per_prerequisite) {
    const auto text = depfile_text("out dir/g.abnf", {"in.pvx", "lib.pvx", "in.pvx", "in.pvxcfg"});
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(*text,
              "out\\ dir/g.abnf: \\\n"
              "  in.pvx \\\n"
              "  lib.pvx \\\n"
              "  in.pvxcfg\n"
              "\n"
              "in.pvx:\n"
              "\n"
              "lib.pvx:\n"
              "\n"
              "in.pvxcfg:\n");
    EXPECT_EQ(depfile_text("t", {}), "t:\n");
}

TEST(depfile, a_line_break_in_any_name_gives_no_text) {
    EXPECT_FALSE(depfile_text("out\n.abnf", {"in.pvx"}).has_value());
    EXPECT_FALSE(depfile_text("out.abnf", {"in.pvx", "li\rb.pvx"}).has_value());
}

TEST(depfile, names_that_make_and_ninja_would_read_apart_are_refused) {
    // Written escaped: both read them back as one name (tests/depfile_tools.py
    // checks this with the real tools).
    for (const char* name :
         {"plain/path-1.pvx", "lib #1 $x.pvx", "c:b.pvx", ":a", "#a", " a", "a\\b", "a\\ b",
          "a(b).pvx", "(x", "a[b", "a]b", "x~y", "{a,b}!+@,", "\xc3\xa9t\xc3\xa9.pvx"}) {
        EXPECT_EQ(depfile_name_check(name), depfile_name::writable) << name;
    }
    EXPECT_EQ(depfile_name_check("a\nb"), depfile_name::line_break);
    EXPECT_EQ(depfile_name_check("a\rb"), depfile_name::line_break);
    for (const char* name :
         {"a;b",    "a%b",    "a=b",      "a\"b",      "a'b",   "a&b",       "a*b",
          "a?b",    "a<b",    "a>b",      "a|b",       "a^b",   "a`b",       "a\tb",
          "a\x01b", "a\x7f",  "a[1].pvx", "~/lib.pvx", "~x",    "trailing ", "trailing\\",
          "c:",     "lib(x)", "z)",       "a\\#b",     "a\\:b", "a\\$b",     ""}) {
        EXPECT_EQ(depfile_name_check(name), depfile_name::unreadable) << name;
    }
    // One such name anywhere gives no text at all.
    EXPECT_FALSE(depfile_text("out.abnf", {"in.pvx", "a;b.pvx"}).has_value());
    EXPECT_FALSE(depfile_text("out%.abnf", {"in.pvx"}).has_value());
}

TEST(depfile, a_dependency_file_that_is_the_output_or_an_input_is_refused_before_anything_is_read) {
    const auto dir = testing::scratch_dir("depfile_is_output");
    testing::write_file(dir / "in.pvx", "pavex module m;\nbool B;\n");
    testing::write_file(dir / "out.abnf", "the old grammar\n");
    std::filesystem::create_hard_link(dir / "out.abnf", dir / "hard.d");
    std::filesystem::create_hard_link(dir / "in.pvx", dir / "source.d");
    const std::string in = (dir / "in.pvx").string();
    const std::string out = (dir / "out.abnf").string();
    const std::string hard = (dir / "hard.d").string();
    testing::cli_result r = testing::run_cli({"--depfile", hard, in, out});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "pvx2abnf version 0.91\n\nerror: The dependency file is the output file: " +
                         hard + "\n");
    EXPECT_EQ(testing::read_file(dir / "out.abnf"), "the old grammar\n");

    const std::string source = (dir / "source.d").string();
    r = testing::run_cli({"--depfile=" + source, in, out});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("error: Output file is also an input file: " + source), std::string::npos);
    EXPECT_EQ(testing::read_file(dir / "out.abnf"), "the old grammar\n");
    EXPECT_EQ(testing::read_file(dir / "in.pvx"), "pavex module m;\nbool B;\n");
}

TEST(depfile, a_run_that_cannot_write_its_dependency_file_fails) {
    const auto dir = testing::scratch_dir("depfile_line_break");
    testing::write_file(dir / "in.pvx", "pavex module m;\nbool B;\n");
    testing::write_file(dir / "li\nb.pvx", "pavex module l;\nbool L;\n");
    const std::string out = (dir / "out.abnf").string();
    const std::string deps = (dir / "out.d").string();
    const testing::cli_result r = testing::run_cli(
        {"--depfile", deps, (dir / "in.pvx").string(), "+", (dir / "li\nb.pvx").string(), out});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(
        r.out.find("error: A file name with a line break cannot stand in a dependency file\n"),
        std::string::npos)
        << r.out;
    // The names are known before anything is read: no grammar is written
    // either, so an older one stays.
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_FALSE(std::filesystem::exists(deps));
}

}  // namespace
}  // namespace qrv
