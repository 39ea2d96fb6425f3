// Two versions of the definitions in one process, the example writer
// steered to one place of a definition, and the structural comparison's
// verdicts: each verdict that a change keeps the messages is held to the
// checker on the examples of both versions, and each change that loses them
// is shown by the witness the report prints.
#include "compat/compat.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "abnf/strict_grammar.h"
#include "compat/changes.h"
#include "console_capture.h"
#include "frontend/source.h"
#include "messages/checker.h"
#include "messages/example_writer.h"
#include "postparse/post_parse.h"

namespace qrv {
namespace {

struct version_model {
    std::unique_ptr<run_context> run = std::make_unique<run_context>();
    version_model() { init_run_context(*run); }
    ~version_model() { free_model(*run); }
    version_model(const version_model&) = delete;
    version_model& operator=(const version_model&) = delete;
};

struct compat_fixture : ::testing::Test {
    version_model old_version;
    version_model new_version;
    diagnostics diag;
    testing::console_capture captured;

    void SetUp() override { diag.console = captured.file(); }

    static void read(run_context& run, diagnostics& diag, const char* path,
                     const std::string& body) {
        ASSERT_EQ(read_source_text(run, diag, path, "pavex module t;\n" + body + "\nendmodule;\n",
                                   nullptr),
                  0);
        ASSERT_EQ(post_parse(run, diag), 1);
        ASSERT_EQ(check_strict_grammar(run, diag), 0);
    }

    void versions(const std::string& old_body, const std::string& new_body) {
        read(*old_version.run, diag, "old.pvx", old_body);
        read(*new_version.run, diag, "new.pvx", new_body);
    }

    std::vector<compat::change> changes() {
        return compat::find_changes(*old_version.run, *new_version.run);
    }

    // The one change of a given path, or a failure.
    compat::change change_at(const std::string& path) {
        for (const compat::change& c : changes()) {
            if (c.path == path) return c;
        }
        ADD_FAILURE() << "no change at " << path;
        return {};
    }
};

const element* member(const element& body, std::string_view name) {
    for (const element* m = body.children(); m != nullptr; m = m->next()) {
        if (m->name() == name) return m;
    }
    return nullptr;
}

// ---- two models at once -------------------------------------------------------

TEST_F(compat_fixture, TwoVersionsLiveSideBySideWithModelsOfTheirOwn) {
    versions("struct A { int<0..9> n; };", "struct A { int<0..99> n; };");
    const element* a_old = find_message_type(*old_version.run, "A");
    const element* a_new = find_message_type(*new_version.run, "A");
    ASSERT_NE(a_old, nullptr);
    ASSERT_NE(a_new, nullptr);
    EXPECT_NE(a_old, a_new);
    // Each checks by its own definition, whichever was read last.
    EXPECT_EQ(check_message(*a_old, "n = 50").verdict, check_verdict::invalid);
    EXPECT_EQ(check_message(*a_new, "n = 50").verdict, check_verdict::valid);
    // Releasing one leaves the other whole.
    free_model(*old_version.run);
    EXPECT_EQ(check_message(*a_new, "n = 99").verdict, check_verdict::valid);
    EXPECT_EQ(a_new->children()->name().view(), "n");
}

// ---- the steered example ----------------------------------------------------------

TEST_F(compat_fixture, SteeringMakesOptionalMembersOnThePathStandWithTheValueAsked) {
    read(*new_version.run, diag, "new.pvx",
         "struct R { int<0..9> a [?]; struct inner [?] { int<1..500> qty [*]; "
         "ascii<1..90> note [?]; }; };");
    const element& root = *new_version.run->elements;
    const element* inner = member(root, "inner");
    const element* qty = member(*inner, "qty");
    const element* note = member(*inner, "note");
    const example_maker maker(root);
    example_steering s;
    s.path = {inner, qty};
    s.count = 3;
    s.integer = 417;
    std::string out;
    ASSERT_EQ(maker.write(0, out, s, 0), example_status::ready);
    EXPECT_EQ(one_line(out), "inner = { qty = 417, 417, 417 }");
    EXPECT_TRUE(check_message(root, out).valid()) << out;

    s = {};
    s.path = {inner, note};
    s.length = 90;
    out.clear();
    maker.write(5, out, s, 0);
    EXPECT_NE(out.find("note = '" + std::string(90, 'a') + "'"), std::string::npos) << out;
    EXPECT_TRUE(check_message(root, out).valid()) << out;
}

TEST_F(compat_fixture, SteeringWritesAnExtensionParameterInTheBodyAsked) {
    read(*new_version.run, diag, "new.pvx",
         "struct R { int<0..9> a; struct inner [?] { int<1..5> b; }; U u; };\n"
         "union U { int<0..9> x; bool y; };\n");
    const element& root = *new_version.run->elements;
    const element* inner = member(root, "inner");
    const element* u = member(root, "u");
    const example_maker maker(root);
    std::string out;
    example_steering s;
    s.path = {inner};
    s.extension_in = inner;
    s.extension = "zz = %";
    maker.write(0, out, s, 0);
    EXPECT_EQ(one_line(out), "a = 0 inner = { b = 1 zz = % } u = y = True");
    EXPECT_TRUE(check_message(root, out).valid()) << out;
    // At the root, after its members; as a union's value.
    s = {};
    s.extension_in = &root;
    s.extension = "zz = 'q'";
    out.clear();
    maker.write(0, out, s, 0);
    EXPECT_EQ(one_line(out), "a = 0 u = y = True zz = 'q'");
    s = {};
    s.path = {u};
    s.extension_in = u;
    s.extension = "w = 1";
    out.clear();
    maker.write(0, out, s, 0);
    EXPECT_EQ(one_line(out), "a = 0 u = w = 1");
    EXPECT_TRUE(check_message(root, out).valid()) << out;
}

TEST_F(compat_fixture, SteeringARecursiveDefinitionFollowsThePathOnce) {
    // The members on the path are met again at every level of the
    // recursion: each place of the path is taken once, so the example ends
    // (the root's own `other` is a member of the path's body as well).
    read(*new_version.run, diag, "new.pvx",
         "struct Node { int<0..9> v; Node next [?]; Node other [?]; };");
    const element& root = *new_version.run->elements;
    const element* next = member(root, "next");
    const element* other = member(root, "other");
    const example_maker maker(root);
    example_steering s;
    s.path = {next, other};
    std::string out;
    ASSERT_EQ(maker.write(0, out, s, 0), example_status::ready);
    EXPECT_EQ(one_line(out), "v = 0 next = { v = 0 other = { v = 0 } } other = { v = 0 }");
    EXPECT_TRUE(check_message(root, out).valid()) << out;
}

// ---- verdicts -------------------------------------------------------------------

TEST_F(compat_fixture, RangesSizesAndCountsDecideByTheirSetsAndHintAValueOutside) {
    versions(
        "struct S { int<-50..-10> t; int<1..100> q; unicode<2..4> c; int<1..9> i [1..5]; "
        "int<0..9> o [?]; };",
        "struct S { int<-60..-10> t; int<1..50> q; unicode<1..8> c; int<1..9> i [2..3]; "
        "int<0..9> o [?]; };");
    const compat::change t = change_at("S.t");
    EXPECT_EQ(t.words, "range widened from -50..-10 to -60..-10");
    EXPECT_EQ(t.backward, compat::verdict::keeps);
    EXPECT_EQ(t.forward, compat::verdict::loses);
    EXPECT_EQ(t.new_hints.integer, -51);
    const compat::change q = change_at("S.q");
    EXPECT_EQ(q.backward, compat::verdict::loses);
    EXPECT_EQ(q.old_hints.integer, 51);
    EXPECT_EQ(q.forward, compat::verdict::keeps);
    const compat::change c = change_at("S.c");
    EXPECT_EQ(c.words, "size widened from 2..4 to 1..8");
    EXPECT_EQ(c.new_hints.length, 5u);
    const compat::change i = change_at("S.i");
    EXPECT_EQ(i.words, "cardinality narrowed from [1..5] to [2..3]");
    EXPECT_EQ(i.backward, compat::verdict::loses);
    EXPECT_EQ(i.forward, compat::verdict::keeps);
    EXPECT_EQ(i.old_hints.count, 4u);
    for (const compat::change& ch : changes()) EXPECT_NE(ch.path, "S.o") << ch.words;
}

TEST_F(compat_fixture, DisjointRangesHintAValueOfTheirOwnVersion) {
    versions("struct S { int<45..232> n; bytes<0..9> b; };",
             "struct S { int<-5..5> n; bytes<20..30> b; };");
    const compat::change n = change_at("S.n");
    EXPECT_EQ(n.words, "range changed from 45..232 to -5..5");
    EXPECT_EQ(n.old_hints.integer, 45);
    EXPECT_EQ(n.new_hints.integer, 5);
    const compat::change b = change_at("S.b");
    EXPECT_EQ(b.old_hints.length, 9u);
    EXPECT_EQ(b.new_hints.length, 20u);
}

TEST_F(compat_fixture, MembersAtTheEndReadAsExtensionParametersByTheVersionWithoutThem) {
    versions(
        "struct S { int<0..9> a; int<0..9> gone; };\n"
        "union U { int<0..9> x; date y; };\n"
        "struct M { int<0..9> a; int<0..9> mid; int<0..9> b; };\n"
        "struct E { int<0..9> a; };\n",
        "struct S { int<0..9> a; ascii<1..3> extra [?]; };\n"
        "union U { int<0..9> x; ipv4 z; };\n"
        "struct M { int<0..9> a; int<0..9> b; };\n"
        "struct E { int<0..9> a; embedded note [?]; };\n");
    // Removed at the end: old messages still read; the new ones lack it.
    const compat::change gone = change_at("S.gone");
    EXPECT_EQ(gone.backward, compat::verdict::keeps);
    EXPECT_EQ(gone.forward, compat::verdict::loses);
    // Added at the end, optional: old readers take it as a parameter, and
    // an old message's parameter of its tag may not fit it.
    const compat::change extra = change_at("S.extra");
    EXPECT_EQ(extra.forward, compat::verdict::keeps);
    EXPECT_EQ(extra.backward, compat::verdict::depends);
    EXPECT_EQ(extra.old_hints.extension_tag, "extra");
    EXPECT_EQ(change_at("U.z").forward, compat::verdict::keeps);
    EXPECT_EQ(change_at("U.y").backward, compat::verdict::keeps);
    // In the middle, a member is no parameter; an embedded text is none.
    EXPECT_EQ(change_at("M.mid").backward, compat::verdict::depends);
    EXPECT_EQ(change_at("E.note").forward, compat::verdict::depends);
}

TEST_F(compat_fixture, ATagNoParameterCanHaveIsInNoMessageOfTheVersionWithoutIt) {
    versions("struct S { int<0..9> a; };\nunion U { int<0..9> x; bool y as w\u20ac; };\n",
             "struct S { int<0..9> a; bool b [?] as q\u20ac; bool c [?] as t; };\n"
             "union U { int<0..9> x; };\n");
    EXPECT_EQ(change_at("S.b").backward, compat::verdict::keeps);
    EXPECT_EQ(change_at("S.c").backward, compat::verdict::depends);
    EXPECT_EQ(change_at("U.y").forward, compat::verdict::keeps);
}

TEST_F(compat_fixture, ValuesThatMayBeEmptyAreNoExtensionParameter) {
    // "{}", "[]" and an empty union value are no parameter's value.
    versions(
        "struct S { int<0..9> a; Opt o; };\n"
        "struct T { int<0..9> a; bytes<0..9> b; };\n"
        "struct V { int<0..9> a; Req r; };\n"
        "struct Opt { int<0..9> x [?]; };\n"
        "struct Req { int<0..9> x; int<0..9> y [?]; };\n",
        "struct S { int<0..9> a; };\n"
        "struct T { int<0..9> a; };\n"
        "struct V { int<0..9> a; };\n"
        "struct Opt { int<0..9> x [?]; };\n"
        "struct Req { int<0..9> x; int<0..9> y [?]; };\n");
    EXPECT_EQ(change_at("S.o").backward, compat::verdict::depends);
    EXPECT_EQ(change_at("T.b").backward, compat::verdict::depends);
    EXPECT_EQ(change_at("V.r").backward, compat::verdict::keeps);
}

TEST_F(compat_fixture, LongBase64RepeatedVoidsAndMembersThatNeverStandAreSearched) {
    // Base64 lines run on in a value and stand apart in a parameter; a
    // repeated void member is its tag and commas; a member of count 0 takes
    // nothing, so the other version's values are read as parameters there.
    versions(
        "struct S { int<0..9> a; bytes<1..60> long; };\n"
        "struct T { int<0..9> a; void flag [2]; };\n"
        "struct W { int<0..9> a; int<0..9> n [0]; };\n"
        "struct O { int<0..9> a; bytes<1..57> one; };\n",
        "struct S { int<0..9> a; };\n"
        "struct T { int<0..9> a; };\n"
        "struct W { int<0..9> a; int<0..9> n [*]; };\n"
        "struct O { int<0..9> a; };\n");
    EXPECT_EQ(change_at("S.long").backward, compat::verdict::depends);
    EXPECT_EQ(change_at("T.flag").backward, compat::verdict::depends);
    EXPECT_EQ(change_at("O.one").backward, compat::verdict::keeps);
    const compat::change n = change_at("W.n");
    EXPECT_EQ(n.words, "cardinality widened from [0] to [*]");
    EXPECT_EQ(n.forward, compat::verdict::depends);
}

TEST_F(compat_fixture, NamesTagsKindsConstantsAndDefinitions) {
    versions(
        "struct S { ascii<1..9> name as n; int<0..9> age; float<single> w; const<EUR> cur; "
        "int<0..9> a; int<0..9> b; };\n"
        "struct Gone { int<0..9> x; };\n",
        "struct S { ascii<1..9> full as n; int<0..9> age as years; float<double> w; "
        "const<USD> cur; int<0..9> b; int<0..9> a; };\n"
        "struct New { int<0..9> x; };\n");
    const compat::change full = change_at("S.full");
    EXPECT_EQ(full.words, "renamed from name to full with the same tag");
    EXPECT_EQ(full.backward, compat::verdict::keeps);
    EXPECT_EQ(full.forward, compat::verdict::keeps);
    EXPECT_EQ(change_at("S.age").words, "tag changed from \"age\" to \"years\"");
    EXPECT_EQ(change_at("S.w").backward, compat::verdict::keeps);
    EXPECT_EQ(change_at("S.cur").forward, compat::verdict::loses);
    EXPECT_EQ(change_at("S").words, "members reordered: b now stands before a");
    const compat::change gone = change_at("Gone");
    EXPECT_TRUE(gone.place_in_old);
    EXPECT_EQ(gone.new_definition, nullptr);
    EXPECT_EQ(gone.backward, compat::verdict::loses);
    EXPECT_EQ(change_at("New").words, "definition New added");
}

// ---- the report ----------------------------------------------------------------

TEST_F(compat_fixture, EachBreakIsReportedWithAWitnessTheCheckerConfirms) {
    versions("struct S { int<1..100> q; int<0..9> a; };",
             "struct S { int<1..50> q; int<0..9> a; int<0..9> b; };");
    compat_settings settings;
    settings.mode = compat_mode::full;
    EXPECT_EQ(compare_versions(*old_version.run, *new_version.run, diag, settings), 1);
    const std::string report = captured.take();
    EXPECT_NE(report.find("S.q: range narrowed from 1..100 to 1..50: breaks backward "
                          "compatibility; witness: q = 51 a = 0"),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("S.b: required member b added: breaks backward compatibility"),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("2 breaking change(s), 0 compatible change(s)"), std::string::npos)
        << report;
    // Forward only: both changes keep the new messages.
    settings.mode = compat_mode::forward;
    EXPECT_EQ(compare_versions(*old_version.run, *new_version.run, diag, settings), 0);
    EXPECT_NE(captured.take().find("0 breaking change(s), 2 compatible change(s)"),
              std::string::npos);
}

TEST(compat_text, OneLineJoinsTheMemberLinesOfAnExample) {
    EXPECT_EQ(one_line("a = 1\nb = {\n    c = 2\n}\n"), "a = 1 b = { c = 2 }");
    EXPECT_EQ(one_line("x = 'a b'\n"), "x = 'a b'");
    EXPECT_EQ(one_line(""), "");
}

}  // namespace
}  // namespace qrv
