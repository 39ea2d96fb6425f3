#include "model/model.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "test_model.h"

namespace qrv {
namespace {

struct model_fixture : ::testing::Test {
    run_context run;
    diagnostics diag;
    module_record* module = nullptr;
    parse_state ps;

    void SetUp() override {
        init_run_context(run);
        module = new_module_record(run);
        ps.run = &run;
        ps.diag = &diag;
        ps.module = module;
    }

    element* add(chain_head head, const char* name) {
        element* e = new_element(ps);
        e->set_name(make_text(run, name));
        append_element(head, e);
        return e;
    }
};

TEST_F(model_fixture, new_element_has_marker_names_and_defaults) {
    ps.line = 7;
    element* e = new_element(ps);
    EXPECT_EQ(e->name(), "___QRV_UnInitialised___");
    EXPECT_EQ(e->tag(), "___QRV_UnInitialised___");
    EXPECT_EQ(e->c_name(), "___QRV_UnInitialised___");
    EXPECT_TRUE(e->link().empty());
    EXPECT_EQ(e->line(), 7);
    EXPECT_EQ(e->module(), module);
    EXPECT_FALSE(e->has_cardinality);
    EXPECT_TRUE(e->cardinality_unbounded);
}

// A copy has every value of the original and a number of its own; its
// references lead where the original's do, though they are kept as
// distances from another place.
TEST_F(model_fixture, a_copy_has_every_field_of_the_original) {
    // A field added to the element makes this test fail to compile until it
    // is set and compared below.
    static_assert(sizeof(element_values) == 24, "set and compare the new field below");
    element* o = new_element(ps);
    o->set_name(make_text(run, "name"));
    o->set_c_name(make_text(run, "c_name"));
    o->set_tag(make_text(run, "tag"));
    o->set_link(make_text(run, "m::link"));
    o->set_const_value(make_text(run, "const"));
    element* member = new_element(ps);
    element* sibling = new_element(ps);
    o->set_children(member);
    o->set_next(sibling);
    o->set_line(0x1234567890LL);
    o->min = 1;
    o->max = 2;
    o->cardinality_min = 3;
    o->cardinality_max = 4;
    o->kind = ET_EMBEDDED;
    o->constrained = o->min_negative = o->max_negative = o->has_cardinality = true;
    o->cardinality_unbounded = false;
    o->z_suffix = o->plugin = o->in_main_module = o->listed = o->dynamic = o->is_copy =
        o->recursive = o->has_pattern = true;

    const element* c = copy_element(run, *o);
    EXPECT_NE(c->id, o->id);
    EXPECT_EQ(c->name().p, o->name().p);
    EXPECT_EQ(c->c_name().p, o->c_name().p);
    EXPECT_EQ(c->tag().p, o->tag().p);
    EXPECT_EQ(c->link().p, o->link().p);
    EXPECT_EQ(c->const_value().p, o->const_value().p);
    EXPECT_EQ(c->children(), member);
    EXPECT_EQ(c->next(), sibling);
    EXPECT_EQ(c->module(), module);
    EXPECT_EQ(c->line(), 0x1234567890LL);
    EXPECT_EQ(c->min, 1u);
    EXPECT_EQ(c->max, 2u);
    EXPECT_EQ(c->cardinality_min, 3u);
    EXPECT_EQ(c->cardinality_max, 4u);
    EXPECT_EQ(c->kind, ET_EMBEDDED);
    EXPECT_TRUE(c->constrained && c->min_negative && c->max_negative && c->has_cardinality);
    EXPECT_FALSE(c->cardinality_unbounded);
    EXPECT_TRUE(c->z_suffix && c->plugin && c->in_main_module && c->listed && c->dynamic &&
                c->is_copy && c->recursive && c->has_pattern);
    // And the other way: every flag clear is copied as clear.
    element* plain = new_element(ps);
    plain->cardinality_unbounded = true;
    const element* d = copy_element(run, *plain);
    EXPECT_TRUE(d->cardinality_unbounded);
    EXPECT_FALSE(d->constrained || d->plugin || d->recursive || d->is_copy);
}

TEST_F(model_fixture, element_after_version_brackets_is_optional) {
    body_frame frame;
    ps.frame = &frame;
    EXPECT_FALSE(new_element(ps)->has_cardinality);
    frame.brackets_seen = true;
    element* e = new_element(ps);
    EXPECT_TRUE(e->has_cardinality);
    EXPECT_EQ(e->cardinality_min, 0u);
    EXPECT_EQ(e->cardinality_max, 1u);
    EXPECT_FALSE(e->cardinality_unbounded);
}

TEST_F(model_fixture, find_element_by_dotted_path) {
    element* msg = add(&module->elements, "Msg");
    element* other = add(&module->elements, "Other");
    element* hdr = add(chain_head::members_of(*msg), "hdr");
    element* id = add(chain_head::members_of(*hdr), "id");

    EXPECT_EQ(find_element(run, module, "Msg"), msg);
    EXPECT_EQ(find_element(run, module, "Other"), other);
    EXPECT_EQ(find_element(run, module, "Msg.hdr"), hdr);
    EXPECT_EQ(find_element(run, module, "Msg.hdr.id"), id);
    EXPECT_EQ(find_element(run, module, "Msg.nothing"), nullptr);
    EXPECT_EQ(find_element(run, module, "hdr"), nullptr);  // members are not top level
    EXPECT_EQ(find_element(run, module, "msg"), nullptr);  // case matters
    EXPECT_EQ(find_element(run, module, ""), msg);         // empty path: first element
    EXPECT_EQ(find_element(run, module, "Msg."), hdr);     // trailing dot: first member
    EXPECT_EQ(find_element(run, module, "Msg.hdr.id."), nullptr);
    EXPECT_EQ(find_element(run, module, "Msg..hdr"), nullptr);
    EXPECT_EQ(find_element(run, module, ".Msg"), nullptr);
    EXPECT_EQ(find_element(run, nullptr, "Msg"), nullptr);
}

// The index keeps the first characters of a name in its slot: names that
// share those characters, differ only in length, or pass them must still
// be told apart, and the first element of a name stays the answer.
TEST_F(model_fixture, index_tells_apart_names_past_the_kept_characters) {
    const std::string head(16, 'h');
    element* exact = add(&module->elements, head.c_str());
    element* longer_a = add(&module->elements, (head + "a").c_str());
    element* longer_b = add(&module->elements, (head + "b").c_str());
    element* shorter = add(&module->elements, head.substr(0, 15).c_str());
    add(&module->elements, (head + "a").c_str());  // a second of a name: the first stays
    const std::string long_name(63, 'x');
    element* longest = add(&module->elements, long_name.c_str());

    EXPECT_EQ(run.names.find(module->elements, head), exact);
    EXPECT_EQ(run.names.find(module->elements, head + "a"), longer_a);
    EXPECT_EQ(run.names.find(module->elements, head + "b"), longer_b);
    EXPECT_EQ(run.names.find(module->elements, head.substr(0, 15)), shorter);
    EXPECT_EQ(run.names.find(module->elements, head + "c"), nullptr);
    EXPECT_EQ(run.names.find(module->elements, long_name), longest);
    EXPECT_EQ(run.names.find(module->elements, std::string(62, 'x') + "y"), nullptr);
    EXPECT_EQ(run.names.find(module->elements, std::string(64, 'x')), nullptr);
}

TEST(model, an_element_fits_a_cache_line) {
    // Most of a run's memory is elements: 64 bytes each, whatever their names.
    EXPECT_LE(sizeof(element), 64u);
}

TEST(model, texts_are_stable_terminated_and_kept_once) {
    model_storage storage;
    text_table table(storage);
    std::vector<text> texts;
    for (int i = 0; i < 20000; ++i) texts.push_back(table.copy(std::to_string(i)));
    std::string big(100000, 'x');
    text t = table.copy(big);
    EXPECT_EQ(t.size(), big.size());
    for (int i = 0; i < 20000; ++i) {
        ASSERT_STREQ(texts[i].c_str(), std::to_string(i).c_str());
        ASSERT_EQ(table.copy(std::to_string(i)).p, texts[i].p);
        ASSERT_EQ(texts[i].hash(), text_hash(std::to_string(i)));
    }
    EXPECT_EQ(table.concat("ab", "::", "cd").p, table.copy("ab::cd").p);
    EXPECT_TRUE(table.copy("").empty());
}

// A part is committed in steps of pages as its front advances: records and
// texts cut before, across and after each step keep their bytes, nothing
// overlaps, and the storage starts over after a release.
TEST(storage, records_and_texts_keep_their_bytes_as_the_front_passes_each_step) {
    model_storage storage;
    for (int round = 0; round < 2; ++round) {
        struct piece {
            unsigned char* p;
            std::size_t n;
        };
        std::vector<piece> pieces;
        std::size_t total = 0;
        for (std::size_t i = 0; total < (std::size_t{56} << 20); ++i) {
            const std::size_t n = 1 + (i * 7919) % 5000;
            const bool is_text = i % 3 == 0;
            auto* p = static_cast<unsigned char*>(is_text ? storage.allocate_text(n)
                                                          : storage.allocate(n, 8 << (i % 4)));
            if (!is_text) {
                ASSERT_EQ(storage.at_place(storage.place_of(p)), p);
            }
            std::memset(p, static_cast<int>(i & 0xff), n);
            pieces.push_back({p, n});
            total += n;
        }
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            const piece& q = pieces[i];
            ASSERT_EQ(q.p[0], i & 0xff) << i;
            ASSERT_EQ(q.p[q.n - 1], i & 0xff) << i;
        }
        storage.release();
    }
}

}  // namespace
}  // namespace qrv
