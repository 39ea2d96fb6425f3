#include <string>

#include "abnf/references.h"
#include "generated_names.h"
#include "tests/unit/postparse_fixture.h"

namespace qrv {
namespace {

using plugging = postparse_fixture;

TEST_F(plugging, into_list_is_handled_newest_first_each_with_own_copies) {
    module_record* m = module("ext", "ext.pvx");
    element* a = top(m, "A", ET_STRUCT);
    member(a, "a0", ET_INTEGER);
    element* b = top(m, "B", ET_STRUCT);
    member(b, "b0", ET_INTEGER);
    plug_record* s = plug(m, {"A", "Missing1", "B", "Missing2"}, 12);
    element* body = add(&s->elements, m, "extra", ET_BOOLEAN);
    body->plugin = true;

    plug_extensions(run, diag);
    EXPECT_EQ(console(),
              "ext.pvx(12) : error: Unable to locate definition -Missing2-\n\n"
              "ext.pvx(12) : error: Unable to locate definition -Missing1-\n\n");
    element* in_a = a->children()->next();
    element* in_b = b->children()->next();
    ASSERT_NE(in_a, nullptr);
    ASSERT_NE(in_b, nullptr);
    EXPECT_NE(in_a, in_b);
    EXPECT_NE(in_a, body);
    EXPECT_TRUE(in_a->is_copy);
    EXPECT_TRUE(in_a->plugin);
    EXPECT_EQ(in_a->name(), "extra");
    EXPECT_EQ(in_a->next(), nullptr);
    EXPECT_FALSE(body->is_copy);
}

TEST_F(plugging, dotted_and_module_targets) {
    module_record* base = module("base.msgs", "base.pvx");
    element* msg = top(base, "Msg", ET_STRUCT);
    element* hdr = member(msg, "hdr", ET_STRUCT);
    member(hdr, "id", ET_INTEGER);
    member(msg, "tail", ET_INTEGER);
    module_record* m = module("ext", "ext.pvx");
    extend(m, "base.msgs", "b");
    import(m, "base.msgs", "i");  // import aliases are not used for plug targets
    top(m, "Own", ET_INTEGER);
    plug_record* s = plug(m, {"b::Msg.hdr", "base.msgs::Msg", "b::", "i::Msg", "b:Msg"}, 3);
    add(&s->elements, m, "x", ET_BOOLEAN);

    plug_extensions(run, diag);
    EXPECT_EQ(console(),
              "ext.pvx(3) : error: Unable to locate definition -b:Msg-\n\n"
              "ext.pvx(3) : error: Unable to locate definition -i::Msg-\n\n");
    // "b::" names the first top-level element, "base.msgs::Msg" and "b::" both
    // reach Msg; the newest target came first.
    EXPECT_EQ(count(msg->children()), 4);
    EXPECT_EQ(count(hdr->children()), 2);
    EXPECT_EQ(hdr->children()->next()->name(), "x");
}

TEST_F(plugging, targets_without_members_are_refused) {
    module_record* m = module("m");
    top(m, "Simple", ET_INTEGER);
    top(m, "Empty", ET_STRUCT);
    top(m, "Ref", ET_LINK, "Simple");
    element* combi = top(m, "Combi", ET_COMBINED);
    member(combi, "c0", ET_INTEGER);
    plug_record* s = plug(m, {"Simple", "Empty", "Ref", "Combi"}, 5);
    element* r = add(&s->elements, m, "r", ET_LINK, "Nowhere");

    EXPECT_EQ(post_parse(run, diag), 0);
    EXPECT_EQ(console(),
              "m.pvx(5) : error: Can not plug -Ref-.  It is not struct or union.\n\n"
              "m.pvx(5) : error: Can not plug -Empty-.  It is not struct or union.\n\n"
              "m.pvx(5) : error: Can not plug -Simple-.  It is not struct or union.\n\n");
    EXPECT_EQ(count(combi->children()), 2);
    EXPECT_EQ(combi->children()->next()->link(), "m::Nowhere");
    EXPECT_EQ(r->link(), "Nowhere");  // the body itself is never changed
}

TEST_F(plugging, references_in_copies_are_qualified_with_the_plugging_module) {
    module_record* core = module("core.types");
    top(core, "Id", ET_INTEGER)->max = 1;
    module_record* target = module("target");
    element* msg = top(target, "Msg", ET_STRUCT);
    member(msg, "m0", ET_INTEGER);
    top(target, "Id", ET_INTEGER)->max = 2;
    module_record* ext = module("ext");
    extend(ext, "target");
    top(ext, "Id", ET_INTEGER)->max = 3;
    plug_record* s = plug(ext, {"target::Msg"});
    element* own = add(&s->elements, ext, "own", ET_LINK, "Id");
    add(&s->elements, ext, "qualified", ET_LINK, "core.types::Id");
    element* inner = add(&s->elements, ext, "inner", ET_STRUCT);
    element* deep = member(inner, "deep", ET_LINK, "Id");

    ASSERT_EQ(post_parse(run, diag), 1) << console();
    element* c = msg->children()->next();
    EXPECT_EQ(c->name(), "own");
    EXPECT_EQ(c->link(), "");
    EXPECT_EQ(c->max, 3u);  // resolved in ext
    EXPECT_EQ(c->next()->max, 1u);
    // Members of a plugged structure are shared and resolved where the copy
    // stands.
    EXPECT_EQ(c->next()->next()->children(), deep);
    EXPECT_EQ(deep->max, 2u);
    EXPECT_EQ(own->link(), "Id");
}

TEST_F(plugging, unnamed_module_cannot_plug_plain_references_but_still_appends) {
    module_record* m = module("");
    element* t1 = top(m, "T1", ET_STRUCT);
    member(t1, "a", ET_INTEGER);
    element* t2 = top(m, "T2", ET_STRUCT);
    member(t2, "a", ET_INTEGER);
    top(m, "Id", ET_INTEGER);
    plug_record* s = plug(m, {"T1", "T2"}, 7);
    add(&s->elements, m, "x", ET_LINK, "Id");
    add(&s->elements, m, "y", ET_LINK, "Id");

    plug_extensions(run, diag);
    EXPECT_EQ(console(),
              "m.pvx(7) : error: Module name must be included to plug 'T2'\n\n"
              "m.pvx(7) : error: Module name must be included to plug 'T1'\n\n");
    EXPECT_EQ(count(t1->children()), 3);
    EXPECT_EQ(t1->children()->next()->link(), "Id");
}

TEST_F(plugging, qualified_reference_longer_than_255_is_refused) {
    std::string name(120, 'm');
    module_record* m = module(name.c_str());
    element* t = top(m, "T", ET_STRUCT);
    member(t, "a", ET_INTEGER);
    plug_record* s = plug(m, {"T"}, 4);
    std::string fits(255 - 122, 'f');
    std::string too_long(256 - 122, 'g');
    add(&s->elements, m, "ok", ET_LINK, fits.c_str());
    add(&s->elements, m, "bad", ET_LINK, too_long.c_str());

    plug_extensions(run, diag);
    element* ok = t->children()->next();
    EXPECT_EQ(ok->link(), name + "::" + fits);
    EXPECT_EQ(ok->next()->link(), too_long);
    EXPECT_EQ(console(), "m.pvx(4) : error: Reference name exceeds 255 characters: " + name +
                             "::" + too_long + "\n\n");
}

TEST_F(plugging, shared_copies_of_a_self_referring_structure_end) {
    // plug struct Ext { Node n; }; into T1, T2;  with  Node { v; Node next; }
    module_record* m = module("m");
    element* node = top(m, "Node", ET_STRUCT);
    member(node, "v", ET_INTEGER);
    element* next = member(node, "next", ET_LINK, "Node");
    element* t1 = top(m, "T1", ET_STRUCT);
    member(t1, "a", ET_INTEGER);
    element* t2 = top(m, "T2", ET_STRUCT);
    member(t2, "a", ET_INTEGER);
    plug_record* s = plug(m, {"T1", "T2"});
    element* ext = add(&s->elements, m, "Ext", ET_STRUCT);
    element* n = member(ext, "n", ET_LINK, "Node");

    ASSERT_EQ(post_parse(run, diag), 1) << console();
    EXPECT_EQ(n->kind, ET_STRUCT);
    EXPECT_EQ(n->children(), node->children());
    EXPECT_TRUE(next->recursive);
    EXPECT_EQ(qualified_name(run, *t1->children()->next()), "T1_Ext");
    EXPECT_EQ(qualified_name(run, *n), "Node");
    // n in the copy of Ext in each target, and Node's own next.
    EXPECT_EQ(default_grammar_references(run).of(*node), 3);
}

TEST_F(plugging, body_plugged_into_itself_stops_at_the_name_limit) {
    module_record* m = module("M");
    element* top_m = top(m, "M", ET_STRUCT);
    member(top_m, "m0", ET_INTEGER);
    plug_record* s = plug(m, {"M.S", "M"});
    element* body = add(&s->elements, m, "S", ET_STRUCT);
    member(body, "v", ET_INTEGER);

    EXPECT_THROW(post_parse(run, diag), fatal_stop);
    std::string parent = "M";
    for (int i = 0; i < 127; ++i) parent += "_S";
    EXPECT_EQ(console(), "FATAL: Constructed type name is too long: " + parent + "_v\n");
}

TEST_F(plugging, shared_chain_walked_again_reports_a_missing_type_once) {
    // plug struct Ext { D0 d; }; into T1, T2;  D0 { D1 x; };  D1 { Missing m; }
    // The second copy walks D0 again, now through the resolved x into D1,
    // and meets m a second time: one element, one report.
    module_record* m = module("m");
    element* d0 = top(m, "D0", ET_STRUCT);
    member(d0, "x", ET_LINK, "D1");
    element* d1 = top(m, "D1", ET_STRUCT);
    member(d1, "m", ET_LINK, "Missing", 4);
    element* t1 = top(m, "T1", ET_STRUCT);
    member(t1, "a", ET_INTEGER);
    element* t2 = top(m, "T2", ET_STRUCT);
    member(t2, "a", ET_INTEGER);
    plug_record* s = plug(m, {"T1", "T2"});
    element* ext = add(&s->elements, m, "Ext", ET_STRUCT);
    member(ext, "d", ET_LINK, "D0");

    EXPECT_EQ(post_parse(run, diag), 0);
    const std::string error =
        "m.pvx(4) : error: Unable to expand definition of -Missing- in -m-\n\n";
    EXPECT_EQ(console(), error);
}

}  // namespace
}  // namespace qrv
