// The old version of a comparison read on a second thread prints what a run
// that reads both versions in turn prints, in the same places: the same
// texts and statuses with one thread and with two, whichever version has
// errors, at which step, in which form.
#include "app/read_version.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli_support.h"

namespace qrv {
namespace {

using testing::run_cli;
using testing::scratch_dir;
using testing::write_file;

const char fine[] = "pavex module shop;\nstruct A {\n    int<0..9> a;\n};\nendmodule;\n";
const char narrowed[] = "pavex module shop;\nstruct A {\n    int<0..5> a;\n};\nendmodule;\n";
const char syntax_error[] = "pavex module shop;\nstruct A {\n    int<0..9> a\n};\nendmodule;\n";
const char unknown_type[] =
    "pavex module shop;\nstruct A {\n    Missin a;\n};\nstruct Mission {\n"
    "    int<0..9> b;\n};\nendmodule;\n";
const char keyword_name[] =
    "pavex module shop;\nstruct A {\n    int<0..9> class;\n};\nendmodule;\n";
// A qualified name past its limit ends the run with a fatal diagnostic.
std::string too_long() {
    std::string s = "pavex module deep;\nstruct P {\n";
    std::string close;
    for (char c = 'a'; c <= 'c'; ++c) {
        s += "struct " + std::string(63, c) + " {\n";
        close += "};\n";
    }
    s += "int<0..9> class;\nint<0..9> " + std::string(62, 'd') + ";\n" + close + "};\nendmodule;\n";
    return s;
}

struct version_pair {
    std::string name;
    std::string old_text;
    std::string new_text;
    std::string shown;  // what the output holds, in every form
};

TEST(old_version_reader, PrintsTheSameWithOneThreadAndWithTwo) {
    const std::vector<version_pair> pairs = {
        {"a break", fine, narrowed, "range narrowed"},
        {"old syntax error", syntax_error, fine, "old.pvx"},
        {"new syntax error", fine, syntax_error, "new.pvx"},
        {"both syntax errors", syntax_error, syntax_error, "Unexpected token"},
        {"old unknown type", unknown_type, fine, "Missin"},
        {"new unknown type", fine, unknown_type, "Missin"},
        {"both unknown types", unknown_type, unknown_type, "Missin"},
        {"warnings in both", keyword_name, keyword_name, "class_"},
        {"old fatal", too_long(), fine, "FATAL"},
        {"new fatal", fine, too_long(), "FATAL"},
    };
    const std::vector<std::vector<std::string>> forms = {
        {}, {"--error-format=gcc"}, {"--error-format=json"}, {"--error-format=pretty"}};
    const auto dir = scratch_dir("old_version_reader");
    for (const version_pair& p : pairs) {
        write_file(dir / "old.pvx", p.old_text);
        write_file(dir / "new.pvx", p.new_text);
        for (const std::vector<std::string>& form : forms) {
            std::vector<std::string> args = form;
            args.push_back("--compat=full");
            args.push_back("--old=" + (dir / "old.pvx").string());
            args.push_back("--old-lib=" + (dir / "old.pvx").string());
            args.push_back((dir / "new.pvx").string());
            std::vector<std::string> one = args;
            one.insert(one.begin(), "--threads=1");
            std::vector<std::string> two = args;
            two.insert(two.begin(), "--threads=2");
            const testing::cli_result in_turn = run_cli(one);
            const testing::cli_result aside = run_cli(two);
            const std::string what = p.name + (form.empty() ? "" : " " + form[0]);
            EXPECT_EQ(in_turn.out, aside.out) << what;
            EXPECT_EQ(in_turn.status, aside.status) << what;
            EXPECT_NE(in_turn.out.find(p.shown), std::string::npos) << what << in_turn.out;
            // The old library named twice is read once, with its note.
            EXPECT_NE(in_turn.out.find("Source file given more than once"), std::string::npos)
                << what;
        }
    }
}

TEST(old_version_reader, TheOldVersionsErrorsFollowTheNewOnesAtEachStep) {
    const auto dir = scratch_dir("old_version_reader_order");
    write_file(dir / "old.pvx", unknown_type);
    write_file(dir / "new.pvx", keyword_name);
    const testing::cli_result r =
        run_cli({"--threads=2", "--compat=backward", "--old=" + (dir / "old.pvx").string(),
                 (dir / "new.pvx").string()});
    EXPECT_EQ(r.status, 1);
    const std::size_t warning = r.out.find("Changed name 'class'");
    const std::size_t error = r.out.find("Missin");
    ASSERT_NE(warning, std::string::npos) << r.out;
    ASSERT_NE(error, std::string::npos) << r.out;
    EXPECT_LT(warning, error) << r.out;
    // An error in the new version's post-parse leaves the old one's unsaid.
    const testing::cli_result both =
        run_cli({"--threads=2", "--compat=backward", "--old=" + (dir / "old.pvx").string(),
                 (dir / "old.pvx").string()});
    const std::size_t first = both.out.find("Missin");
    ASSERT_NE(first, std::string::npos) << both.out;
    EXPECT_EQ(both.out.find("Missin", both.out.find('\n', first)), std::string::npos) << both.out;
}

}  // namespace
}  // namespace qrv
