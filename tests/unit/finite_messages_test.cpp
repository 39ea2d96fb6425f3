// The one answer to "has a finite message": the graph computation against a
// plain reachability oracle on random graphs, and the strict checks and the
// example writer, which both take it, against the oracle on random schemas
// of structures that require and may hold each other.
#include "encoding/finite_messages.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "abnf/strict_grammar.h"
#include "console_capture.h"
#include "frontend/source.h"
#include "messages/example_writer.h"
#include "postparse/post_parse.h"

namespace qrv {
namespace {

using graph = std::vector<std::vector<int>>;

// Nodes reachable from `from` through at least one edge.
std::vector<bool> reached_from(const graph& g, int from) {
    std::vector<bool> seen(g.size(), false);
    std::vector<int> stack(g[from].begin(), g[from].end());
    while (!stack.empty()) {
        const int v = stack.back();
        stack.pop_back();
        if (seen[v]) continue;
        seen[v] = true;
        for (int w : g[v]) stack.push_back(w);
    }
    return seen;
}

struct oracle {
    std::vector<bool> on_cycle;
    std::vector<bool> finite;
};

oracle plain_answer(const graph& g) {
    oracle o;
    const int n = static_cast<int>(g.size());
    for (int v = 0; v < n; ++v) o.on_cycle.push_back(reached_from(g, v)[v]);
    for (int v = 0; v < n; ++v) {
        const std::vector<bool> r = reached_from(g, v);
        bool finite = !o.on_cycle[v];
        for (int w = 0; w < n; ++w) finite = finite && !(r[w] && o.on_cycle[w]);
        o.finite.push_back(finite);
    }
    return o;
}

TEST(finite_messages, TheGraphAnswerIsThatOfPlainReachability) {
    std::mt19937 rng(7);
    for (int round = 0; round < 400; ++round) {
        const int n = 1 + round % 14;
        graph g(n);
        chain_graph::edge_list edges;
        std::uniform_int_distribution<int> node(0, n - 1);
        const int count = node(rng) + node(rng) / 2;
        for (int k = 0; k < count; ++k) {
            const int a = node(rng);
            const int b = node(rng);
            g[a].push_back(b);
            edges.emplace_back(a, b);
            if (k % 5 == 0) edges.emplace_back(a, b);  // duplicates change nothing
        }
        const finite_messages got = find_finite_messages(n, edges);
        const oracle want = plain_answer(g);
        ASSERT_EQ(got.on_cycle, want.on_cycle) << "round " << round;
        ASSERT_EQ(got.finite, want.finite) << "round " << round;
    }
}

// Structures S0.. that hold each other: required, optional, or never (a
// count of 0), some through a union, which always has a finite value.
struct schema {
    std::string text;
    graph required;
};

schema random_schema(std::mt19937& rng, int n) {
    schema s;
    s.text = "pavex module m;\n";
    s.required.assign(n, {});
    std::uniform_int_distribution<int> pick(0, 9);
    std::uniform_int_distribution<int> other(0, n - 1);
    for (int i = 0; i < n; ++i) {
        s.text += "struct S" + std::to_string(i) + " {\n    int<0..9> v;\n";
        const int members = pick(rng) % 4;
        for (int k = 0; k < members; ++k) {
            const int j = other(rng);
            const std::string name = " m" + std::to_string(k);
            const int roll = pick(rng);
            if (roll < 5) {
                s.text += "    S" + std::to_string(j) + name + (roll == 0 ? " [2..3]" : "") + ";\n";
                s.required[i].push_back(j);
            } else if (roll < 7) {
                s.text += "    S" + std::to_string(j) + name + " [?];\n";
            } else if (roll < 8) {
                s.text += "    S" + std::to_string(j) + name + " [0..0];\n";
            } else {
                s.text += "    U" + std::to_string(j) + name + ";\n";
            }
        }
        s.text += "};\nunion U" + std::to_string(i) + " { S" + std::to_string(i) + " s; };\n";
    }
    return s;
}

TEST(finite_messages, TheStrictChecksAndTheExampleWriterGiveTheSameAnswer) {
    std::mt19937 rng(11);
    for (int round = 0; round < 120; ++round) {
        const int n = 1 + round % 9;
        const schema s = random_schema(rng, n);
        auto run = std::make_unique<run_context>();
        init_run_context(*run);
        diagnostics diag;
        testing::console_capture captured;
        diag.console = captured.file();
        ASSERT_EQ(read_source_text(*run, diag, "m.pvx", s.text, nullptr), 0) << s.text;
        ASSERT_EQ(post_parse(*run, diag), 1) << s.text;
        check_strict_grammar(*run, diag);
        const std::string console = captured.take();
        const oracle want = plain_answer(s.required);
        int i = 0;
        for (const element* e = run->elements; e != nullptr; e = e->next()) {
            if (e->kind != ET_STRUCT) continue;
            const std::string name = "S" + std::to_string(i);
            ASSERT_EQ(e->name().view(), name);
            const example_maker maker(*e);
            EXPECT_EQ(maker.status() == example_status::no_finite_message, !want.finite[i])
                << s.text << name;
            const bool reported =
                console.find(name + " contains itself through required members only") !=
                std::string::npos;
            EXPECT_EQ(reported, bool(want.on_cycle[i])) << s.text << console << name;
            ++i;
        }
        free_model(*run);
    }
}

}  // namespace
}  // namespace qrv
