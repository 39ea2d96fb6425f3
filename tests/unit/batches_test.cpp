// Rules written in batches on two threads must be the rules written one
// after another: the same text, the same notes in the same order, the same
// counts and reference counts, wherever the batches begin.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "abnf/default_grammar.h"
#include "abnf/references.h"
#include "abnf/rule_writer.h"
#include "frontend/source.h"
#include "postparse/post_parse.h"
#include "support/output_writer.h"
#include "test_model.h"
#include "tests/unit/console_capture.h"

namespace qrv {
namespace {

// Definitions that refer to each other, with what makes the writer print
// notes (untagged union members, an untagged void) and, when asked, a tag
// with a brace, which moves the indentation of everything after it.
std::string random_schema(std::mt19937& rng, int definitions, bool brace_tag) {
    std::string s = "pavex module m;\n";
    std::uniform_int_distribution<int> pick(0, 9);
    for (int i = 0; i < definitions; ++i) {
        const bool is_union = pick(rng) == 0;
        s += (is_union ? "union D" : "struct D") + std::to_string(i) + " {\n";
        const int members = 1 + pick(rng) % 4;
        for (int k = 0; k < members; ++k) {
            const std::string name = " m" + std::to_string(k);
            const int roll = pick(rng);
            if (k == 0 && roll < 2) {
                // Untagged items come first; these the writer notes.
                s += (roll == 0 ? "    ascii<1..8>" : "    void") + name + " as ?;\n";
            } else if (roll < 4 && i + 1 < definitions) {
                s += "    D" + std::to_string(i + 1 + pick(rng) % (definitions - i - 1)) + name +
                     " [*];\n";
            } else if (roll < 6 && brace_tag && i == definitions / 2) {
                s += "    int<0..9>" + name + " as t{" + std::to_string(k) + ";\n";
            } else if (roll < 7) {
                s += "    void" + name + ";\n";
            } else {
                s += "    int<-5..500>" + name + (roll == 9 ? " [?]" : "") + ";\n";
            }
        }
        s += "};\n";
    }
    return s;
}

struct written {
    std::string text;
    std::string console;
    std::int64_t error_count = 0;
    std::int32_t error_note_count = 0;
    std::vector<std::int32_t> counts;
};

written write_in_batches(const std::string& schema, std::size_t batch_size, unsigned threads) {
    auto run = std::make_unique<run_context>();
    diagnostics diag;
    init_run_context(*run);
    testing::console_capture console;
    diag.console = console.file();
    written out;
    if (read_source_text(*run, diag, "t.pvx", schema, nullptr) != 0 ||
        post_parse(*run, diag) != 1) {
        out.console = console.text();
        return out;
    }
    console.take();
    output_writer writer;
    writer.diag = &diag;
    sink_open_memory(writer, &out.text);
    write_rules(*run, writer, diag, batch_size, threads);
    sink_close(writer);
    const reference_counts counts = default_grammar_references(*run);
    report_unreferenced(*run, counts, diag);
    out.console = console.text();
    out.error_count = diag.error_count;
    out.error_note_count = diag.error_note_count;
    for (const element* e = run->elements; e != nullptr; e = e->next()) {
        out.counts.push_back(counts.of(*e));
    }
    return out;
}

TEST(batches, rules_in_batches_are_the_rules_one_after_another) {
    std::mt19937 rng(4711);
    int with_notes = 0;
    for (int round = 0; round < 60; ++round) {
        const std::string schema = random_schema(rng, 5 + round % 40, round % 4 == 3);
        const written expected = write_in_batches(schema, 0, 1);
        ASSERT_FALSE(expected.text.empty()) << schema << expected.console;
        if (expected.error_note_count > 0) ++with_notes;
        for (const std::size_t batch : {1u, 2u, 3u, 7u, 64u}) {
            const written got = write_in_batches(schema, batch, 2);
            ASSERT_EQ(got.text, expected.text) << "round " << round << " batch " << batch;
            ASSERT_EQ(got.console, expected.console) << "round " << round << " batch " << batch;
            ASSERT_EQ(got.error_count, expected.error_count);
            ASSERT_EQ(got.error_note_count, expected.error_note_count);
            ASSERT_EQ(got.counts, expected.counts) << "round " << round << " batch " << batch;
        }
    }
    EXPECT_GT(with_notes, 20);
}

}  // namespace
}  // namespace qrv
