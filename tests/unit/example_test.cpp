// The example writer on definitions read from source text: every kind of
// value passes the message checker over many seeds, seeds reproduce,
// optional and repeated members follow the seed and the cardinalities,
// recursion ends, and deep schemas are written on a small stack.
#include "example/example.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <memory>
#include <string>

#include "abnf/strict.h"
#include "check/check.h"
#include "console_capture.h"
#include "frontend/source.h"
#include "postparse/post_parse.h"

namespace qrv {
namespace {

struct example_fixture : ::testing::Test {
    std::unique_ptr<run_context> run = std::make_unique<run_context>();
    testing::console_capture captured;

    void SetUp() override {
        init_run_context(*run);
        run->console = captured.file();
    }
    void TearDown() override { free_model(*run); }

    void define(const std::string& source) {
        ASSERT_EQ(read_source_text(*run, "t.pvx", "pavex module t;\n" + source, nullptr), 0);
        ASSERT_EQ(post_parse(*run), 1);
        ASSERT_EQ(check_strict_grammar(*run), 0);
    }

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
        read_source_text(*run, "t.pvx",
                         "pavex module t;\nstruct Loop { int<0..9> v; Loop again; };", nullptr),
        0);
    ASSERT_EQ(post_parse(*run), 1);
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

}  // namespace
}  // namespace qrv
