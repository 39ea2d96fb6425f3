#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/run.h"
#include "cli_support.h"
#include "console_capture.h"
#include "frontend/source.h"
#include "model/model.h"
#include "test_model.h"

namespace qrv {
namespace {

// Parses one source text and keeps what the run printed.
struct parsed {
    std::unique_ptr<run_context> run = std::make_unique<run_context>();
    diagnostics diag;
    std::string out;
    int result = 0;

    explicit parsed(std::string_view source) {
        init_run_context(*run);
        testing::console_capture captured;
        diag.console = captured.file();
        result = read_source_text(*run, diag, "t.pvx", source, nullptr);
        out = captured.text();
    }

    module_record& module() { return *run->modules; }
    element* find(const char* path) { return find_element(*run, run->modules, path); }
};

std::vector<std::string> names(const element* chain) {
    std::vector<std::string> r;
    for (; chain != nullptr; chain = chain->next()) r.emplace_back(chain->name().view());
    return r;
}

int count(const std::string& haystack, const std::string& needle) {
    int n = 0;
    for (auto at = haystack.find(needle); at != std::string::npos;
         at = haystack.find(needle, at + 1)) {
        ++n;
    }
    return n;
}

TEST(parser, module_example_records) {
    parsed p(R"(import Common as cmn;
extends Base;
pavex module Orders;

const<OK> ok_word;
int<0..65535> port;

struct Order {
    int<1..999999> id as ?;
    ascii<1..20> customer;
    date placed;
    cmn::Amount total;
    Line items [1..*];
    [
    ascii<0..80> note;
    ]
};

struct Line {
    int<1..100> qty;
    unicode<1..40> text as desc;
};

plug
    bool urgent;
into Order;

endmodule;
)");
    EXPECT_EQ(p.out, "");
    EXPECT_EQ(p.result, 0);
    module_record& m = p.module();
    EXPECT_EQ(m.name, "Orders");
    EXPECT_EQ(m.path, "t.pvx");
    EXPECT_EQ(m.next, nullptr);  // the empty rest after endmodule leaves no record
    ASSERT_NE(m.imports, nullptr);
    EXPECT_EQ(m.imports->alias, "cmn");
    EXPECT_EQ(m.imports->module_name, "Common");
    ASSERT_NE(m.extends, nullptr);
    EXPECT_EQ(m.extends->alias, " ");
    EXPECT_EQ(m.extends->module_name, "Base");
    EXPECT_EQ(names(m.elements), (std::vector<std::string>{"ok_word", "port", "Order", "Line"}));

    element* ok = p.find("ok_word");
    EXPECT_EQ(ok->kind, ET_CONST);
    EXPECT_EQ(ok->const_value(), "OK");
    element* port = p.find("port");
    EXPECT_TRUE(port->constrained);
    EXPECT_EQ(port->max, 65535u);
    EXPECT_EQ(port->line(), 6);

    element* order = p.find("Order");
    EXPECT_EQ(names(order->children()),
              (std::vector<std::string>{"id", "customer", "placed", "total", "items", "note"}));
    EXPECT_TRUE(p.find("Order.id")->tag().empty());
    EXPECT_EQ(p.find("Order.customer")->tag(), "customer");
    EXPECT_FALSE(p.find("Order.customer")->has_cardinality);
    element* total = p.find("Order.total");
    EXPECT_EQ(total->kind, ET_LINK);
    EXPECT_EQ(total->link(), "cmn::Amount");
    element* items = p.find("Order.items");
    EXPECT_EQ(items->link(), "Line");
    EXPECT_EQ(items->cardinality_min, 1u);
    EXPECT_TRUE(items->cardinality_unbounded);
    element* note = p.find("Order.note");
    EXPECT_TRUE(note->has_cardinality);
    EXPECT_EQ(note->cardinality_min, 0u);
    EXPECT_EQ(note->cardinality_max, 1u);
    EXPECT_FALSE(note->cardinality_unbounded);
    EXPECT_EQ(p.find("Line.text")->tag(), "desc");
    EXPECT_EQ(p.find("Line.text")->kind, ET_UNICODE);

    ASSERT_NE(m.plugs, nullptr);
    EXPECT_EQ(m.plugs->next, nullptr);
    EXPECT_EQ(names(m.plugs->elements), std::vector<std::string>{"urgent"});
    ASSERT_NE(m.plugs->into, nullptr);
    EXPECT_EQ(m.plugs->into->target, "Order");
    EXPECT_EQ(m.plugs->into->line, 26);
    EXPECT_EQ(m.plugs->into->next, nullptr);
}

TEST(parser, cardinality_values) {
    parsed p(
        "int<0..9> a [3]; int<0..9> b [0..*]; int<0..9> c [+]; int<0..9> d [?];\n"
        "int<0..9> e [*]; int<0..9> f [5..2]; int<0..9> g [0x10..32b]; int<0..9> h [2..*];\n"
        "struct S { int<0..9> x [+]; [ int<0..9> y [+]; int<0..9> z [2..5]; int<0..9> w; ] };");
    EXPECT_EQ(p.out, "");
    struct expect {
        const char* path;
        unsigned min;
        long long max;  // -1: unbounded
    };
    for (const expect& x : {expect{"a", 3, 3},
                            {"b", 0, -1},
                            {"c", 1, -1},
                            {"d", 0, 1},
                            {"e", 0, -1},
                            {"f", 5, 2},
                            {"g", 16, 4294967295},
                            {"h", 2, -1},
                            {"S.x", 1, -1},
                            {"S.y", 0, -1},
                            {"S.z", 0, 5},
                            {"S.w", 0, 1}}) {
        element* e = p.find(x.path);
        ASSERT_NE(e, nullptr) << x.path;
        EXPECT_TRUE(e->has_cardinality) << x.path;
        EXPECT_EQ(e->cardinality_min, x.min) << x.path;
        EXPECT_EQ(e->cardinality_unbounded, x.max < 0) << x.path;
        if (x.max >= 0) {
            EXPECT_EQ(e->cardinality_max, static_cast<unsigned>(x.max)) << x.path;
        }
    }
}

TEST(parser, constraints_and_names) {
    parsed p(
        "int<5> a; int<-5..5> b; int<8b> c; int<0..100z> d; int<> e; float f; float<double> g;\n"
        "ascii<1..10 /[a-z\\/]*/> s; embedded<(any text)> em; bytes<16> by; int<0..1> max-len;\n"
        "unquoted-ascii</x[/]y/> u;");
    EXPECT_EQ(p.out, "");
    element* a = p.find("a");
    EXPECT_TRUE(a->constrained);
    EXPECT_EQ(a->min, 5u);
    EXPECT_EQ(a->max, 5u);
    element* b = p.find("b");
    EXPECT_TRUE(b->min_negative);
    EXPECT_FALSE(b->max_negative);
    EXPECT_EQ(b->min, 5u);
    EXPECT_EQ(p.find("c")->max, 255u);
    EXPECT_TRUE(p.find("d")->z_suffix);
    EXPECT_FALSE(p.find("e")->constrained);
    EXPECT_EQ(p.find("f")->kind, ET_SINGLE);
    EXPECT_EQ(p.find("g")->kind, ET_DOUBLE);
    element* s = p.find("s");
    EXPECT_EQ(s->max, 10u);
    // A pattern ends at its own slash: an escaped one and one in a class do
    // not end it (it is read, not kept: nothing enforces it).
    EXPECT_EQ(p.find("u")->kind, ET_UNQUOTED_ASCII);
    EXPECT_EQ(p.find("em")->kind, ET_EMBEDDED);
    EXPECT_EQ(p.find("by")->min, 16u);
    element* ml = p.find("max-len");
    EXPECT_EQ(ml->tag(), "max-len");
    EXPECT_EQ(ml->c_name(), "max_len");
}

TEST(parser, a_long_pattern_is_read_to_its_end) {
    parsed p("ascii</" + std::string(300, 'q') + "/> s; bool t;");
    EXPECT_EQ(p.out, "");
    EXPECT_EQ(p.find("s")->kind, ET_ASCII);
    EXPECT_EQ(p.find("t")->kind, ET_BOOLEAN);
}

TEST(parser, length_limits) {
    const std::string n63(63, 'n');
    const std::string c64(64, 'c');
    parsed p("const<" + std::string(63, 'c') + "> " + n63 + ";\nconst<" + c64 + "> k;\nbool " +
             n63 + "x ok;\nbool t as " + std::string(64, 't') + " u;");
    EXPECT_EQ(p.out, "t.pvx(2) : error: Const name exceeds 63 characters: " + c64 +
                         "\nt.pvx(3) : error: Identifier name exceeds 63 characters: " + n63 +
                         "x\nt.pvx(4) : error: Identifier name exceeds 63 characters: " +
                         std::string(64, 't') + "\n");
    EXPECT_EQ(p.find(n63.c_str())->const_value().size(), 63u);
    EXPECT_TRUE(p.find("k")->const_value().empty());
    EXPECT_NE(p.find("ok"), nullptr);
    EXPECT_EQ(p.find("t")->tag(), "u");
}

TEST(parser, tags_and_combi_members) {
    parsed p(
        "bool a as ?; bool b as ?x; bool c as x-y;\n"
        "combi P { int<0..9> i; const<X> k; unquoted-ascii<4> u; };");
    EXPECT_EQ(p.out, "");
    EXPECT_TRUE(p.find("a")->tag().empty());
    EXPECT_EQ(p.find("b")->tag(), "x");
    EXPECT_EQ(p.find("c")->tag(), "x-y");
    for (element* m = p.find("P")->children(); m != nullptr; m = m->next()) {
        EXPECT_TRUE(m->tag().empty()) << m->name().view();
    }
}

TEST(parser, modifiers_set_only_plugin) {
    parsed p("int<0..1> x plugin pluggable smark emark exec; int<0..1> y [2] exec;");
    EXPECT_EQ(p.out, "");
    EXPECT_TRUE(p.find("x")->plugin);
    EXPECT_FALSE(p.find("x")->has_cardinality);
    EXPECT_FALSE(p.find("y")->plugin);
}

TEST(parser, lists_and_plugs_in_their_orders) {
    parsed p(
        "import A; import B as b; extends C; extends D as d;\n"
        "plug bool p1; into X,\n Y;\n"
        "plug bool p2 as t; into Z;\n"
        "struct S { bool f; } { bool g; };");
    EXPECT_EQ(p.out, "");
    module_record& m = p.module();
    EXPECT_EQ(m.imports->module_name, "B");
    EXPECT_EQ(m.imports->alias, "b");
    EXPECT_EQ(m.imports->next->module_name, "A");
    EXPECT_EQ(m.extends->module_name, "D");
    EXPECT_EQ(m.extends->next->alias, " ");
    plug_record* first = m.plugs;
    EXPECT_EQ(first->into->target, "Y");
    EXPECT_EQ(first->into->line, 3);
    EXPECT_EQ(first->into->next->target, "X");
    EXPECT_EQ(first->into->next->line, 2);
    EXPECT_EQ(first->next->into->target, "Z");
    EXPECT_EQ(first->next->elements->tag(), "t");
    // Plug bodies keep the ordinary defaults.
    EXPECT_FALSE(first->elements->has_cardinality);
    EXPECT_FALSE(first->elements->plugin);
    // A second member body continues the member list.
    EXPECT_EQ(names(p.find("S")->children()), (std::vector<std::string>{"f", "g"}));
}

TEST(parser, rejected_reference_stays_in_the_body) {
    parsed p("9abc x;");
    EXPECT_EQ(p.out, "t.pvx(1) : error: Illegal reference name: 9\n");
    EXPECT_EQ(p.result, 1);
    element* e = p.module().elements;
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->kind, ET_LINK);
    EXPECT_TRUE(e->link().empty());
    EXPECT_EQ(e->name(), "___QRV_UnInitialised___");
    EXPECT_EQ(e->next()->link(), "abc");
    EXPECT_EQ(e->next()->name(), "x");
}

std::string nested_structs(int levels) {
    std::string s;
    for (int i = 0; i < levels; ++i) s += "struct a {\n";
    for (int i = 0; i < levels; ++i) s += "};\n";
    return s;
}

TEST(parser, nesting_limit_is_exact) {
    parsed ok(nested_structs(999));  // the innermost body is at depth 1000
    EXPECT_EQ(ok.out, "");
    parsed deep(nested_structs(1000));
    EXPECT_EQ(deep.out, "t.pvx(1000) : error: Nesting exceeds 1000 levels\n");
    // The skipped body leaves nothing behind; the declaration still ends.
    element* e = deep.module().elements;
    for (int i = 1; i < 1000; ++i) e = e->children();
    EXPECT_EQ(e->children(), nullptr);
    EXPECT_EQ(e->name(), "a");
}

TEST(parser, deeply_nested_file_gives_one_error_through_the_program) {
    const auto dir = std::filesystem::path(QRV_TEST_TMP) / "parser_deep";
    std::filesystem::create_directories(dir);
    const std::string in = (dir / "deep.pvx").string();
    const std::string out = (dir / "deep.abnf").string();
    {
        std::ofstream f(in, std::ios::binary);
        for (int i = 0; i < 100000; ++i) f << "struct a { ";
        for (int i = 0; i < 100000; ++i) f << "}; ";
    }
    const testing::cli_result r = testing::run_cli({in, out});
    const int status = r.status;
    const std::string& printed = r.out;

    EXPECT_EQ(status, 1);  // a run whose sources have errors fails
    EXPECT_EQ(printed, "pvx2abnf version 0.91\n\n" + in +
                           "(1) : error: Nesting exceeds 1000 levels\n1 error(s), 0 warning(s)\n");
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST(parser, deeply_nested_plugs_stop_at_the_limit) {
    std::string source = "bool z;\n";
    for (int i = 0; i < 100000; ++i) source += "plug ";
    source += "bool a as a;\n";
    parsed p(source);
    EXPECT_EQ(count(p.out, "Nesting exceeds 1000 levels"), 1);
    EXPECT_EQ(count(p.out, "Illegal nested plug extension"), 999);
    // The plugs that opened a body are recorded; the one that would not fit is not.
    ASSERT_NE(p.run->modules, nullptr);
    int plugs = 0;
    for (plug_record* r = p.module().plugs; r != nullptr; r = r->next) ++plugs;
    EXPECT_EQ(plugs, 999);
}

TEST(parser, premature_end_counts_per_open_declaration) {
    EXPECT_EQ(count(parsed("struct S { int<0..1> a;").out, "premature end of file"), 2);
    EXPECT_EQ(count(parsed("struct S { struct T { bool b;").out, "premature end of file"), 3);
    EXPECT_EQ(count(parsed("plug bool a as a;").out, "premature end of file"), 1);
    EXPECT_EQ(count(parsed("bool a").out, "premature end of file"), 1);
}

}  // namespace
}  // namespace qrv
