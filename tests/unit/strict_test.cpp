// The strict grammar mode on models built by hand and through the command
// line: escaping, the modules of definitions, checks and writer on deep and
// cyclic models, on a small stack and in linear size.
#include <gtest/gtest.h>
#include <pthread.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "abnf/default_grammar.h"
#include "abnf/strict_grammar.h"
#include "cli_support.h"
#include "console_capture.h"
#include "test_model.h"

namespace qrv {
namespace {

std::size_t count_of(const std::string& haystack, const std::string& needle) {
    std::size_t n = 0;
    for (std::size_t at = haystack.find(needle); at != std::string::npos;
         at = haystack.find(needle, at + needle.size())) {
        ++n;
    }
    return n;
}

// Runs `f` on a thread with the stack a library caller may give us.
template <class F>
void on_small_stack(F f) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 256 * 1024);
    pthread_t thread;
    ASSERT_EQ(pthread_create(
                  &thread, &attr,
                  [](void* p) -> void* {
                      (*static_cast<F*>(p))();
                      return nullptr;
                  },
                  &f),
              0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
}

struct strict_fixture : ::testing::Test {
    run_context run;
    diagnostics diag;
    parse_state ps;
    testing::console_capture captured;

    static grammar_settings strict() {
        grammar_settings s;
        s.strict = true;
        return s;
    }

    void SetUp() override {
        init_run_context(run);
        diag.console = captured.file();
        run.input_path = "in.pvx";
        ps.run = &run;
        ps.diag = &diag;
        ps.module = new_module_record(run);
        ps.module->path = make_text(run, "in.pvx");
        run.modules = ps.module;
        setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
    }

    element* make(element_kind kind, const std::string& name) {
        element* e = new_element(ps);
        e->set_name(make_text(run, name));
        e->set_c_name(e->name());
        e->set_tag(e->name());
        e->kind = kind;
        return e;
    }
    element* top(element_kind kind, const std::string& name, element** tail) {
        element* e = make(kind, name);
        if (*tail == nullptr) {
            run.elements = e;
            ps.module->elements = e;
        } else {
            (*tail)->set_next(e);
        }
        *tail = e;
        return e;
    }
    static element* add(element* parent, element* m) {
        append_element(chain_head::members_of(*parent), m);
        return m;
    }
    static void repeat(element* e) {
        e->has_cardinality = true;
        e->cardinality_min = 0;
        e->cardinality_unbounded = true;
    }
};

TEST(strict_texts, quoted_strings_keep_letters_and_give_other_bytes_in_hex) {
    EXPECT_EQ(quoted_text("seq"), "\"seq\"");
    EXPECT_EQ(quoted_text("a\"b"), "\"a\" %x22 \"b\"");
    EXPECT_EQ(quoted_text("x{}y"), "\"x\" %x7B.7D \"y\"");
    EXPECT_EQ(quoted_text("caf\xc3\xa9"), "\"caf\" %xC3.A9");
    EXPECT_EQ(quoted_text("\x01"), "%x01");
    EXPECT_EQ(quoted_text("end of data"), "\"end of data\"");
    EXPECT_EQ(quoted_text(""), "\"\"");
}

TEST(strict_texts, comment_texts_cannot_end_their_line_or_move_the_layout) {
    EXPECT_EQ(comment_text("dir/in.pvx"), "dir/in.pvx");
    EXPECT_EQ(comment_text("a}b{\n\t\xc3\xbc\"%"), "a%x7Db%x7B%x0A%x09%xC3%xBC\"%");
}

TEST_F(strict_fixture, definitions_belong_to_the_module_whose_chain_they_stand_in) {
    element* tail = nullptr;
    element* a = top(ET_STRUCT, "A", &tail);
    module_record* other = new_module_record(run);
    ps.module->next = other;
    element* b = top(ET_STRUCT, "B", &tail);
    other->elements = b;
    element* c = top(ET_STRUCT, "C", &tail);
    c->set_module(ps.module);  // a resolved reference carries its target's module
    EXPECT_EQ(a->module(), ps.module);
    const std::vector<const module_record*> modules = declaring_modules(run);
    ASSERT_EQ(modules.size(), 3u);
    EXPECT_EQ(modules[0], ps.module);
    EXPECT_EQ(modules[1], other);
    EXPECT_EQ(modules[2], other);
}

TEST_F(strict_fixture, a_hundred_thousand_nested_bodies_on_a_small_stack_in_linear_size) {
    // Every other body repeats (a rule of its own), every third is a union.
    constexpr int depth = 100000;
    element* tail = nullptr;
    element* body = top(ET_STRUCT, "Deep", &tail);
    for (int i = 0; i < depth; ++i) {
        add(body, make(ET_INTEGER, "v"));
        element* inner = add(body, make(i % 3 == 2 ? ET_UNION : ET_STRUCT, "n"));
        if (i % 2 == 0) repeat(inner);
        body = inner;
    }
    add(body, make(ET_BOOLEAN, "leaf"));

    int errors = -1;
    std::string out;
    on_small_stack([&] {
        errors = check_strict_grammar(run, diag);
        write_abnf_to_memory(run, diag, strict(), out);
    });
    EXPECT_EQ(errors, 0);
    EXPECT_EQ(captured.text(), "");
    EXPECT_EQ(count_of(out, "\r\nn-n"), depth / 2 - 1);  // the own rules of the repeated bodies
    EXPECT_LT(out.size(), 400u * depth);
}

TEST_F(strict_fixture, a_cycle_through_twenty_thousand_required_references_is_reported_for_each) {
    constexpr int length = 20000;
    element* tail = nullptr;
    std::vector<element*> defs;
    for (int i = 0; i < length; ++i) {
        element* d = top(ET_STRUCT, "D" + std::to_string(i), &tail);
        d->set_line(i + 1);
        add(d, make(ET_BOOLEAN, "b"));
        defs.push_back(d);
    }
    for (int i = 0; i < length; ++i) {
        element* next = defs[static_cast<std::size_t>((i + 1) % length)];
        element* ref = add(defs[static_cast<std::size_t>(i)], make(ET_STRUCT, "next"));
        ref->set_link(next->name());
        ref->set_children(next->children());
    }
    int errors = -1;
    on_small_stack([&] { errors = check_strict_grammar(run, diag); });
    EXPECT_EQ(errors, length);
    const std::string console = captured.text();
    EXPECT_EQ(count_of(console, "no finite message exists"), static_cast<std::size_t>(length));
    EXPECT_NE(console.find("in.pvx(1) : error: D0 contains itself"), std::string::npos);

    // One optional link breaks the cycle.
    captured.take();
    element* last = defs.back()->children()->next();
    last->has_cardinality = true;
    last->cardinality_min = 0;
    last->cardinality_max = 1;
    EXPECT_EQ(check_strict_grammar(run, diag), 0);
}

TEST(strict_command_line, only_the_exact_option_selects_the_strict_grammar) {
    const auto dir = testing::scratch_dir("strict_option");
    testing::write_file(dir / "in.pvx", "struct M {\n    int<0..9> n [3];\n};\n");
    const std::string in = (dir / "in.pvx").string();
    const std::string strict = (dir / "strict.abnf").string();
    const std::string other = (dir / "other.abnf").string();
    EXPECT_EQ(testing::run_cli({"--strict-abnf", in, strict}).status, 0);
    // A misspelt option is refused, not taken for the default grammar.
    EXPECT_EQ(testing::run_cli({"--strict-abnfx", in, other}).status, 1);
    EXPECT_NE(testing::read_file(strict).find("( \"n\" EQUAL 1*1DIGIT \r\n"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(other));
    EXPECT_EQ(testing::run_cli({in, other}).status, 0);
    EXPECT_NE(testing::read_file(other).find("[ \"n\" EQUAL 1*1DIGIT \n"), std::string::npos);
}

TEST(strict_command_line, findings_of_the_checks_leave_no_file_and_no_report) {
    const auto dir = testing::scratch_dir("strict_findings");
    testing::write_file(dir / "in.pvx", "struct M {\n    int<0..9> n [3..1];\n};\nbool Unused;\n");
    const std::string out = (dir / "out.abnf").string();
    const testing::cli_result r =
        testing::run_cli({"--strict-abnf", (dir / "in.pvx").string(), out});
    EXPECT_EQ(r.status, 1);  // findings are counted errors
    EXPECT_NE(r.out.find("in.pvx(2) : error: Reversed cardinality [3..1] of n\n"),
              std::string::npos);
    EXPECT_EQ(r.out.find("has not been referenced"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST(strict_command_line, each_name_defined_again_in_its_module_is_reported_with_its_first) {
    // Thousands of names, each defined in two modules (no duplicate), and
    // three of them again in the first module.
    std::string text;
    std::vector<int> first_line(3000);
    int line = 0;
    for (const char* module : {"a", "b"}) {
        text += "pavex module " + std::string(module) + ";\n";
        ++line;
        for (int i = 0; i < 3000; ++i) {
            text += "struct N" + std::to_string(i) + " { bool v; };\n";
            if (module[0] == 'a') first_line[static_cast<std::size_t>(i)] = line + 1;
            ++line;
        }
        if (module[0] == 'a') {
            for (int i : {7, 1500, 7}) text += "struct N" + std::to_string(i) + " { bool w; };\n";
            line += 3;
        }
        text += "endmodule;\n";
        ++line;
    }
    const auto dir = testing::scratch_dir("strict_duplicates");
    testing::write_file(dir / "main.pvx", text);
    const testing::cli_result r = testing::run_cli({"--lint", (dir / "main.pvx").string()});
    EXPECT_EQ(count_of(r.out, "Duplicate definition"), 3u) << r.out;
    EXPECT_EQ(
        count_of(r.out, "Duplicate definition of N7 in module a; the first is at " +
                            (dir / "main.pvx").string() + ":" + std::to_string(first_line[7])),
        2u)
        << r.out;
    EXPECT_EQ(
        count_of(r.out, "Duplicate definition of N1500 in module a; the first is at " +
                            (dir / "main.pvx").string() + ":" + std::to_string(first_line[1500])),
        1u)
        << r.out;
}

}  // namespace
}  // namespace qrv
