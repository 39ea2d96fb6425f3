// The documentation pages: the comment blocks the front end keeps, the
// reading and layout of the railroad diagrams, the bounds column, and whole
// documentation runs whose pages must hold together (every link finds its
// id, ids are unique, a failed run leaves the old page).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <string>

#include "cli_support.h"
#include "docpages/railroad.h"
#include "docpages/value_text.h"
#include "frontend/doc_comments.h"
#include "frontend/source.h"
#include "messages/checker.h"
#include "messages/example_writer.h"
#include "model/model.h"
#include "postparse/post_parse.h"

namespace qrv {
namespace {

// ---- comment blocks ------------------------------------------------------

TEST(doc_comments, BlocksGoToTheLineOfTheNextToken) {
    const std::string src =
        "// one\n"                    // 1
        "/// two\n"                   // 2
        "struct A {\n"                // 3
        "  int x; // tail\n"          // 4
        "  int y;\n"                  // 5
        "  /* block\n"                // 6
        "   * starred */\n"           // 7
        "  int z;\n"                  // 8
        "  // apart\n"                // 9
        "\n"                          // 10
        "  int w;\n"                  // 11
        "  /* same line */ int v;\n"  // 12
        "};\n";
    const auto blocks = comment_blocks(src, 0, 1);
    ASSERT_EQ(blocks.count(3), 1u);
    EXPECT_EQ(blocks.at(3), "one\ntwo");
    EXPECT_EQ(blocks.count(5), 0u) << "a comment after code belongs to that code";
    ASSERT_EQ(blocks.count(8), 1u);
    EXPECT_EQ(blocks.at(8), "block\nstarred");
    EXPECT_EQ(blocks.count(11), 0u) << "an empty line parts a comment from what follows";
    ASSERT_EQ(blocks.count(12), 1u);
    EXPECT_EQ(blocks.at(12), "same line");
    EXPECT_EQ(blocks.size(), 3u);
}

TEST(doc_comments, NestingCarriageReturnsAndWhereTheTextStarts) {
    // Lines count from `first_line` at `start`; what stands before is not read.
    const std::string lead = "// before the start\nx\n";
    const std::string src = lead +
                            "/* a /* nested */ b */\r\n"
                            "// c\r\n"
                            "//\r\n"
                            "// d\r\n"
                            "bool e;\r\n";
    const auto blocks = comment_blocks(src, lead.size(), 3);
    ASSERT_EQ(blocks.size(), 1u);
    ASSERT_EQ(blocks.count(7), 1u);
    EXPECT_EQ(blocks.at(7), "a /* nested */ b\nc\n\nd");
}

TEST(doc_comments, KeptOnlyWhenAskedFor) {
    const char* source =
        "Leading text.\n"
        "pavex*/\n"
        "pavex module m;\n"
        "// Of A.\n"
        "struct A {\n"
        "    // Of x.\n"
        "    int<0..9> x;\n"
        "};\n";
    for (const bool asked : {false, true}) {
        auto run = std::make_unique<run_context>();
        init_run_context(*run);
        if (asked) run->docs = std::make_unique<doc_notes>();
        diagnostics diag;
        diag.console = std::tmpfile();
        read_source_text(*run, diag, "t.pvx", source, nullptr);
        std::fclose(diag.console);
        ASSERT_NE(run->modules, nullptr);
        const element* a = run->modules->elements;
        ASSERT_NE(a, nullptr);
        if (!asked) {
            EXPECT_EQ(run->docs, nullptr);
            continue;
        }
        const doc_notes& docs = *run->docs;
        ASSERT_EQ(docs.file_texts.size(), 1u);
        EXPECT_EQ(docs.file_texts[0].second, "Leading text.");
        ASSERT_EQ(docs.comments.count(a->id), 1u);
        EXPECT_EQ(docs.comments.at(a->id), "Of A.");
        ASSERT_NE(a->children(), nullptr);
        ASSERT_EQ(docs.comments.count(a->children()->id), 1u);
        EXPECT_EQ(docs.comments.at(a->children()->id), "Of x.");
        free_model(*run);
    }
}

// ---- reading ABNF ----------------------------------------------------------

TEST(railroad_reading, RulesCommentsContinuationsAndIncrements) {
    const auto rules = read_abnf_rules(
        "a = \"x;y\" b ; a comment\n"
        "    / c   ; more\n"
        "\n"
        "b = <prose ; not a comment>\n"
        "a =/ d\n");
    ASSERT_EQ(rules.size(), 2u);
    EXPECT_EQ(rules[0].name, "a");
    const rr_node a = parse_abnf(rules[0].definition);
    ASSERT_EQ(a.what, rr_node::kind::choice);
    ASSERT_EQ(a.items.size(), 3u);
    EXPECT_EQ(a.items[0].what, rr_node::kind::sequence);
    EXPECT_EQ(a.items[0].items[0].text, "\"x;y\"");
    EXPECT_EQ(a.items[2].text, "d");
    const rr_node b = parse_abnf(rules[1].definition);
    EXPECT_EQ(b.what, rr_node::kind::terminal);
    EXPECT_EQ(b.text, "<prose ; not a comment>");
}

TEST(railroad_reading, RepetitionsGroupsAndValues) {
    struct repetition {
        const char* text;
        std::uint32_t min, max;
        bool unbounded;
    };
    for (const repetition& r : {repetition{"3x", 3, 3, false},
                                {"*x", 0, 0, true},
                                {"2*x", 2, 0, true},
                                {"*4x", 0, 4, false},
                                {"1*10x", 1, 10, false},
                                {"[ x ]", 0, 1, false},
                                {"0( x )", 0, 0, false}}) {
        const rr_node n = parse_abnf(r.text);
        ASSERT_EQ(n.what, rr_node::kind::repeat) << r.text;
        EXPECT_EQ(n.min, r.min) << r.text;
        EXPECT_EQ(n.unbounded, r.unbounded) << r.text;
        if (!r.unbounded) {
            EXPECT_EQ(n.max, r.max) << r.text;
        }
        ASSERT_EQ(n.items.size(), 1u);
        EXPECT_EQ(n.items[0].text, "x") << r.text;
    }
    EXPECT_EQ(parse_abnf("1x").what, rr_node::kind::rule);
    EXPECT_EQ(parse_abnf("( x )").what, rr_node::kind::rule);

    // A slash in a string is no alternative; values stand whole.
    const rr_node n = parse_abnf("\"a/b\" %x41-5A.30 / %s\"Ab\" ( c / d ) e");
    ASSERT_EQ(n.what, rr_node::kind::choice);
    ASSERT_EQ(n.items.size(), 2u);
    ASSERT_EQ(n.items[0].items.size(), 2u);
    EXPECT_EQ(n.items[0].items[1].text, "%x41-5A.30");
    ASSERT_EQ(n.items[1].items.size(), 3u);
    EXPECT_EQ(n.items[1].items[0].text, "%s\"Ab\"");
    EXPECT_EQ(n.items[1].items[1].what, rr_node::kind::choice);
}

TEST(railroad_reading, StrayMarksAndUnfinishedTextEndTheReading) {
    for (const char* text : {"a ) b", "]", "( a", "\"open", "[ [ a", "%", "*", "a / / b", ""}) {
        const rr_node n = parse_abnf(text);
        const std::string svg = railroad_svg(n, [](std::string_view) { return std::string(); });
        EXPECT_EQ(svg.rfind("<svg", 0), 0u) << text;
    }
}

// Every text of `s` between `open` and the next `close` (the tag itself
// when `open` begins it: "<rect" gives whole tags).
std::vector<std::string> pieces(const std::string& s, const std::string& open,
                                const std::string& close) {
    std::vector<std::string> out;
    const bool whole = open[0] == '<';
    for (std::size_t at = s.find(open); at != std::string::npos; at = s.find(open, at + 1)) {
        const std::size_t from = whole ? at : at + open.size();
        const std::size_t end = s.find(close, at + open.size());
        if (end == std::string::npos) break;
        out.push_back(s.substr(from, end - from + (whole ? close.size() : 0)));
    }
    return out;
}

// ---- layout ----------------------------------------------------------------

// A random expression of a few levels.
rr_node random_node(std::mt19937& g, int depth) {
    rr_node n;
    const int pick = depth <= 0 ? static_cast<int>(g() % 2) : static_cast<int>(g() % 5);
    if (pick == 0) {
        n.what = rr_node::kind::terminal;
        n.text = "\"" + std::string(1 + g() % 12, 'x') + "\"";
    } else if (pick == 1) {
        n.what = rr_node::kind::rule;
        n.text = "r" + std::to_string(g() % 5);
    } else {
        n.what = pick == 2   ? rr_node::kind::sequence
                 : pick == 3 ? rr_node::kind::choice
                             : rr_node::kind::repeat;
        const int count = n.what == rr_node::kind::repeat ? 1 : 1 + static_cast<int>(g() % 6);
        for (int i = 0; i < count; ++i) n.items.push_back(random_node(g, depth - 1));
        n.min = static_cast<std::uint32_t>(g() % 3);
        n.max = n.min + static_cast<std::uint32_t>(g() % 3);
        n.unbounded = g() % 2 == 0;
    }
    return n;
}

std::size_t boxes_in(const rr_node& n) {
    if (n.what == rr_node::kind::terminal || n.what == rr_node::kind::rule) return 1;
    std::size_t k = 0;
    for (const rr_node& i : n.items) k += boxes_in(i);
    return k;
}

double attribute(const std::string& tag, const char* name) {
    const std::string key = std::string(" ") + name + "=\"";
    const std::size_t at = tag.find(key);
    return at == std::string::npos ? -1 : std::stod(tag.substr(at + key.size()));
}

// The points a path of M, h, v and q steps goes through (control points
// included), in absolute coordinates.
std::vector<std::pair<double, double>> path_points(const std::string& path) {
    std::vector<std::pair<double, double>> points;
    double x = 0;
    double y = 0;
    std::size_t i = 0;
    auto number = [&]() {
        while (i < path.size() && path[i] == ' ') ++i;
        std::size_t used = 0;
        const double v = std::stod(path.substr(i), &used);
        i += used;
        return v;
    };
    while (i < path.size()) {
        const char op = path[i++];
        if (op == 'M') {
            x = number();
            y = number();
        } else if (op == 'h') {
            x += number();
        } else if (op == 'v') {
            y += number();
        } else if (op == 'q') {
            const double cx = number();
            const double cy = number();
            points.emplace_back(x + cx, y + cy);
            const double dx = number();
            const double dy = number();
            x += dx;
            y += dy;
        } else {
            ADD_FAILURE() << "unknown path step " << op << " in " << path;
            break;
        }
        points.emplace_back(x, y);
    }
    return points;
}

TEST(railroad_layout, EveryBoxAndLineStaysInsideTheDiagram) {
    std::mt19937 g(7);
    for (int round = 0; round < 300; ++round) {
        rr_node n = random_node(g, 4);
        if (round % 3 == 0) {
            // Wide sequences are cut into rows.
            rr_node seq;
            seq.what = rr_node::kind::sequence;
            for (int i = 0; i < 40; ++i) seq.items.push_back(random_node(g, 2));
            n = seq;
        }
        std::size_t links = 0;
        const std::string svg = railroad_svg(n, [&links](std::string_view name) {
            ++links;
            return name == "r0" ? std::string() : "#" + std::string(name);
        });
        const std::string head = svg.substr(0, svg.find('>'));
        const double width = attribute(head, "width");
        const double height = attribute(head, "height");
        ASSERT_GT(width, 0);
        ASSERT_GT(height, 0);
        EXPECT_LE(width, 760) << "rows are cut to the width asked for";
        std::size_t rects = 0;
        for (const std::string& tag : pieces(svg, "<rect", ">")) {
            const double x = attribute(tag, "x");
            const double y = attribute(tag, "y");
            EXPECT_GE(x, 0) << tag;
            EXPECT_GE(y, 0) << tag;
            EXPECT_LE(x + attribute(tag, "width"), width) << tag;
            EXPECT_LE(y + attribute(tag, "height"), height) << tag;
            ++rects;
        }
        EXPECT_EQ(rects, boxes_in(n)) << "one box per terminal and rule";
        // Lines stay inside too: every point the path goes through.
        const std::size_t d = svg.find(" d=\"");
        if (d != std::string::npos) {
            const std::string path = svg.substr(d + 4, svg.find('"', d + 4) - d - 4);
            for (const auto& [px, py] : path_points(path)) {
                EXPECT_GE(px, 0) << path;
                EXPECT_GE(py, 0) << path;
                EXPECT_LE(px, width) << path;
                EXPECT_LE(py, height) << path;
            }
        }
        // A rule whose link is empty is drawn without one.
        std::size_t anchors = 0;
        for (std::size_t at = svg.find("<a "); at != std::string::npos;
             at = svg.find("<a ", at + 1))
            ++anchors;
        std::size_t r0 = 0;
        for (std::size_t at = svg.find(">r0<"); at != std::string::npos;
             at = svg.find(">r0<", at + 1))
            ++r0;
        EXPECT_EQ(anchors + r0, links);
    }
}

TEST(railroad_layout, AlternativesStackAndRepetitionsSayHowOften) {
    const rr_node box = parse_abnf("a");
    const rr_size one = measure(box);
    const rr_size three = measure(parse_abnf("a / b / c"));
    EXPECT_GT(three.down, one.down + 2 * (one.up + one.down));
    EXPECT_EQ(three.up, one.up) << "the first alternative is on the main line";
    const auto none = [](std::string_view) { return std::string(); };
    EXPECT_NE(railroad_svg(parse_abnf("2*5x"), none).find(">2 to 5 times<"), std::string::npos);
    EXPECT_NE(railroad_svg(parse_abnf("3x"), none).find(">3 times<"), std::string::npos);
    EXPECT_NE(railroad_svg(parse_abnf("2*x"), none).find(">2 or more<"), std::string::npos);
    EXPECT_EQ(railroad_svg(parse_abnf("*x"), none).find("times"), std::string::npos);
    // Text is escaped.
    const std::string svg = railroad_svg(parse_abnf("\"<&>\""), none);
    EXPECT_NE(svg.find("&quot;&lt;&amp;&gt;&quot;"), std::string::npos);
}

// ---- the bounds column -------------------------------------------------------

TEST(doc_bounds, EachFormSaysWhatItsConstraintBounds) {
    value_form integer;
    integer.kind = value_kind::integer;
    EXPECT_EQ(doc_bounds_text(integer), "");
    integer.ranged = true;
    integer.low = -5;
    integer.high = 7;
    EXPECT_EQ(doc_bounds_text(integer), "-5 to 7");
    integer.low = integer.high = 3;
    EXPECT_EQ(doc_bounds_text(integer), "exactly 3");

    value_form text;
    text.kind = value_kind::ascii;
    EXPECT_EQ(doc_bounds_text(text), "") << "the kind's own default is no constraint";
    text.counted = true;
    text.min = 0;
    text.max = 80;
    EXPECT_EQ(doc_bounds_text(text), "at most 80 characters");
    text.min = 2;
    EXPECT_EQ(doc_bounds_text(text), "2 to 80 characters");
    text.max = 2;
    EXPECT_EQ(doc_bounds_text(text), "2 characters");
    text.kind = value_kind::bytes;
    EXPECT_EQ(doc_bounds_text(text), "2 bytes");
    text.kind = value_kind::date;
    EXPECT_EQ(doc_bounds_text(text), "");
}

// ---- examples of many definitions ---------------------------------------------

// The makers of a page share one first pass: each definition's shortest
// message must come out as it does from a maker of its own, and every
// example must be valid.
TEST(doc_examples, SharedSizesGiveEachDefinitionItsOwnAnswer) {
    auto run = std::make_unique<run_context>();
    init_run_context(*run);
    diagnostics diag;
    diag.console = std::tmpfile();
    const char* source =
        "pavex module t;\n"
        "struct A { B b [1..3]; C c; int<0..9> n [?]; };\n"
        "union B { int<0..99> small as ?; D big; ascii<2..4> text; };\n"
        "struct C { B again [2]; unicode<1..3> u; };\n"
        "struct D { date d; C c [?]; bytes<4..8> raw; };\n"
        "union E { D d; C c; };\n"
        "combi F { int<0..9> a; const<x> b; };\n"
        "unquoted-ascii<1..5> G;\n";
    ASSERT_EQ(read_source_text(*run, diag, "t.pvx", source, nullptr), 0);
    ASSERT_EQ(post_parse(*run, diag), 1);
    std::vector<const element*> top;
    for (const element* e = run->elements; e != nullptr; e = e->next()) top.push_back(e);
    ASSERT_EQ(top.size(), 7u);
    const auto shared = example_maker::sizes_of(top);
    for (const element* e : top) {
        const example_maker own(*e);
        const example_maker with_shared(*e, shared);
        EXPECT_EQ(with_shared.status(), own.status()) << e->name().view();
        EXPECT_EQ(with_shared.shortest_size(), own.shortest_size()) << e->name().view();
        for (const std::uint64_t extra : {std::uint64_t{0}, std::uint64_t{300}}) {
            std::string message;
            ASSERT_EQ(with_shared.write(3, message, extra), example_status::ready);
            if (extra == 0) {
                EXPECT_EQ(message.size(), own.shortest_size()) << e->name().view();
            }
            EXPECT_TRUE(check_message(*e, message).valid()) << e->name().view() << "\n" << message;
        }
    }
    std::fclose(diag.console);
    free_model(*run);
}

// ---- whole runs ---------------------------------------------------------------

// Every fragment link of a page finds an id, and no id is given twice.
void expect_links_hold(const std::string& page) {
    std::multiset<std::string> ids;
    for (const std::string& id : pieces(page, " id=\"", "\"")) ids.insert(id);
    for (const std::string& i : ids) EXPECT_EQ(ids.count(i), 1u) << "id given twice: " << i;
    std::size_t links = 0;
    for (const std::string& target : pieces(page, " href=\"#", "\"")) {
        EXPECT_EQ(ids.count(target), 1u) << "no id for link #" << target;
        ++links;
    }
    EXPECT_GT(links, 0u);
}

TEST(doc_run, NamesTwiceOverStillGiveOneIdEach) {
    const auto dir = testing::scratch_dir("doc-run-ids");
    // The same name in two modules, a definition named like a module's id,
    // and a body in place named like a definition.
    testing::write_file(dir / "in.pvx",
                        "pavex*/\npavex module a;\n"
                        "struct Same { int<0..9> n; struct Same { bool b; }; };\n"
                        "struct module-b { bool c; };\n"
                        "endmodule;\n"
                        "pavex module b;\nimport a;\n"
                        "struct Same { a::Same s [*]; a::module-b m; };\n");
    const std::string page = (dir / "page.html").string();
    const testing::cli_result r =
        testing::run_cli({"-q", "--doc=" + page, (dir / "in.pvx").string()});
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string html = testing::read_file(page);
    expect_links_hold(html);
    EXPECT_NE(html.find("id=\"a.Same\""), std::string::npos);
    EXPECT_NE(html.find("id=\"b.Same\""), std::string::npos);
}

TEST(doc_run, AFailedRunLeavesTheOldPage) {
    const auto dir = testing::scratch_dir("doc-run-failed");
    const std::string page = (dir / "page.html").string();
    testing::write_file(page, "old page\n");
    testing::write_file(dir / "bad.pvx", "pavex*/\npavex module m;\nstruct A { int<0..9> ; };\n");
    const testing::cli_result r =
        testing::run_cli({"-q", "--doc=" + page, (dir / "bad.pvx").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(testing::read_file(page), "old page\n");
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir)) ++files;
    EXPECT_EQ(files, 2u) << "no temporary is left";
}

TEST(doc_run, MarkdownCellsKeepTheirColumns) {
    const auto dir = testing::scratch_dir("doc-run-markdown");
    testing::write_file(dir / "in.pvx",
                        "pavex*/\npavex module m;\n"
                        "struct A {\n"
                        "    // a | b * c_d `e` [f](g)\n"
                        "    // second line\n"
                        "    int<0..9> x;\n"
                        "};\n");
    const std::string md = (dir / "ref.md").string();
    ASSERT_EQ(testing::run_cli({"-q", "--doc=" + md, (dir / "in.pvx").string()}).status, 0);
    const std::string text = testing::read_file(md);
    const std::size_t row = text.find("| `x` |");
    ASSERT_NE(row, std::string::npos) << text;
    const std::string line = text.substr(row, text.find('\n', row) - row);
    std::size_t pipes = 0;
    for (std::size_t i = 0; i < line.size(); ++i)
        pipes += line[i] == '|' && (i == 0 || line[i - 1] != '\\');
    EXPECT_EQ(pipes, 8u) << line;
    EXPECT_NE(line.find("a \\| b \\* c\\_d \\`e\\` \\[f\\](g) second line"), std::string::npos)
        << line;
}

}  // namespace
}  // namespace qrv
