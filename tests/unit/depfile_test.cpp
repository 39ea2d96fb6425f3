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
    EXPECT_TRUE(std::filesystem::exists(out));
    EXPECT_FALSE(std::filesystem::exists(deps));
}

}  // namespace
}  // namespace qrv
