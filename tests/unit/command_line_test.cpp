// The command line scan (argument files, long options) and the forms of
// counted diagnostics.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/job.h"
#include "app/run.h"
#include "app/run_steps.h"
#include "cli_support.h"
#include "console_capture.h"
#include "support/diagnostics.h"
#include "test_model.h"

namespace qrv {
namespace {

struct scanned {
    job cl;
    // The arguments after the options.
    std::vector<std::string> rest;
};

scanned scan(std::vector<std::string> args) {
    args.insert(args.begin(), "pvx2abnf");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    scanned s;
    s.cl = parse_command_line(static_cast<int>(args.size()), argv.data());
    s.rest = s.cl.arguments;
    return s;
}

using strings = std::vector<std::string>;

TEST(command_line, long_options_take_values_after_equals_or_as_the_next_argument) {
    scanned s = scan({"--depfile=a.d", "--error-format", "gcc", "in.pvx", "out.abnf"});
    EXPECT_EQ(s.cl.options.depfile, "a.d");
    EXPECT_EQ(s.cl.options.error_format, diagnostic_format::gcc);
    EXPECT_EQ(s.rest, (strings{"in.pvx", "out.abnf"}));
    EXPECT_TRUE(s.cl.problems.empty());

    // The next argument is the value whatever it looks like; a later
    // option replaces an earlier one.
    s = scan({"--depfile", "-?", "--depfile=b.d", "--exit-code", "in.pvx", "out.abnf"});
    EXPECT_EQ(s.cl.options.depfile, "b.d");
    EXPECT_TRUE(s.cl.options.exit_code);
    EXPECT_EQ(s.cl.action, run_action::translate);
    EXPECT_EQ(s.rest, (strings{"in.pvx", "out.abnf"}));
}

TEST(command_line, options_count_only_before_the_input_file) {
    scanned s = scan({"in.pvx", "--exit-code", "out.abnf"});
    EXPECT_FALSE(s.cl.options.exit_code);
    EXPECT_EQ(s.rest, (strings{"in.pvx", "--exit-code", "out.abnf"}));

    // -? ends the scan and takes the next argument as its file.
    s = scan({"-x", "--", "--unknown=1", "-?", "--version"});
    EXPECT_EQ(s.cl.action, run_action::usage);
    EXPECT_EQ(s.cl.help_file, "--version");

    s = scan({"--version", "--error-format=bad"});
    EXPECT_EQ(s.cl.action, run_action::version);
    EXPECT_TRUE(s.cl.problems.empty());
}

TEST(command_line, bad_option_values_are_problems) {
    scanned s = scan({"--exit-code=1", "--error-format=", "--error-format=MSVC", "--depfile"});
    EXPECT_EQ(s.cl.problems, (strings{"Option takes no value: --exit-code=1",
                                      "Option needs a value: --error-format",
                                      "Unknown error format: MSVC (msvc, gcc, json or pretty)",
                                      "Option needs a value: --depfile"}));
    EXPECT_FALSE(s.cl.options.exit_code);
}

TEST(command_line, argument_files_give_one_argument_per_line) {
    const auto dir = testing::scratch_dir("argument_files");
    const std::string list = (dir / "list").string();
    testing::write_file(list, "--exit-code\r\n\n  spaced name.pvx \n+\n@inner\nlast");
    testing::write_file(dir / "inner", "not read\n");

    scanned s = scan({"@" + list, "@", "out.abnf"});
    // "last" is the output: what follows it is refused.
    EXPECT_EQ(s.cl.problems, (strings{"Unexpected argument after the output file: @"}));
    EXPECT_TRUE(s.cl.options.exit_code);
    // Lines read from a file are not expanded again; "@" alone stays.
    EXPECT_EQ(s.rest, (strings{"  spaced name.pvx ", "+", "@inner", "last", "@", "out.abnf"}));

    // An empty file gives no argument; a missing one and a folder are
    // problems.
    testing::write_file(dir / "empty", "");
    s = scan({"@" + (dir / "empty").string(), "@" + (dir / "nosuch").string(), "@" + dir.string(),
              "in.pvx", "out.abnf"});
    EXPECT_EQ(s.cl.problems, (strings{"Unable to open argument file: " + (dir / "nosuch").string(),
                                      "Unable to open argument file: " + dir.string()}));
    EXPECT_EQ(s.rest, (strings{"in.pvx", "out.abnf"}));
}

TEST(command_line, the_program_name_is_never_an_argument_file) {
    std::string name = "@nosuch";
    char* argv[] = {name.data(), nullptr};
    const job cl = parse_command_line(1, argv);
    EXPECT_TRUE(cl.problems.empty());
    EXPECT_TRUE(cl.arguments.empty());

    const job none = parse_command_line(0, argv + 1);
    EXPECT_EQ(none.action, run_action::translate);
    EXPECT_TRUE(none.arguments.empty());
}

TEST(command_line, sources_and_the_output_follow_the_options) {
    scanned s = scan({"in.pvx", "+", "a.pvx", "+lib", "b.pvx", "out.abnf", "extra"});
    EXPECT_EQ(s.cl.sources, (strings{"in.pvx", "a.pvx", "b.pvx"}));
    EXPECT_EQ(s.cl.output, "out.abnf");
    // A "+" with nothing after it is the output; without any, no output.
    s = scan({"in.pvx", "+"});
    EXPECT_EQ(s.cl.sources, (strings{"in.pvx"}));
    EXPECT_EQ(s.cl.output, "+");
    s = scan({"in.pvx", "+", "a.pvx"});
    EXPECT_EQ(s.cl.sources, (strings{"in.pvx", "a.pvx"}));
    EXPECT_FALSE(s.cl.output.has_value());
    s = scan({"--threads=1", "in.pvx", "out.abnf"});
    EXPECT_EQ(s.cl.options.threads, 1u);
    s = scan({"--threads=3", "in.pvx", "out.abnf"});
    EXPECT_EQ(s.cl.problems, (strings{"Threads are 1 or 2: 3"}));
}

// Counted diagnostics in each form.
struct diagnostics_fixture : ::testing::Test {
    run_context run;
    diagnostics diag;
    testing::console_capture captured;
    void SetUp() override {
        init_run_context(run);
        diag.console = captured.file();
    }
    std::string take() { return captured.take(); }
};

TEST_F(diagnostics_fixture, gcc_form_leaves_out_what_is_missing_as_msvc_does) {
    diag.format = diagnostic_format::gcc;
    report_at(diag, "a.pvx", 12, SEV_ERROR, "Bad %s", "thing");
    report_at(diag, "a.pvx", 0, SEV_WARNING, "No line");
    report_at(diag, "", 5, SEV_ERROR, "No file");
    report(diag, SEV_ERROR, "Ends in a newline\n");
    EXPECT_EQ(take(),
              "a.pvx:12: error: Bad thing\n"
              "a.pvx: warning: No line\n"
              "error: No file\n"
              "error: Ends in a newline\n\n");
    EXPECT_EQ(diag.error_count, 3);
    EXPECT_EQ(diag.warning_count, 1);
}

TEST_F(diagnostics_fixture, json_form_is_one_object_per_line) {
    diag.format = diagnostic_format::json;
    report_at(diag, "a.pvx", 3, SEV_ERROR, "Unable to expand -%s-\n", "X");
    report_at(diag, "a.pvx", 0, SEV_WARNING, "w");
    report_at(diag, nullptr, 7, SEV_ERROR, "no file");
    EXPECT_EQ(take(),
              "{\"file\":\"a.pvx\",\"line\":3,\"severity\":\"error\","
              "\"message\":\"Unable to expand -X-\"}\n"
              "{\"file\":\"a.pvx\",\"line\":null,\"severity\":\"warning\",\"message\":\"w\"}\n"
              "{\"file\":null,\"line\":null,\"severity\":\"error\",\"message\":\"no file\"}\n");
    EXPECT_THROW(report(diag, SEV_FATAL, "Unable to allocate memory"), fatal_stop);
    EXPECT_EQ(take(),
              "{\"file\":null,\"line\":null,\"severity\":\"fatal\","
              "\"message\":\"Unable to allocate memory\"}\n");
}

TEST_F(diagnostics_fixture, json_strings_escape_every_byte_that_is_not_valid_text) {
    diag.format = diagnostic_format::json;
    struct example {
        const char* in;
        const char* out;
    };
    const example examples[] = {
        {"q\"b\\s/", "q\\\"b\\\\s/"},
        {"\x01\x1f\t\r\x7f", "\\u0001\\u001f\\t\\r\x7f"},
        {"\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"},
        {"\xff\x80", "\\u00ff\\u0080"},                                   // no lead byte
        {"\xc0\xaf\xe0\x80\xaf", "\\u00c0\\u00af\\u00e0\\u0080\\u00af"},  // overlong
        {"\xed\xa0\x80", "\\u00ed\\u00a0\\u0080"},                        // a surrogate
        {"\xf4\x90\x80\x80", "\\u00f4\\u0090\\u0080\\u0080"},             // beyond U+10FFFF
        {"\xe2\x82", "\\u00e2\\u0082"},                                   // cut short at the end
        {"\xe2\x82x", "\\u00e2\\u0082x"},  // cut short before a letter
    };
    for (const example& e : examples) {
        report_at(diag, e.in, 1, SEV_ERROR, "%s", e.in);
        const std::string s = std::string("\"") + e.out + "\"";
        EXPECT_EQ(take(),
                  "{\"file\":" + s + ",\"line\":1,\"severity\":\"error\",\"message\":" + s + "}\n")
            << e.in;
    }
}

TEST_F(diagnostics_fixture, long_messages_are_written_whole) {
    const std::string name(5000, 'n');
    report_at(diag, "a.pvx", 1, SEV_ERROR, "Name %s is long", name.c_str());
    EXPECT_EQ(take(), "a.pvx(1) : error: Name " + name + " is long\n");
}

TEST(final_status, errors_fail_a_run_unless_the_old_statuses_are_asked_for) {
    diagnostics diag;
    run_options plain, exit_code, strict, legacy, legacy_exit;
    exit_code.exit_code = true;
    strict.warnings_as_errors = true;
    legacy.legacy_status = true;
    legacy_exit.legacy_status = true;
    legacy_exit.exit_code = true;

    diag.error_count = 2;
    EXPECT_EQ(final_status(diag, plain, 0), 1);
    EXPECT_EQ(final_status(diag, exit_code, 0), 1);
    EXPECT_EQ(final_status(diag, strict, 0), 1);
    EXPECT_EQ(final_status(diag, legacy, 0), 0);
    EXPECT_EQ(final_status(diag, legacy_exit, 0), 1);

    diag.error_count = 0;
    diag.error_note_count = 1;
    EXPECT_EQ(final_status(diag, plain, 0), 1);
    EXPECT_EQ(final_status(diag, legacy, 0), 0);

    // Warnings keep status 0 unless they are to count as errors.
    diag.error_note_count = 0;
    diag.warning_count = 1;
    EXPECT_EQ(final_status(diag, plain, 0), 0);
    EXPECT_EQ(final_status(diag, strict, 0), 1);
    EXPECT_EQ(final_status(diag, legacy, 1), 1);
}

TEST(command_line, slips_are_refused_before_anything_is_read) {
    scanned s = scan({"--strict-abfn", "in.pvx", "out.abnf"});
    EXPECT_EQ(s.cl.problems, (strings{"Unknown option: --strict-abfn"}));
    s = scan({"in.pvx", "out.abnf", "--strict-abnf"});
    EXPECT_EQ(s.cl.problems, (strings{"Unexpected argument after the output file: --strict-abnf"}));
    EXPECT_TRUE(s.cl.problem_notes.empty());
    // An output named like a library: the "+" was left out.
    s = scan({"in.pvx", "lib.pvx", "out.abnf"});
    EXPECT_EQ(s.cl.problems, (strings{"Unexpected argument after the output file: out.abnf"}));
    EXPECT_EQ(s.cl.problem_notes,
              (strings{"note: Library files are named after a '+': + lib.pvx\n"}));
    // --output names the output: every argument after the sources is extra.
    s = scan({"--output=o.abnf", "in.pvx", "+", "a.pvx"});
    EXPECT_TRUE(s.cl.problems.empty());
    EXPECT_EQ(s.cl.output, "o.abnf");
    s = scan({"--output=o.abnf", "in.pvx", "x.abnf"});
    EXPECT_EQ(s.cl.problems, (strings{"Unexpected argument after the output file: x.abnf"}));
    // "-" alone is standard input; -q is --quiet; other single-dash flags
    // are ignored.
    s = scan({"-q", "-x", "-", "-"});
    EXPECT_TRUE(s.cl.options.quiet);
    EXPECT_EQ(s.cl.sources, (strings{"-"}));
    EXPECT_EQ(s.cl.output, "-");
}

}  // namespace
}  // namespace qrv
