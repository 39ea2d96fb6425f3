#include "frontend/source.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "model/model.h"
#include "test_model.h"

namespace qrv {
namespace {

// A run whose console is kept in memory.
struct source_fixture : ::testing::Test {
    std::unique_ptr<run_context> run = std::make_unique<run_context>();
    diagnostics diag;
    char* buffer = nullptr;
    std::size_t size = 0;

    void SetUp() override {
        init_run_context(*run);
        diag.console = open_memstream(&buffer, &size);
    }
    void TearDown() override {
        std::fclose(diag.console);
        std::free(buffer);
    }
    std::string out() {
        std::fflush(diag.console);
        return std::string(buffer, size);
    }
    int read(std::string_view source, const char* directives = nullptr,
             const char* path = "t.pvx") {
        if (directives == nullptr) return read_source_text(*run, diag, path, source, nullptr);
        const std::string_view d(directives);
        return read_source_text(*run, diag, path, source, &d);
    }
    void read_with(std::string_view source, std::string_view directives) {
        read_source_text(*run, diag, "t.pvx", source, &directives);
    }
    int module_count() {
        int n = 0;
        for (module_record* m = run->modules; m != nullptr; m = m->next) ++n;
        return n;
    }
};

TEST_F(source_fixture, leading_text_ends_after_the_marker_line) {
    read("Some text\nmore text\n  pavex*/ rest of line ignored\nint x;\n");
    EXPECT_EQ(out(), "t.pvx(1) : error: Integer 'x' missing constraint\n");
}

TEST_F(source_fixture, without_marker_the_whole_file_is_read) {
    read("bool a;\n\nint x;\n");
    EXPECT_EQ(out(), "t.pvx(3) : error: Integer 'x' missing constraint\n");
}

TEST_F(source_fixture, marked_comment_closing_at_line_start_hides_what_precedes) {
    read("bool a;\n/** hidden\npavex*/\nint x;\n");
    EXPECT_EQ(out(), "t.pvx(1) : error: Integer 'x' missing constraint\n");
    ASSERT_EQ(module_count(), 1);
    EXPECT_EQ(run->modules->elements->next(), nullptr);  // `a` was leading text
}

TEST_F(source_fixture, slashes_around_a_marker_do_not_hide_it) {
    read("a/b //c/ x pavex*/\n/ pavex*//\n\tpavex*//*/\nint x;\n");
    EXPECT_EQ(out(), "t.pvx(1) : error: Integer 'x' missing constraint\n");
}

TEST_F(source_fixture, long_marker_line_is_skipped_whole) {
    read("pavex*/" + std::string(600, 'x') + "\nint x;\n");
    EXPECT_EQ(out(), "t.pvx(1) : error: Integer 'x' missing constraint\n");
}

TEST_F(source_fixture, marker_in_a_later_piece_of_a_long_line_counts) {
    // Lines are examined 255 characters at a time.
    read(std::string(255, ' ') + "pavex*/\nint x;\n");
    EXPECT_EQ(out(), "t.pvx(1) : error: Integer 'x' missing constraint\n");
}

TEST_F(source_fixture, modules_restart_line_numbers_and_empty_ones_vanish) {
    const int result = read(
        "pavex module A;\nbool a;\nendmodule\n;\nint y;\nendmodule ;\n"
        "pavex module Empty;\nendmodule;\npavex module C; bool c;\n");
    EXPECT_EQ(out(), "t.pvx(2) : error: Integer 'y' missing constraint\n");
    EXPECT_EQ(result, 0);  // the last module had no error
    ASSERT_EQ(module_count(), 3);
    EXPECT_EQ(run->modules->name, "A");
    EXPECT_TRUE(run->modules->next->name.empty());
    EXPECT_EQ(run->modules->next->elements->name(), "y");
    EXPECT_EQ(run->modules->next->next->name, "C");
    EXPECT_EQ(run->modules->next->path, "t.pvx");
}

TEST_F(source_fixture, result_is_the_error_count_of_the_last_module) {
    EXPECT_EQ(read("bool a; endmodule; int b; int c;"), 2);
}

TEST_F(source_fixture, directive_flags_and_warnings) {
    read("pavex module A;\nstruct Msg { struct hdr { bool id; }; };\n",
         "# comment\n"
         "   # indented comment\n"
         "\n"
         "Msg.hdr.id list odd dynamic\n"
         "Msg.nope list dynamic\n"
         "Msg\n"
         "Msg #list\n");
    EXPECT_EQ(out(),
              "t.pvxcfg(4) : warning: Unrecognised configuration directive: odd\n"
              "t.pvxcfg(5) : warning: Unable to locate item: Msg.nope\n"
              "t.pvxcfg(5) : warning: Unable to locate item: Msg.nope\n"
              "t.pvxcfg(6) : warning: Incomplete directive specification: Msg\n"
              "t.pvxcfg(7) : warning: Unrecognised configuration directive: #list\n");
    element* id = find_element(*run, run->modules, "Msg.hdr.id");
    EXPECT_TRUE(id->listed);
    EXPECT_TRUE(id->dynamic);
    EXPECT_FALSE(find_element(*run, run->modules, "Msg")->listed);
    EXPECT_EQ(diag.warning_count, 5);
    EXPECT_EQ(diag.error_count, 0);
}

TEST_F(source_fixture, module_lines_choose_the_current_module) {
    read_source_text(*run, diag, "other.pvx", "pavex module B; bool z;", nullptr);
    read("pavex module A; bool a; endmodule; pavex module B; bool b;",
         "b list\nmodule B\nb list\n-prefix pB\n-prefix pB2\nmodule A\n-prefix 9x\n"
         "-prefix _y\n-prefix\n");
    EXPECT_EQ(out(), "t.pvxcfg(1) : warning: Unable to locate item: b\n");
    module_record* a = run->modules->next;
    module_record* b = a->next;
    EXPECT_TRUE(find_element(*run, b, "b")->listed);
    EXPECT_FALSE(run->modules->has_prefix);  // B of the other file is untouched
    EXPECT_TRUE(b->has_prefix);
    EXPECT_EQ(b->prefix, "pB2");
    EXPECT_FALSE(a->has_prefix);
}

TEST_F(source_fixture, many_files_keep_their_order_and_their_own_directives) {
    // Every file has modules of the same names; its directive file reaches
    // its own. The modules are appended where the last file left the list,
    // and a list replaced in between is appended to as it now stands.
    constexpr int files = 300;
    for (int i = 0; i < files; ++i) {
        const std::string path = "f" + std::to_string(i) + ".pvx";
        const std::string directives = "module B\n-prefix p" + std::to_string(i) + "\nb list\n";
        const std::string_view d(directives);
        read_source_text(*run, diag, path.c_str(),
                         "pavex module A; bool a; endmodule; pavex module B; bool b;",
                         i % 3 == 0 ? &d : nullptr);
    }
    EXPECT_EQ(out(), "");
    ASSERT_EQ(module_count(), 2 * files);
    int i = 0;
    for (module_record* m = run->modules; m != nullptr; m = m->next->next, ++i) {
        module_record* b = m->next;
        EXPECT_EQ(m->name, "A");
        EXPECT_EQ(b->name, "B");
        EXPECT_EQ(b->path.view(), "f" + std::to_string(i) + ".pvx");
        EXPECT_FALSE(m->has_prefix);
        EXPECT_EQ(b->has_prefix, i % 3 == 0) << "file " << i;
        if (b->has_prefix) {
            EXPECT_EQ(b->prefix.view(), "p" + std::to_string(i));
        }
        EXPECT_EQ(b->elements->listed, i % 3 == 0) << "file " << i;
    }

    module_record* kept = run->modules->next;  // a list of its own from here
    kept->next = nullptr;
    run->modules = kept;
    read_source_text(*run, diag, "late.pvx", "pavex module L; bool l;", nullptr);
    ASSERT_EQ(module_count(), 2);
    EXPECT_EQ(run->modules->next->name, "L");
    run->modules = nullptr;
    read_source_text(*run, diag, "alone.pvx", "pavex module Z; bool z;", nullptr);
    ASSERT_EQ(module_count(), 1);
    EXPECT_EQ(run->modules->name, "Z");
}

TEST_F(source_fixture, unknown_module_stops_the_directive_file) {
    read_source_text(*run, diag, "other.pvx", "pavex module B; bool z;", nullptr);
    read("pavex module A; bool a;", "module B\na list\n");
    EXPECT_EQ(out(), "t.pvxcfg(1) : error: Unable to locate module: B\n");
    EXPECT_FALSE(find_element(*run, run->modules->next, "a")->listed);
}

TEST_F(source_fixture, module_line_without_name_matches_nothing) {
    // Even a module without a module statement (empty name) is not chosen.
    read("bool a;", "module\na list\n");
    EXPECT_EQ(out(), "t.pvxcfg(1) : error: Unable to locate module: \n");
    EXPECT_FALSE(run->modules->elements->listed);
}

TEST_F(source_fixture, without_modules_items_are_not_found_and_prefix_is_ignored) {
    read("leading\npavex*/\n", "-prefix p\nx list\n");
    EXPECT_EQ(run->modules, nullptr);
    EXPECT_EQ(out(), "t.pvxcfg(2) : warning: Unable to locate item: x\n");
}

TEST_F(source_fixture, a_long_directive_line_is_one_directive_at_its_own_line) {
    // The tail of a long comment is no directive, a long line keeps the line
    // numbers of the lines after it, and a path beyond 255 characters names
    // nothing even where its names would.
    const std::string deep_path = "a" + std::string(255, '.');
    read("bool a;", ("#" + std::string(300, '-') + " module nosuch\n" + std::string(255, ' ') +
                     "a odd\nb\n" + deep_path + " list\n")
                        .c_str());
    EXPECT_EQ(out(),
              "t.pvxcfg(2) : warning: Unrecognised configuration directive: odd\n"
              "t.pvxcfg(3) : warning: Incomplete directive specification: b\n"
              "t.pvxcfg(4) : warning: Unable to locate item: " +
                  deep_path + "\n");
}

TEST_F(source_fixture, a_zero_byte_ends_the_text_of_a_directive_line) {
    const std::string directives("module M\0 junk\na\0 odd\na list\0dynamic\n", 38);
    read_with("pavex module M; bool a;", directives);
    EXPECT_EQ(out(), "t.pvxcfg(2) : warning: Incomplete directive specification: a\n");
    EXPECT_TRUE(run->modules->elements->listed);
    EXPECT_FALSE(run->modules->elements->dynamic);
}

TEST_F(source_fixture, unreadable_sources_and_directive_files) {
    const auto dir = std::filesystem::path(QRV_TEST_TMP) / "source_files";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir / "folder.pvx");
    const std::string missing = (dir / "missing.pvx").string();
    const std::string folder = (dir / "folder.pvx").string();
    EXPECT_EQ(read_source_file(*run, diag, missing.c_str()), 1);
    EXPECT_EQ(read_source_file(*run, diag, folder.c_str()), 1);
    EXPECT_EQ(out(), "error: Unable to open file: " + missing +
                         "\nerror: Unable to open file: " + folder + "\n");
    EXPECT_EQ(diag.error_count, 2);

    // A directive file beside a readable source is applied; a folder is absent.
    const std::string good = (dir / "good.pvx").string();
    std::ofstream(good) << "bool a;\n";
    std::ofstream(good + "cfg") << "a list\n";
    EXPECT_EQ(read_source_file(*run, diag, good.c_str()), 0);
    EXPECT_TRUE(run->modules->elements->listed);
    const std::string plain = (dir / "plain.pvx").string();
    std::ofstream(plain) << "bool b;\n";
    std::filesystem::create_directories(plain + "cfg");
    EXPECT_EQ(read_source_file(*run, diag, plain.c_str()), 0);
    EXPECT_EQ(diag.warning_count, 0);
}

// What a file holds must read as it does from memory wherever a marker, a
// marker line's end or a token stands, also at and across the places where
// a megabyte of the file ends.
TEST(source_blocks, a_file_reads_as_the_same_text_in_memory) {
    constexpr std::size_t block = std::size_t{1} << 20;
    // Comment lines up to `size` bytes, ending in a line feed.
    auto filler = [](std::size_t size) {
        std::string out;
        while (out.size() + 4 <= size) {
            const std::size_t line = std::min<std::size_t>(size - out.size(), 100);
            out += "//" + std::string(line - 3, 'f') + "\n";
        }
        return out + std::string(size - out.size(), '\n');
    };
    const std::string decls = "bool a;\nint x;\nstruct S { bool " + std::string(60, 'n') + "; };\n";
    const std::vector<std::string> sources = {
        filler(block * 2 + 17) + decls,
        filler(block - 3) + "  pavex*/\n" + decls,  // blanks before, marker after
        filler(block - 4) + " x pavex*/\n" + decls + "pavex*/\n" + decls,  // not at a line start
        filler(block - 20) + "pavex*/" + std::string(40, 'z') + "\n" + decls,  // its end later
        filler(block - 2) + "\t\tpavex*/ the rest",  // at the end, no line feed
        filler(2 * block - 12) + "pavex*/\n" + filler(block - 30) + decls,  // a token across
        decls + filler(block + 5) + "  pavex*/",
        // Small files, some near the size of a small page.
        "",
        "bool a;",
        filler(4090) + decls,
        filler(4095),
        "pavex*/\n" + filler(5000) + decls,
    };
    const auto dir = std::filesystem::path(QRV_TEST_TMP) / "source_blocks";
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "t.pvx").string();
    for (std::size_t i = 0; i < sources.size(); ++i) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << sources[i];
        std::string from_file, from_memory;
        for (bool file : {true, false}) {
            run_context run;
            diagnostics diag;
            init_run_context(run);
            char* buffer = nullptr;
            std::size_t size = 0;
            diag.console = open_memstream(&buffer, &size);
            const std::int64_t result =
                file ? read_source_file(run, diag, path.c_str())
                     : read_source_text(run, diag, path.c_str(), sources[i], nullptr);
            std::fclose(diag.console);
            std::string seen = std::string(buffer, size) + std::to_string(result);
            std::free(buffer);
            for (const element* e = run.modules != nullptr ? run.modules->elements : nullptr;
                 e != nullptr; e = e->next()) {
                seen += " " + std::string(e->name().view()) + "@" + std::to_string(e->line());
            }
            (file ? from_file : from_memory) = seen;
        }
        EXPECT_EQ(from_file, from_memory) << "source " << i;
    }
}

}  // namespace
}  // namespace qrv
