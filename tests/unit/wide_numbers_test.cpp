// Line numbers and counters past 2^31 and 2^32, seeded rather than read
// from files of many gigabytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "app/job.h"
#include "app/run.h"
#include "app/run_steps.h"
#include "console_capture.h"
#include "frontend/parser.h"
#include "support/diagnostics.h"
#include "test_model.h"

namespace qrv::testing {
namespace {

struct wide_numbers : ::testing::Test {
    std::unique_ptr<run_context> run = std::make_unique<run_context>();
    diagnostics diag;
    console_capture console;

    void SetUp() override {
        init_run_context(*run);
        diag.console = console.file();
    }

    // Parses `text` as if its first line were line `first_line` of a file.
    module_record* parse_from(std::int64_t first_line, const std::string& text) {
        module_record* m = new_module_record(*run);
        m->path = make_text(*run, "big.pvx");
        source_stream stream;
        stream.data = reinterpret_cast<const unsigned char*>(text.data());
        stream.size = text.size();
        parse_state ps;
        ps.path = "big.pvx";
        ps.line = first_line;
        ps.stream = &stream;
        ps.run = run.get();
        ps.diag = &diag;
        ps.module = m;
        parse_body(ps, &m->elements);
        return m;
    }
};

TEST_F(wide_numbers, lines_past_2_31_and_2_32_are_counted_and_reported_as_they_are) {
    module_record* m = parse_from(2147483647, "bool a;\n\nint x;\nbool b;\n");
    EXPECT_EQ(console.take(), "big.pvx(2147483649) : error: Integer 'x' missing constraint\n");
    ASSERT_NE(m->elements, nullptr);
    EXPECT_EQ(m->elements->line(), 2147483647);
    EXPECT_EQ(m->elements->next()->next()->line(), 2147483650);  // b, after x

    // Past 2^32 a 32-bit count would start again from 0.
    parse_from(4294967295, "\n\nint y;\n");
    EXPECT_EQ(console.take(), "big.pvx(4294967297) : error: Integer 'y' missing constraint\n");

    // Diagnostics raised later, at an element's line, show it the same way.
    report_at(diag, "big.pvx", m->elements->next()->next()->line(), SEV_ERROR, "late");
    EXPECT_EQ(console.take(), "big.pvx(2147483650) : error: late\n");
}

TEST_F(wide_numbers, the_counters_pass_2_32_and_the_summary_shows_them) {
    diag.error_count = 4294967295;  // one error more and 32 bits would read 0
    diag.warning_count = 2147483647;
    report(diag, SEV_WARNING, "one more");
    EXPECT_EQ(diag.warning_count, 2147483648);

    // The summary after one more error; the read failed, nothing is written.
    const auto dir = std::filesystem::path(QRV_TEST_TMP) / "wide-counters";
    std::filesystem::create_directories(dir);
    std::string in = (dir / "missing.pvx").string();
    std::string out = (dir / "out.abnf").string();
    char* args[] = {const_cast<char*>("pvx2abnf"), in.data(), out.data(), nullptr};
    const job j = parse_command_line(3, args);
    console.take();
    EXPECT_EQ(qrv::run(*run, diag, j), 0);
    EXPECT_EQ(console.take(), "error: Unable to open file: " + in +
                                  "\n4294967296 error(s), 2147483648 warning(s)\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "out.abnf"));
}

}  // namespace
}  // namespace qrv::testing
