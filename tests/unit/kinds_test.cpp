// The table of the simple kinds (encoding/kinds.def): every row has every
// column and every simple kind of the model a row; an example value of
// every kind, the shortest and the seed's, is read whole by the kind's
// reader, in the bytes the example writer plans for it; and the default
// grammar's text of every kind is the one the golden case of all kinds
// shows.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "abnf/rule_writer.h"
#include "console_capture.h"
#include "encoding/encoding.h"
#include "encoding/value_reader.h"
#include "frontend/source.h"
#include "messages/example_values.h"
#include "postparse/post_parse.h"

namespace qrv {
namespace {

constexpr element_kind simple_kinds[] = {
#define QRV_KIND(kind, form) kind,
#include "encoding/kinds.def"
#undef QRV_KIND
};

TEST(kind_table, EveryRowHasEveryColumn) {
    std::set<value_kind> used;
    for (std::size_t i = 0; i < form_count; ++i) {
        const form_row& row = form_rows[i];
        EXPECT_EQ(static_cast<std::size_t>(row.kind), i);
        EXPECT_NE(std::string(row.stem), "");
        const bool named_by_member = row.kind == value_kind::none || row.kind == value_kind::empty;
        EXPECT_EQ(row.expected == nullptr, named_by_member) << row.stem;
        // Only the forms that have a size or range note it.
        if (row.noted) {
            EXPECT_NE(row.bounds, bounds_kind::none) << row.stem;
        }
    }
    for (const element_kind k : simple_kinds) {
        EXPECT_TRUE(is_simple_kind(k));
        EXPECT_NE(form_kind_of(k), value_kind::none) << static_cast<int>(k);
        used.insert(form_kind_of(k));
        element e;
        e.kind = k;
        EXPECT_EQ(simple_form(e).kind, form_kind_of(k));
    }
    // Every form but `none` stands for a kind; bodies and references have none.
    EXPECT_EQ(used.size(), form_count - 1);
    for (const element_kind k : {ET_STRUCT, ET_UNION, ET_COMBINED, ET_LINK}) {
        EXPECT_FALSE(is_simple_kind(k));
        EXPECT_EQ(form_kind_of(k), value_kind::none);
    }
}

// Elements of one kind with the constraints it may have.
struct variants_of {
    std::unique_ptr<run_context> run = std::make_unique<run_context>();
    std::vector<element*> elements;

    explicit variants_of(element_kind k) {
        init_run_context(*run);
        const auto add = [&](bool constrained, std::uint32_t min, std::uint32_t max,
                             bool negative) {
            element* e = allocate_element(*run);
            e->kind = k;
            e->constrained = constrained;
            e->min = min;
            e->max = max;
            e->min_negative = negative;
            e->max_negative = negative && max != 0 && min >= max;
            if (k == ET_CONST) e->set_const_value(make_text(*run, "end of data"));
            elements.push_back(e);
        };
        add(false, 0, 0, false);
        if (row_of(k).bounds == bounds_kind::range) {
            add(true, 0, 9, false);
            add(true, 40, 7, true);  // -40..7
            add(true, 120, 4000, false);
        } else if (row_of(k).bounds == bounds_kind::size) {
            add(true, 0, 0, false);
            add(true, 1, 3, false);
            add(true, 58, 200, false);
        }
    }
    ~variants_of() { free_model(*run); }
};

// The reader takes the whole text as one value of `f`.
std::string read_whole(const value_form& f, const std::string& text, bool in_combination) {
    scanner s(text);
    if (!s.read_value(f, in_combination)) return s.failure ? s.failure->message : "failed";
    if (s.pos != text.size()) return "stopped at " + std::to_string(s.pos);
    return "";
}

// Every kind of the model, simple or not, is named by a word of its own.
TEST(kind_table, EveryKindHasAKeywordOfItsOwn) {
    std::set<std::string> words;
    for (int k = ET_STRUCT; k <= ET_LINK; ++k) {
        const std::string word = keyword_of(static_cast<element_kind>(k));
        EXPECT_NE(word, "") << k;
        EXPECT_TRUE(words.insert(word).second) << word;
    }
}

TEST(kind_table, TheExamplesOfEveryKindAreReadByItsReader) {
    for (const element_kind k : simple_kinds) {
        variants_of v(k);
        for (const element* e : v.elements) {
            const value_form f = simple_form(*e);
            for (const bool combination : {false, true}) {
                if (combination && !row_of(f.kind).combination) continue;
                const char* stem = row_of(f.kind).stem;
                std::string least;
                {
                    examples::splitmix64 random(0);
                    examples::text_out out(least);
                    examples::value_writer(random, out).least(f, combination);
                }
                EXPECT_EQ(read_whole(f, least, combination), "") << stem << ": " << least;
                EXPECT_EQ(least.size(), examples::least_bytes(f, combination)) << stem;
                for (std::uint64_t seed = 0; seed < 200; ++seed) {
                    std::string text;
                    examples::splitmix64 random(seed);
                    examples::text_out out(text);
                    examples::value_writer(random, out).write(f, combination);
                    ASSERT_EQ(read_whole(f, text, combination), "")
                        << stem << " seed " << seed << ": " << text;
                    ASSERT_LE(text.size(), std::max(examples::most_bytes(f),
                                                    examples::least_bytes(f, combination)))
                        << stem << ": " << text;
                }
            }
        }
    }
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(kind_table, TheDefaultTextOfEveryKindIsTheGoldenOne) {
    const std::string folder = std::string(QRV_SOURCE_DIR) + "/tests/golden/abnf-rules/kinds/";
    const std::string golden = read_file(folder + "expected/out.abnf");
    ASSERT_FALSE(golden.empty());
    auto run = std::make_unique<run_context>();
    init_run_context(*run);
    diagnostics diag;
    testing::console_capture captured;
    diag.console = captured.file();
    ASSERT_EQ(read_source_text(*run, diag, "in.pvx", read_file(folder + "in.pvx"), nullptr), 0);
    ASSERT_EQ(post_parse(*run, diag), 1);
    std::set<element_kind> seen;
    for (const element* m = run->elements->children(); m != nullptr; m = m->next()) {
        if (!is_simple_kind(m->kind)) continue;
        seen.insert(m->kind);
        if (m->kind == ET_NULL) continue;  // a tagged void is its tag alone
        std::string text;
        output_writer writer;
        sink_open_memory(writer, &text);
        rule_writer w(*run, writer, diag);
        if (!write_default_simple(w, simple_form(*m))) put(w, "TYPE??? ");
        flush_pending(w);
        sink_close(writer);
        const std::string shown = "( \"" + std::string(m->tag().view()) + "\" EQUAL " + text;
        EXPECT_NE(golden.find(shown), std::string::npos) << shown;
    }
    // The golden case holds every simple kind: a new kind needs its line.
    EXPECT_EQ(seen.size(), std::size(simple_kinds));
    free_model(*run);
}

}  // namespace
}  // namespace qrv
