// The example writer on definitions read from source text: every kind of
// value passes the message checker over many seeds, seeds reproduce,
// optional and repeated members follow the seed and the cardinalities,
// recursion ends, and deep schemas are written on a small stack. The size
// of the shortest message is exact, no example exceeds it by more than its
// budget, schemas whose shortest message is too large are refused before
// anything is written, and writing stops at the first failed write.
#include <gtest/gtest.h>
#include <pthread.h>

#include <memory>
#include <string>
#include <vector>

#include "abnf/strict_grammar.h"
#include "console_capture.h"
#include "frontend/source.h"
#include "messages/checker.h"
#include "messages/example_writer.h"
#include "postparse/post_parse.h"
#include "schema_fixture.h"
#include "test_model.h"

namespace qrv {
namespace {

struct example_fixture : schema_fixture {
    std::string example(std::uint64_t seed, const char* type = nullptr) {
        const element* root = type == nullptr ? run->elements : find_message_type(*run, type);
        std::string out;
        EXPECT_TRUE(write_example(*root, seed, out));
        return out;
    }

    // The checker's verdict on the example of `seed`: "" when valid.
    std::string verdict(std::uint64_t seed, const char* type = nullptr) {
        const element* root = type == nullptr ? run->elements : find_message_type(*run, type);
        const std::string text = example(seed, type);
        const check_result r = check_message(*root, text);
        const std::optional<check_error> e =
            r.valid() ? std::nullopt : std::optional<check_error>(r.error);
        if (!e) return "";
        return text + "\n" + std::to_string(e->line) + ":" + std::to_string(e->column) + " " +
               e->path + ": " + e->message;
    }
};

using examples = example_fixture;

TEST_F(examples, EveryKindOfValuePassesTheCheckerForManySeeds) {
    define(
        "struct M { bool b; int<-40..7> i; int<0..4294967295> big; float f; oid o;"
        " ascii<0..5> a; ascii s; unquoted-ascii<3..9> u; unicode<2..4> t; unicode w [?];"
        " bytes<1..200> d; bytes<171> exact; bytes any; bytes<0> none; const<end of data> k;"
        " ipv4 v4; ipv6 v6; date day; time at; embedded<4..9> e; void flag;"
        " combi c { const<X> x; int<0..99> p; int<0..9> q; unquoted-ascii<2> r; };"
        " U alt [2..4]; };"
        "union U { int<0..9> small as ?; ascii<1..3> word; Pt pt; void nothing; };"
        "struct Pt { int<0..9> x; int<0..9> y; };");
    for (std::uint64_t seed = 0; seed < 300; ++seed) {
        ASSERT_EQ(verdict(seed), "") << "seed " << seed;
    }
}

TEST_F(examples, TheSameSeedGivesTheSameMessageAndOthersDiffer) {
    define("struct M { int<0..1000000> a; unicode t; date d; };");
    EXPECT_EQ(example(5), example(5));
    EXPECT_NE(example(5), example(6));
    EXPECT_EQ(example(0).substr(0, 4), "a = ");
}

TEST_F(examples, OptionalAndRepeatedMembersFollowTheSeedWithinTheirCardinalities) {
    define(
        "struct M { Inner opt [?]; int<0..9> three [3]; int<0..9> some [2..*]; int<0..9> no [0];"
        " };"
        "struct Inner { bool b; };");
    int with_optional = 0;
    for (std::uint64_t seed = 0; seed < 100; ++seed) {
        const std::string text = example(seed);
        if (text.find("opt = {") != std::string::npos) ++with_optional;
        const std::size_t three = text.find("three = ");
        ASSERT_NE(three, std::string::npos) << text;
        const std::string line = text.substr(three, text.find('\n', three) - three);
        EXPECT_EQ(std::count(line.begin(), line.end(), ','), 2) << line;
        EXPECT_EQ(text.find("no ="), std::string::npos) << text;
        EXPECT_EQ(verdict(seed), "");
    }
    // An optional structure stands for some seeds and not for others.
    EXPECT_GT(with_optional, 20);
    EXPECT_LT(with_optional, 90);
}

TEST_F(examples, RecursionEndsAndStaysSmall) {
    define(
        "struct Node { int<0..9> v; Node kids [*]; Node next [?]; Choice c [?]; };"
        "union Choice { Node node; Choice again; };");
    for (std::uint64_t seed = 0; seed < 200; ++seed) {
        const std::string text = example(seed);
        EXPECT_LT(text.size(), 20000u) << "seed " << seed;
        ASSERT_EQ(verdict(seed), "") << "seed " << seed;
    }
}

TEST_F(examples, UnionsWithoutUsableAlternativesStandForAnExtensionParameter) {
    define(
        "struct M { U u; B b; };"
        "union U { bool never [0]; };"
        "union B { ascii<1..3> word; };");
    // U's one alternative never stands: an extension parameter stands for
    // it. The brace of a constrained alternative follows its tag.
    const std::string text = example(0);
    EXPECT_NE(text.find("u = ''\n"), std::string::npos) << text;
    EXPECT_NE(text.find("b = word = { '"), std::string::npos) << text;
}

TEST_F(examples, ADefinitionWithoutAFiniteMessageWritesNothing) {
    ASSERT_EQ(
        read_source_text(*run, diag, "t.pvx",
                         "pavex module t;\nstruct Loop { int<0..9> v; Loop again; };", nullptr),
        0);
    ASSERT_EQ(post_parse(*run, diag), 1);
    std::string out = "kept";
    EXPECT_FALSE(write_example(*run->elements, 0, out));
    EXPECT_EQ(out, "kept");
}

TEST_F(examples, ARootOfAnotherKindIsItsValueAlone) {
    define("struct M { bool b; }; union R { int<0..5> n as ?; bool t; }; date D;");
    EXPECT_EQ(example(0, "D").size(), 11u);
    const std::string r = example(1, "R");
    EXPECT_EQ(r.back(), '\n');
    EXPECT_EQ(verdict(1, "R"), "");
}

TEST_F(examples, TwentyThousandRequiredReferencesOnASmallStack) {
    std::string source;
    for (int k = 0; k < 20000; ++k) {
        source += "struct D" + std::to_string(k) + " { int<0..9> v; ";
        if (k + 1 < 20000) source += "D" + std::to_string(k + 1) + " d; ";
        source += "};\n";
    }
    define(source);
    std::string out;
    bool ok = false;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 256 * 1024);
    struct job {
        const element* root;
        std::string* out;
        bool* ok;
    } j{run->elements, &out, &ok};
    pthread_t thread;
    ASSERT_EQ(pthread_create(
                  &thread, &attr,
                  [](void* p) -> void* {
                      auto* w = static_cast<job*>(p);
                      *w->ok = write_example(*w->root, 3, *w->out);
                      return nullptr;
                  },
                  &j),
              0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
    ASSERT_TRUE(ok);
    // Every level stands once; indentation stops growing, so the size is
    // linear in the depth.
    EXPECT_EQ(std::count(out.begin(), out.end(), '{'), 19999);
    EXPECT_LT(out.size(), 20000u * 500u);
    EXPECT_TRUE(check_message(*run->elements, out).valid());
}

// ---- how large examples get ------------------------------------------------------

// A run of its own for each schema of a test.
struct defined {
    std::unique_ptr<run_context> run = std::make_unique<run_context>();
    diagnostics diag;
    testing::console_capture console;
    bool ok = false;

    explicit defined(const std::string& source) {
        init_run_context(*run);
        diag.console = console.file();
        ok = read_source_text(*run, diag, "t.pvx", "pavex module t;\n" + source, nullptr) == 0 &&
             post_parse(*run, diag) == 1 && check_strict_grammar(*run, diag) == 0;
    }
    ~defined() { free_model(*run); }
    defined(const defined&) = delete;
    defined& operator=(const defined&) = delete;

    const element& root(const char* type) const { return *find_message_type(*run, type); }
};

std::string invalid(const element& root, const std::string& text) {
    const check_result r = check_message(root, text);
    const check_error* e = &r.error;
    return !r.valid() ? std::to_string(e->line) + ":" + std::to_string(e->column) + " " + e->path +
                            ": " + e->message + "\n" + text.substr(0, 2000)
                      : "";
}

struct bounded_case {
    std::string source;
    std::vector<const char*> roots;
};

// Every kind of value, recursion, unions alone, in lists and in unions,
// combinations, roots of every kind, and nesting past the depth where
// indentation stops growing.
std::vector<bounded_case> bounded_cases() {
    std::string deep;
    for (int k = 0; k < 40; ++k) {
        deep += "struct N" + std::to_string(k) + " { int<1..9> v; N" + std::to_string(k + 1) +
                " n" + (k % 8 == 0 ? " [2]" : "") + "; bool b [?]; };";
    }
    deep +=
        "struct N40 { U u; unicode<1..3> t [0..2]; }; union U { N41 x; ascii<2..3> t; };"
        "struct N41 { date d [?]; };";
    return {
        {"struct M { bool b; int<-40..7> i; int<0..4294967295> big; float f; oid o;"
         " ascii<0..5> a; ascii s; unquoted-ascii<3..9> u; unicode<2..4> t; unicode w [?];"
         " bytes<1..200> d; bytes<171> exact; bytes any; bytes<0> none; const<end of data> k;"
         " ipv4 v4; ipv6 v6; date day; time at; embedded<4..9> e; void flag;"
         " combi c { const<X> x; int<0..99> p; int<0..9> q; unquoted-ascii<2> r; };"
         " U alt [2..4]; int<-9..-3> neg [2]; int<5..70> pos; };"
         "union U { int<0..9> small as ?; ascii<1..3> word; Pt pt; void nothing; };"
         "struct Pt { int<0..9> x; int<0..9> y; };",
         {"M", "U", "Pt"}},
        {"struct Node { int<0..9> v; Node kids [*]; Node next [?]; Choice c [?]; };"
         "union Choice { Node node; Choice again; };",
         {"Node", "Choice"}},
        {"struct L { U us [3]; V vs [2..5]; W w [?]; V one; };"
         "union U { int<0..9> n [1..4] as ?; bool b; };"
         "union V { P p [2]; ascii<0..3> t [?]; }; struct P { int<0..9> x [2]; };"
         "union W { void none; bool yes [0..2]; };",
         {"L", "U", "V"}},
        {deep, {"N0", "N39"}},
        {"combi C { int<0..99> a; const<x> b; int<0..9> c [2]; }; date D; struct E { }; union F { "
         "};"
         "struct S { C c [3]; E e; F f [2]; };",
         {"C", "D", "E", "F", "S"}},
        {"union T { T a; S b; }; struct S { T t [2]; int<0..9> n; };", {"T", "S"}},
    };
}

TEST(example_bounds, TheShortestMessageIsWorkedOutExactlyBeforeItIsWritten) {
    for (const bounded_case& c : bounded_cases()) {
        const defined schema(c.source);
        ASSERT_TRUE(schema.ok) << c.source;
        for (const char* type : c.roots) {
            const element& root = schema.root(type);
            const example_maker maker(root);
            ASSERT_EQ(maker.status(), example_status::ready) << type;
            // No budget: the shortest message, the same for every seed.
            std::string shortest, again;
            maker.write(0, shortest, 0);
            maker.write(77, again, 0);
            EXPECT_EQ(shortest.size(), maker.shortest_size()) << type << "\n" << shortest;
            EXPECT_EQ(shortest, again) << type;
            EXPECT_EQ(invalid(root, shortest), "") << type;
        }
    }
}

TEST(example_bounds, NoExampleHoldsMoreThanTheShortestMessageAndItsBudget) {
    for (const bounded_case& c : bounded_cases()) {
        const defined schema(c.source);
        ASSERT_TRUE(schema.ok) << c.source;
        for (const char* type : c.roots) {
            const element& root = schema.root(type);
            const example_maker maker(root);
            // Small budgets make the seed's choices give way at every kind
            // of choice; what is written is still a valid message.
            for (const std::uint64_t extra :
                 {example_extra_bytes, std::uint64_t{600}, std::uint64_t{40}, std::uint64_t{1}}) {
                for (std::uint64_t seed = 0; seed < 30; ++seed) {
                    std::string text;
                    maker.write(seed, text, extra);
                    ASSERT_LE(text.size(), maker.shortest_size() + extra)
                        << type << " seed " << seed << " extra " << extra;
                    ASSERT_EQ(invalid(root, text), "")
                        << type << " seed " << seed << " extra " << extra;
                }
            }
        }
    }
}

TEST(example_bounds, ShortestMessagesBeyondTheLimitAreRefusedBeforeAnythingIsWritten) {
    std::string doubling;
    for (int k = 0; k < 64; ++k) {
        doubling += "struct D" + std::to_string(k) + " { D" + std::to_string(k + 1) + " l; D" +
                    std::to_string(k + 1) + " r; };";
    }
    doubling += "struct D64 { bool b; };";
    const std::string cases[] = {
        "struct M { int<0..9> v [4000000000]; };",
        "struct M { A a [100000]; }; struct A { B b [100000]; }; struct B { int<0..9> v [100000]; "
        "};",
        doubling,
        "struct M { unicode<4000000000> t; };",
        "struct M { bytes<4000000000> b; };",
        "struct M { void flag [4000000000]; };",
    };
    for (const std::string& source : cases) {
        const defined schema(source);
        ASSERT_TRUE(schema.ok) << source;
        const example_maker maker(*schema.run->elements);
        EXPECT_EQ(maker.status(), example_status::too_large) << source;
        EXPECT_GT(maker.shortest_size(), example_size_limit) << source;
        std::string out = "kept";
        EXPECT_EQ(maker.write(0, out), example_status::too_large);
        EXPECT_EQ(out, "kept");
    }
    // The limit itself: "t = ", the text and the line break.
    for (const std::uint64_t length : {example_size_limit - 5, example_size_limit - 4}) {
        const defined schema("struct M { unquoted-ascii<" + std::to_string(length) + "> t; };");
        const example_maker maker(*schema.run->elements);
        EXPECT_EQ(maker.shortest_size(),
                  length == example_size_limit - 5 ? example_size_limit : maker.shortest_size());
        EXPECT_EQ(maker.status(), length == example_size_limit - 5 ? example_status::ready
                                                                   : example_status::too_large);
    }
}

TEST(example_bounds, RequiredCountsAreWrittenWholeAndNothingOptionalIsAddedToThem) {
    const defined schema(
        "struct M { int<0..9> v [100000]; P p [3]; P more [*]; }; struct P { int<0..9> x [1000]; "
        "};");
    ASSERT_TRUE(schema.ok);
    const element& root = *schema.run->elements;
    const example_maker maker(root);
    ASSERT_EQ(maker.status(), example_status::ready);
    for (std::uint64_t seed = 0; seed < 5; ++seed) {
        std::string text;
        maker.write(seed, text);
        const std::string first = text.substr(0, text.find('\n'));
        EXPECT_EQ(std::count(first.begin(), first.end(), ','), 99999) << "seed " << seed;
        EXPECT_LE(text.size(), maker.shortest_size() + example_extra_bytes);
        EXPECT_EQ(invalid(root, text), "");
    }
}

TEST(example_bounds, EnormousOptionalValuesAndRecursionThroughUnionsEndSmall) {
    std::string levels = "struct Root { L0 deep [?]; int<0..9> small [?]; };";
    for (int k = 0; k < 10; ++k) {
        levels += "struct L" + std::to_string(k) + " { L" + std::to_string(k + 1) + " n [8]; };";
    }
    levels += "struct L10 { int<0..9> v [4]; };";
    const std::string cases[] = {
        levels,  // 8^10 values at the least
        "union U { U a; U b; };",
        "union U { U a; V v; }; union V { U u; V w; };",
        // In a list, U's alternative takes all it can: four billion values.
        "struct M { U u [2]; }; union U { int<0..9> n [1..4000000000] as ?; };",
        // Every alternative beyond the limit: an extension parameter.
        "struct M { U u; }; union U { A a; B b; };"
        "struct A { int<0..9> v [20000000]; }; struct B { bool f [5000000]; };",
    };
    for (const std::string& source : cases) {
        const defined schema(source);
        ASSERT_TRUE(schema.ok) << source;
        const element& root = *schema.run->elements;
        const example_maker maker(root);
        ASSERT_EQ(maker.status(), example_status::ready) << source;
        EXPECT_LT(maker.shortest_size(), 100u) << source;
        for (std::uint64_t seed = 0; seed < 100; ++seed) {
            std::string text;
            maker.write(seed, text);
            ASSERT_LT(text.size(), 1000u) << source << " seed " << seed;
            ASSERT_EQ(invalid(root, text), "") << source << " seed " << seed;
        }
    }
}

// A stream that takes `accept` bytes and refuses what goes beyond them: a
// write that takes less than it was given, or nothing.
struct refusing_stream {
    std::size_t accept;
    std::size_t taken = 0;
    bool failed = false;
    std::size_t offered_after_failure = 0;

    static ssize_t write(void* cookie, const char*, size_t size) {
        auto* s = static_cast<refusing_stream*>(cookie);
        if (s->failed) s->offered_after_failure += size;
        const std::size_t n = std::min(size, s->accept - s->taken);
        s->taken += n;
        if (n < size) s->failed = true;
        return n > 0 ? static_cast<ssize_t>(n) : -1;
    }
};

TEST(example_bounds, WritingStopsAtTheFirstWriteTheStreamRefuses) {
    const defined schema("struct M { int<0..9> v [3000000]; };");  // 9 MB at the least
    ASSERT_TRUE(schema.ok);
    const example_maker maker(*schema.run->elements);
    ASSERT_EQ(maker.status(), example_status::ready);
    for (const std::size_t accept : {std::size_t{0}, std::size_t{100000}}) {
        refusing_stream sink{accept};
        std::FILE* f = fopencookie(&sink, "w", {nullptr, refusing_stream::write, nullptr, nullptr});
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(maker.write(0, f), example_status::write_failed);
        EXPECT_TRUE(sink.failed) << accept;
        // The stream may try again what is left of the write that failed
        // (its buffer and one of the writer's at most), nothing more.
        EXPECT_LE(sink.offered_after_failure, std::size_t{2} << 16) << accept;
        EXPECT_EQ(sink.taken, accept);
        std::fclose(f);
    }
}

}  // namespace
}  // namespace qrv
