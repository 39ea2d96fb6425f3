// The compact storage of the model: counted texts, the name index and the
// marks walks keep in member chains; and the writer's buffer, which layout
// rules and file blocks must agree on.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "model/model.h"
#include "support/atomic_file.h"
#include "support/output_writer.h"
#include "test_model.h"

namespace qrv {
namespace {

struct records : ::testing::Test {
    run_context run;
    diagnostics diag;
    parse_state ps;
    std::vector<element*> chain;

    void SetUp() override {
        init_run_context(run);
        ps.run = &run;
        ps.diag = &diag;
    }

    // A chain of elements with these names, in order.
    element* make_chain(const std::vector<std::string>& names) {
        chain.clear();
        for (const std::string& n : names) {
            element* e = new_element(ps);
            e->set_name(make_text(run, n));
            if (!chain.empty()) chain.back()->set_next(e);
            chain.push_back(e);
        }
        return chain.empty() ? nullptr : chain.front();
    }
};

TEST_F(records, texts_know_their_length_whatever_their_characters) {
    const text with_zero = run.texts.copy(std::string_view("a\0b", 3));
    EXPECT_EQ(with_zero.size(), 3u);
    EXPECT_FALSE(with_zero.empty());
    EXPECT_EQ(with_zero.view(), std::string_view("a\0b", 3));

    const text none{};
    EXPECT_TRUE(none.empty());
    EXPECT_STREQ(none.c_str(), "");
    EXPECT_TRUE(run.texts.concat("", "").empty());

    const std::string long_one(70000, 'z');
    const text big = run.texts.concat(long_one, "!", long_one);
    EXPECT_EQ(big.size(), 2 * long_one.size() + 1);
    EXPECT_EQ(big[long_one.size()], '!');
    EXPECT_EQ(big.c_str()[big.size()], '\0');

    // Equal characters are equal texts, wherever they are kept.
    EXPECT_EQ(make_text(run, "same"), make_text(run, "same"));
    EXPECT_FALSE(make_text(run, "same") == make_text(run, "sam"));
}

TEST_F(records, name_index_finds_the_first_of_each_name) {
    const std::string long_a = "a_name_longer_than_sixteen_characters_1";
    const std::string long_b = "a_name_longer_than_sixteen_characters_2";
    make_chain({"Msg", "x", long_a, "Msg", long_b, "sixteen_chars_ab", "sixteen_chars_abc"});
    name_index index(run.storage, run.texts);
    element* const first = chain.front();

    EXPECT_EQ(index.find(first, "Msg"), chain[0]);  // not the later one
    EXPECT_EQ(index.find(first, "x"), chain[1]);
    EXPECT_EQ(index.find(first, long_a), chain[2]);
    EXPECT_EQ(index.find(first, long_b), chain[4]);
    EXPECT_EQ(index.find(first, "sixteen_chars_ab"), chain[5]);
    EXPECT_EQ(index.find(first, "sixteen_chars_abc"), chain[6]);

    // Prefixes, extensions and unknown names find nothing.
    EXPECT_EQ(index.find(first, "Ms"), nullptr);
    EXPECT_EQ(index.find(first, "Msg0"), nullptr);
    EXPECT_EQ(index.find(first, long_a.substr(0, 16)), nullptr);
    EXPECT_EQ(index.find(first, long_a + "x"), nullptr);
    EXPECT_EQ(index.find(first, ""), nullptr);
    EXPECT_EQ(index.find(first, std::string_view("x\0", 2)), nullptr);

    name_index never_asked(run.storage, run.texts);
    EXPECT_EQ(never_asked.find(nullptr, "Msg"), nullptr);
}

TEST_F(records, name_index_tells_apart_names_whose_hashes_agree) {
    // Pairs of the same length whose hashes agree in the index's slots:
    // only their characters tell them apart, short or long.
    make_chain({"s0004407", "a_long_definition_name_0147219", "s0026348",
                "a_long_definition_name_0176506"});
    name_index index(run.storage, run.texts);
    element* const first = chain.front();
    EXPECT_EQ(index.find(first, "s0004407"), chain[0]);
    EXPECT_EQ(index.find(first, "a_long_definition_name_0147219"), chain[1]);
    EXPECT_EQ(index.find(first, "s0026348"), chain[2]);
    EXPECT_EQ(index.find(first, "a_long_definition_name_0176506"), chain[3]);
}

TEST_F(records, name_index_holds_many_names_and_their_repeats) {
    std::vector<std::string> names;
    for (int i = 0; i < 5000; ++i) names.push_back("N" + std::to_string(i));
    for (int i = 0; i < 5000; i += 7) names.push_back("N" + std::to_string(i));
    make_chain(names);
    name_index index(run.storage, run.texts);
    element* const first = chain.front();
    for (int i = 0; i < 5000; ++i) {
        ASSERT_EQ(index.find(first, names[static_cast<std::size_t>(i)]),
                  chain[static_cast<std::size_t>(i)])
            << names[static_cast<std::size_t>(i)];
    }
    EXPECT_EQ(index.find(first, "N5000"), nullptr);
}

TEST_F(records, name_index_keeps_chains_apart_and_takes_in_what_is_appended) {
    element* one = make_chain({"a", "b"});
    const std::vector<element*> first_chain = chain;
    element* two = make_chain({"b", "c"});
    const std::vector<element*> second_chain = chain;
    name_index index(run.storage, run.texts);
    EXPECT_EQ(index.find(one, "b"), first_chain[1]);
    EXPECT_EQ(index.find(two, "b"), second_chain[0]);
    EXPECT_EQ(index.find(one, "c"), nullptr);

    // Appending the second chain to the first (as joining does), and then
    // more elements to it (as plugging does): the first of a name stays.
    first_chain[1]->set_next(two);
    EXPECT_EQ(index.find(one, "c"), second_chain[1]);
    EXPECT_EQ(index.find(one, "b"), first_chain[1]);
    make_chain({"d", "a"});
    second_chain[1]->set_next(chain.front());
    EXPECT_EQ(index.find(one, "d"), chain[0]);
    EXPECT_EQ(index.find(one, "a"), first_chain[0]);
    EXPECT_EQ(index.find(two, "d"), chain[0]);  // a chain of its own, indexed on demand
    EXPECT_EQ(index.find(two, "a"), chain[1]);

    // Thousands of chains of a few members each, asked in turn.
    std::vector<std::vector<element*>> chains;
    for (int i = 0; i < 3000; ++i) {
        make_chain({"x", "y" + std::to_string(i), "x"});
        chains.push_back(chain);
    }
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 3000; ++i) {
            const auto& c = chains[static_cast<std::size_t>(i)];
            ASSERT_EQ(index.find(c[0], "x"), c[0]);
            ASSERT_EQ(index.find(c[0], "y" + std::to_string(i)), c[1]);
            ASSERT_EQ(index.find(c[0], "y" + std::to_string(i + 1)), nullptr);
        }
    }
}

TEST_F(records, name_index_finds_the_first_module_and_the_newest_alias) {
    module_record* a = new_module_record(run);
    module_record* b = new_module_record(run);
    module_record* again = new_module_record(run);
    a->name = make_text(run, "core");
    b->name = make_text(run, "");
    again->name = make_text(run, "core");
    a->next = b;
    name_index index(run.storage, run.texts);
    EXPECT_EQ(index.find_module(a, "core"), a);
    EXPECT_EQ(index.find_module(a, ""), b);  // a module without a name statement
    module_record* late = new_module_record(run);
    late->name = make_text(run, "late");
    b->next = again;
    again->next = late;  // modules read later are found too
    EXPECT_EQ(index.find_module(a, "late"), late);
    EXPECT_EQ(index.find_module(a, "core"), a);

    // Newest first: the head entry of an alias wins over an older one.
    module_ref* older = new_module_ref(run);
    older->alias = make_text(run, "t");
    older->module_name = make_text(run, "old");
    module_ref* newer = new_module_ref(run);
    newer->alias = make_text(run, "t");
    newer->module_name = make_text(run, "new");
    newer->next = older;
    std::string_view target;
    ASSERT_TRUE(index.find_alias(newer, "t", &target));
    EXPECT_EQ(target, "new");
    ASSERT_TRUE(index.find_alias(older, "t", &target));
    EXPECT_EQ(target, "old");
    EXPECT_FALSE(index.find_alias(newer, "u", &target));
    EXPECT_FALSE(index.find_alias(nullptr, "t", &target));
}

TEST_F(records, each_walk_sees_only_its_own_marks) {
    make_chain({"a", "b"});
    element* a = chain[0];
    element* b = chain[1];
    chain_marks first;
    {
        EXPECT_EQ(first.find(a), nullptr);
        EXPECT_TRUE(first.insert(a, 7));
        EXPECT_FALSE(first.insert(a, 9));  // a value stays
        ASSERT_NE(first.find(a), nullptr);
        EXPECT_EQ(*first.find(a), 7);
        EXPECT_EQ(first.find(b), nullptr);
        first.erase(a);
        EXPECT_EQ(first.find(a), nullptr);
        EXPECT_TRUE(first.insert(a, 0));
    }

    // Two walks at once keep apart; a copy has an id, and marks, of its own.
    element* copy = copy_element(run, *a);
    EXPECT_NE(copy->id, a->id);
    EXPECT_EQ(copy->name(), a->name());
    chain_marks second;
    EXPECT_EQ(second.find(a), nullptr);
    EXPECT_EQ(first.find(copy), nullptr);
    EXPECT_TRUE(second.insert(copy, 1));
    EXPECT_EQ(second.find(a), nullptr);
    EXPECT_EQ(*first.find(a), 0);

    // Elements made after a walk began are marked like the others, and
    // every mark value is kept, negative ones included.
    for (int i = 0; i < 5000; ++i) new_element(ps);
    element* late = new_element(ps);
    EXPECT_EQ(late->id + 1, run.element_count);
    EXPECT_EQ(first.find(late), nullptr);
    EXPECT_TRUE(first.insert(late, -2));
    EXPECT_EQ(*first.find(late), -2);
    EXPECT_EQ(*first.find(a), 0);
}

// Tables past 256 KB move to large pages as they grow: what they held comes
// along, and states set before the storage grew stay where they were set.
TEST_F(records, large_tables_keep_what_they_hold_as_they_grow) {
    std::vector<std::string> names;
    for (int i = 0; i < 60000; ++i) names.push_back("Msg" + std::to_string(i));
    make_chain(names);
    name_index index(run.storage, run.texts);
    chain_states states(run.storage);
    states.set(chain[0], 2);
    states.set(chain[59999], 3);
    for (int i = 0; i < 60000; i += 997) {
        const auto k = static_cast<std::size_t>(i);
        ASSERT_EQ(index.find(chain.front(), names[k]), chain[k]) << names[k];
        ASSERT_EQ(run.texts.find(names[k]), chain[k]->name()) << names[k];
    }
    EXPECT_EQ(index.find(chain.front(), "Msg60000"), nullptr);
    EXPECT_TRUE(run.texts.find("Msg60000").empty());

    // Far more elements than the table first had room for.
    element* late = nullptr;
    for (int i = 0; i < 1200000; ++i) late = new_element(ps);
    EXPECT_EQ(states.get(late), 0u);
    states.set(late, 1);
    EXPECT_EQ(states.get(late), 1u);
    EXPECT_EQ(states.get(chain[0]), 2u);
    EXPECT_EQ(states.get(chain[59999]), 3u);
    EXPECT_EQ(states.get(chain[1]), 0u);
}

std::string read_file(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Texts written straight into the file's buffer come out exactly as the
// layout rules write them into memory, also where a text crosses a block.
TEST(writer_buffer, file_and_memory_output_agree_across_block_boundaries) {
    std::vector<std::string> pieces;
    for (int i = 0; i < 3000; ++i) {
        std::string p = "piece" + std::to_string(i);
        if (i % 3 == 0) p += "\t";
        if (i % 5 == 0) p += "{x}";
        if (i % 7 == 0) p += "\n";
        if (i % 11 == 0) p += std::string(static_cast<std::size_t>(i * 13 % 900), 'w');
        pieces.push_back(p);
    }
    pieces.push_back(std::string(200000, 'L') + "\n\t}end");  // longer than a block

    std::string expected;
    output_writer memory_writer;
    sink_open_memory(memory_writer, &expected);
    for (const std::string& p : pieces) emit_text(memory_writer, p);
    sink_close(memory_writer);

    const auto folder = std::filesystem::path(QRV_TEST_TMP) / "writer_buffer";
    std::filesystem::create_directories(folder);
    const auto path = folder / "out.txt";
    atomic_file file;
    ASSERT_TRUE(file.open(path.c_str()));
    output_writer file_writer;
    sink_open_stream(file_writer, file.stream());
    for (const std::string& p : pieces) emit_text(file_writer, p);
    EXPECT_EQ(file_writer.column, memory_writer.column);
    EXPECT_EQ(file_writer.depth, memory_writer.depth);
    ASSERT_TRUE(sink_close(file_writer));
    ASSERT_TRUE(file.commit());

    EXPECT_GT(expected.size(), 4u * 64 * 1024);
    EXPECT_EQ(read_file(path), expected);
}

}  // namespace
}  // namespace qrv
