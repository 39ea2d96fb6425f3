#include "support/output_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "console_capture.h"
#include "support/atomic_file.h"
#include "test_model.h"

namespace qrv {
namespace {

// A run whose output goes to memory and whose console is captured.
struct writer_fixture : ::testing::Test {
    run_context run;
    diagnostics diag;
    std::string out;
    output_writer writer;
    testing::console_capture captured;

    void SetUp() override {
        init_run_context(run);
        diag.console = captured.file();
        writer.diag = &diag;
        sink_open_memory(writer, &out);
    }
    std::string console() { return captured.text(); }
    // The text so far: closing hands the buffer on; the writer is opened
    // again on the same text with its layout state kept.
    const std::string& text() {
        sink_close(writer);
        sink_open_memory(writer, &out);
        return out;
    }
    void clear() {
        sink_close(writer);
        out.clear();
        sink_open_memory(writer, &out);
    }
};

std::string blanks(std::size_t n) { return std::string(n, ' '); }

TEST_F(writer_fixture, tabs_stop_at_multiples_of_twenty_after_the_indentation) {
    emit(writer, "a\tb");
    EXPECT_EQ(text(), "a" + blanks(19) + "b");

    clear();
    writer.depth = 2;
    emit(writer, "\n\tc");
    EXPECT_EQ(text(), "\n" + blanks(8) + blanks(20) + "c");
    EXPECT_EQ(writer.column, 21);
    EXPECT_EQ(writer.tab_count, 1);
}

TEST_F(writer_fixture, a_tab_writes_at_least_one_blank_and_counts_tabs_not_columns) {
    // First tab at column 45: one blank. The second tab aims at column 40,
    // which is behind, so it too writes one blank.
    emit(writer, "%s\t\tx", std::string(45, 'a').c_str());
    EXPECT_EQ(text(), std::string(45, 'a') + "  x");

    clear();
    emit(writer, "\n%s\t", std::string(20, 'b').c_str());
    EXPECT_EQ(text(), "\n" + std::string(20, 'b') + " ");

    clear();
    emit(writer, "\nab\tcd\te");
    EXPECT_EQ(text(), "\nab" + blanks(18) + "cd" + blanks(18) + "e");
}

TEST_F(writer_fixture, braces_change_the_depth_and_indent_every_new_line) {
    emit(writer, "x{");
    EXPECT_EQ(text(), "x    {");
    EXPECT_EQ(writer.column, 2);  // the four blanks do not count
    EXPECT_EQ(writer.depth, 1);
    emit(writer, "\n\n}y");
    EXPECT_EQ(text(), "x    {\n    \n    }y");
    EXPECT_EQ(writer.depth, 0);
    EXPECT_EQ(diag.error_count, 0);
}

TEST_F(writer_fixture, braces_are_plain_when_brace_indent_is_off) {
    writer.brace_indent = false;
    emit(writer, "{\n}");
    EXPECT_EQ(text(), "{\n}");
    EXPECT_EQ(writer.depth, 0);
    EXPECT_EQ(console(), "");
}

TEST_F(writer_fixture, a_closing_brace_below_depth_zero_is_noted_and_counted) {
    emit(writer, "}");
    EXPECT_EQ(text(), "}");
    EXPECT_EQ(writer.depth, 0);
    EXPECT_EQ(diag.error_count, 1);
    EXPECT_EQ(console(), "Problem with brace nesting depth encountered\n");

    indent_less(writer);
    EXPECT_EQ(writer.depth, 0);
    EXPECT_EQ(diag.error_count, 2);
}

TEST_F(writer_fixture, indent_more_and_less_write_nothing_but_shape_new_lines) {
    indent_more(writer);
    indent_more(writer);
    EXPECT_EQ(text(), "");
    emit(writer, "a\nb");
    EXPECT_EQ(text(), "a\n        b");
    indent_less(writer);
    emit(writer, "\n");
    EXPECT_EQ(text(), "a\n        b\n    ");
    EXPECT_EQ(writer.column, 0);
}

TEST_F(writer_fixture, long_texts_are_written_whole) {
    const std::string path(5000, 'p');
    emit(writer, "; From: %s\n", path.c_str());
    EXPECT_EQ(text(), "; From: " + path + "\n");
}

TEST_F(writer_fixture, emit_text_takes_percent_signs_literally) {
    emit_text(writer, "*(%x20-7E) ");
    EXPECT_EQ(text(), "*(%x20-7E) ");
    EXPECT_EQ(writer.column, 11);
}

struct sink_fixture : ::testing::Test {
    run_context run;
    diagnostics diag;
    output_writer writer;
    std::filesystem::path folder;

    void SetUp() override {
        init_run_context(run);
        folder = std::filesystem::path(QRV_TEST_TMP) / "writer";
        std::filesystem::create_directories(folder);
    }
};

std::string read_file(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Many blocks to a file arrive whole and in order; a device takes them too.
TEST_F(sink_fixture, file_output_survives_many_block_writes_intact) {
    const auto path = folder / "big.txt";
    atomic_file file;
    ASSERT_TRUE(file.open(path.c_str()));
    sink_open_stream(writer, file.stream());
    std::string expected;
    for (int i = 0; i < 20000; ++i) {
        const std::string line = "line " + std::to_string(i) + "\n";
        emit_text(writer, line);
        expected += line;
    }
    sink_write(writer, "raw {\t}\n");
    expected += "raw {\t}\n";
    ASSERT_TRUE(sink_close(writer));
    ASSERT_TRUE(file.commit());
    EXPECT_GT(expected.size(), 3u * 64 * 1024);
    EXPECT_EQ(read_file(path), expected);

    atomic_file device;
    ASSERT_TRUE(device.open("/dev/null"));
    sink_open_stream(writer, device.stream());
    for (int i = 0; i < 20000; ++i) emit_text(writer, "to nowhere\n");
    EXPECT_TRUE(sink_close(writer));
    EXPECT_TRUE(device.commit());
}

TEST_F(sink_fixture, a_full_device_fails_at_the_latest_on_close) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    atomic_file file;
    ASSERT_TRUE(file.open("/dev/full"));
    sink_open_stream(writer, file.stream());
    emit_text(writer, "small text that stays in the buffer until the close\n");
    EXPECT_FALSE(sink_close(writer));

    // A block write that fails well before the close stops the writing at
    // once: nothing after it could reach the file.
    ASSERT_TRUE(file.open("/dev/full"));
    sink_open_stream(writer, file.stream());
    int lines = 0;
    EXPECT_THROW(for (; lines < 10000; ++lines) emit_text(writer, "0123456789abcdef\n"),
                 output_write_failed);
    EXPECT_LT(lines, 4000);  // about one 64 KB block
    EXPECT_TRUE(writer.failed);
    EXPECT_FALSE(sink_close(writer));
}

}  // namespace
}  // namespace qrv

namespace qrv {
namespace {

TEST(writer_memory_limit, writing_stops_at_the_limit_and_keeps_what_fit) {
    run_context run;
    diagnostics diag;
    init_run_context(run);
    std::string out;
    output_writer writer;
    writer.memory_limit = 10;
    sink_open_memory(writer, &out);
    emit_text(writer, "abcdef");
    EXPECT_THROW(emit_text(writer, "\tx"), output_limit_reached);  // the tab needs 14 blanks
    EXPECT_THROW(emit_text(writer, "ghijk"), output_limit_reached);
    emit_text(writer, "ghij");
    EXPECT_THROW(sink_write(writer, "k"), output_limit_reached);
    sink_close(writer);
    EXPECT_EQ(out, "abcdefghij");
}

}  // namespace
}  // namespace qrv
