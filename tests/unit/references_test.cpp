// The references pass against what writing the grammars counts, on random
// schemas: references to structures, unions, empty bodies and simple
// definitions, repeated and optional members, bodies declared in place,
// plugged copies that share members, references among the top-level
// definitions, a root that stands for another definition.
#include "abnf/references.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
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

TEST(references, ThePassCountsWhatWritingEachGrammarCounts) {
    std::mt19937 rng(5);
    int compared = 0;
    for (int round = 0; round < 300; ++round) {
        const std::string schema = random_schema(rng, 1 + round % 12);
        run_of r(schema);
        if (!r.ready) continue;
        for (const bool strict : {false, true}) {
            grammar_settings settings;
            settings.strict = strict;
            output_writer writer;
            std::string text;
            reference_counts written(*r.run);
            write_abnf_to_memory(*r.run, r.diag, settings, writer, text, &written);
            const reference_counts found =
                strict ? strict_grammar_references(*r.run) : default_grammar_references(*r.run);
            ASSERT_EQ(r.listed(found), r.listed(written))
                << (strict ? "strict\n" : "default\n") << schema;
            ++compared;
        }
    }
    EXPECT_GT(compared, 300);
}

}  // namespace
}  // namespace qrv
