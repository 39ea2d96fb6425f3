// The references pass against the references the written grammars show, on
// random schemas: references to structures, unions, empty bodies and simple
// definitions, repeated and optional members, bodies declared in place,
// plugged copies that share members, references among the top-level
// definitions, a root that stands for another definition.
#include "abnf/references.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "abnf/default_grammar.h"
#include "abnf/strict_grammar.h"
#include "console_capture.h"
#include "frontend/source.h"
#include "postparse/post_parse.h"

namespace qrv {
namespace {

std::string cardinality(std::mt19937& rng) {
    static const char* const forms[] = {"",     "",        "",        " [*]",
                                        " [?]", " [2..3]", " [1..*]", " [0..0]"};
    return forms[rng() % 8];
}

std::string random_schema(std::mt19937& rng, int n) {
    std::string s = "pavex module m;\n";
    std::uniform_int_distribution<int> pick(0, 9);
    const auto name = [](int i) { return "D" + std::to_string(i); };
    // The root, now and then, stands for another definition.
    const bool root_link = n > 1 && pick(rng) == 0;
    for (int i = 0; i < n; ++i) {
        const int what = pick(rng);
        if (i == 0 && root_link) {
            s += name(1 + static_cast<int>(rng() % (n - 1))) + " " + name(0) + ";\n";
            continue;
        }
        if (i > 0 && what == 0) {
            s += "int<0..9> " + name(i) + ";\n";
            continue;
        }
        if (i > 0 && what == 1) {
            s += "struct " + name(i) + " { };\n";
            continue;
        }
        s += std::string(what == 2 ? "union " : "struct ") + name(i) + " {\n";
        const int members = 1 + pick(rng) % 4;
        for (int k = 0; k < members; ++k) {
            const std::string member = " m" + std::to_string(k);
            const int roll = pick(rng);
            if (roll < 4) {
                s += "    " + name(static_cast<int>(rng() % n)) + member + cardinality(rng) + ";\n";
            } else if (roll < 6) {
                s += "    struct" + member + cardinality(rng) + " { " +
                     name(static_cast<int>(rng() % n)) + " r" + cardinality(rng) +
                     "; int<0..9> v; };\n";
            } else if (roll < 7) {
                s += "    union" + member + " { " + name(static_cast<int>(rng() % n)) +
                     " a; bool b; };\n";
            } else {
                s += "    int<0..9>" + member + cardinality(rng) + ";\n";
            }
        }
        s += "};\n";
    }
    if (pick(rng) < 3) {
        // Copies of a body plugged into two definitions share its members.
        s += "plug struct p { " + name(static_cast<int>(rng() % n)) +
             " q [*]; bool b; }; into m::" + name(0) + ";\n";
    }
    return s;
}

struct run_of {
    std::unique_ptr<run_context> run = std::make_unique<run_context>();
    diagnostics diag;
    testing::console_capture console;
    bool ready = false;

    explicit run_of(const std::string& schema) {
        init_run_context(*run);
        diag.console = console.file();
        ready = read_source_text(*run, diag, "m.pvx", schema, nullptr) == 0 &&
                post_parse(*run, diag) == 1;
    }
    ~run_of() { free_model(*run); }

    std::vector<std::int32_t> listed(const reference_counts& counts) const {
        std::vector<std::int32_t> out;
        for (const element* e = run->elements; e != nullptr; e = e->next()) {
            out.push_back(counts.of(*e));
        }
        return out;
    }
};

// What a grammar's text shows of its references: each rule name of a
// top-level definition written after a rule's "=" (comments and quoted
// strings aside). The default grammar writes a reference's further
// occurrences as "*( COMMA Name )" and counts the reference once; a
// structure written again for its further occurrences counts again, as it
// shows. The strict grammar's root in braces ("D0-braced") stands for the
// root; its own rule is the root's members in braces.
std::vector<std::int32_t> shown(const run_context& run, const std::string& text, bool strict) {
    std::vector<std::string> names;
    for (const element* e = run.elements; e != nullptr; e = e->next()) {
        names.emplace_back(e->name().view());
    }
    std::vector<std::int32_t> counts(names.size(), 0);
    std::istringstream lines(text);
    std::string line;
    bool in_rules = false;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("extension-params ", 0) == 0) break;  // the common rules
        const std::size_t comment = line.find("; ");
        if (comment != std::string::npos) line.erase(comment);
        if (!line.empty() && line[0] != ' ' && line[0] != '\t') {
            const std::size_t eq = line.find(" = ");
            if (eq == std::string::npos) continue;
            in_rules = true;
            // The root in braces is the root itself, not a reference to it.
            if (line.rfind(names[0] + "-braced = ", 0) == 0) continue;
            line.erase(0, eq + 3);
        }
        if (!in_rules) continue;
        std::istringstream words(line);
        std::vector<std::string> w;
        for (std::string word; words >> word;) w.push_back(word);
        for (std::size_t k = 0; k < w.size(); ++k) {
            if (!strict && k >= 2 && w[k - 1] == "COMMA" && w[k - 2].ends_with("(") &&
                k + 1 < w.size() && w[k + 1] == ")") {
                continue;  // the further occurrences of a reference
            }
            std::string word = w[k];
            if (strict && word == names[0] + "-braced") word = names[0];
            for (std::size_t i = 0; i < names.size(); ++i) {
                if (word == names[i]) ++counts[i];
            }
        }
    }
    return counts;
}

TEST(references, ThePassCountsTheReferencesEachGrammarShows) {
    std::mt19937 rng(5);
    int compared = 0;
    for (int round = 0; round < 300; ++round) {
        // A reference to a body without members shows no name in the strict
        // grammar (see the case below): those schemas are the default's only.
        const std::string schema = random_schema(rng, 1 + round % 12);
        const bool empty_bodies = schema.find("{ };") != std::string::npos;
        run_of r(schema);
        if (!r.ready) continue;
        for (const bool strict : {false, true}) {
            if (strict && empty_bodies) continue;
            grammar_settings settings;
            settings.strict = strict;
            std::string text;
            write_abnf_to_memory(*r.run, r.diag, settings, text);
            const reference_counts found =
                strict ? strict_grammar_references(*r.run) : default_grammar_references(*r.run);
            ASSERT_EQ(r.listed(found), shown(*r.run, text, strict))
                << (strict ? "strict\n" : "default\n") << schema << text;
            ++compared;
        }
    }
    EXPECT_GT(compared, 400);
}

TEST(references, ABodyWithoutMembersCountsByItsNameInTheStrictGrammar) {
    // The strict grammar writes such a reference as the empty body itself.
    run_of r(
        "pavex module m;\nstruct R { E e [2..3]; E f; U u; };\nstruct E { };\n"
        "union U { };\nstruct Unused { E g; };\n");
    ASSERT_TRUE(r.ready);
    EXPECT_EQ(r.listed(strict_grammar_references(*r.run)), (std::vector<std::int32_t>{0, 4, 1, 0}));
    EXPECT_EQ(r.listed(default_grammar_references(*r.run)),
              (std::vector<std::int32_t>{0, 3, 1, 0}));
}

TEST(references, TheUnreferencedNotesFollowThePass) {
    run_of r("pavex module m;\nstruct R { A a; };\nstruct A { bool b; };\nstruct B { A a; };\n");
    ASSERT_TRUE(r.ready);
    r.console.take();
    report_unreferenced(*r.run, default_grammar_references(*r.run), r.diag);
    EXPECT_EQ(r.console.take(), "B               : has not been referenced\n");
}

TEST(references, ALargeGrammarListsTheSameOnOneThreadAndOnTwo) {
    // Large enough to be written in batches on two threads.
    std::string schema = "pavex module m;\nstruct D0 { D1 a; };\n";
    const int n = 30000;
    for (int i = 1; i < n; ++i) {
        schema += "struct D" + std::to_string(i) + " { int<0..9> v; bool b;";
        if (i % 3 != 0 && i + 1 < n) schema += " D" + std::to_string(i + 1) + " next [?];";
        schema += " };\n";
    }
    std::string listed[2];
    for (const unsigned threads : {1u, 2u}) {
        run_of r(schema);
        ASSERT_TRUE(r.ready);
        ASSERT_GT(r.run->element_count, 1u << 16);  // many batches
        r.console.take();
        grammar_settings settings;
        settings.threads = threads;
        const std::string path = std::string(QRV_TEST_TMP) + "/references-large.abnf";
        std::filesystem::create_directories(QRV_TEST_TMP);
        ASSERT_EQ(write_output(*r.run, r.diag, path.c_str(), settings), 0);
        listed[threads - 1] = r.console.take();
        std::filesystem::remove(path);
    }
    EXPECT_EQ(listed[1], listed[0]);
    // Di refers to the next one unless i is a multiple of three: nothing
    // refers to D4, D3 refers to nothing but D2 refers to D3.
    EXPECT_NE(listed[0].find("D4              : has not been referenced\n"), std::string::npos);
    EXPECT_EQ(listed[0].find("D3              : has not been referenced\n"), std::string::npos);
}

}  // namespace
}  // namespace qrv
