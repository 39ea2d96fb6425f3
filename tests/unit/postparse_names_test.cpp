#include <string>

#include "generated_names.h"
#include "test_model.h"
#include "tests/unit/postparse_fixture.h"

namespace qrv {
namespace {

using naming = postparse_fixture;

TEST_F(naming, plain_and_plugin_ordinals_per_chain) {
    module_record* m = module("m");
    element* s = top(m, "S", ET_STRUCT);
    element* alpha = member(s, "alpha", ET_INTEGER);
    element* beta = member(s, "beta", ET_INTEGER);
    element* gamma = member(s, "gamma", ET_INTEGER);
    gamma->plugin = true;
    element* delta = member(s, "delta", ET_INTEGER);
    element* epsilon = member(s, "epsilon", ET_INTEGER);
    epsilon->plugin = true;
    element* t = top(m, "T", ET_INTEGER);
    // A chain reached a second time keeps the numbers it was given.
    element* again = top(m, "Again", ET_STRUCT);
    again->set_children(s->children());
    again->set_link(make_text(run, "S"));

    ASSERT_EQ(post_parse(run, diag), 1);
    EXPECT_EQ(ordinal_of(run, *s), 0);
    EXPECT_EQ(ordinal_of(run, *t), 1);
    EXPECT_EQ(ordinal_of(run, *again), 2);
    EXPECT_EQ(ordinal_of(run, *alpha), 0);
    EXPECT_EQ(ordinal_of(run, *beta), 1);
    EXPECT_EQ(ordinal_of(run, *gamma), 1000000000);
    EXPECT_EQ(ordinal_of(run, *delta), 2);
    EXPECT_EQ(ordinal_of(run, *epsilon), 1000000001);
}

TEST_F(naming, reserved_words_get_an_underscore_and_a_plain_note) {
    module_record* m = module("m");
    element* s = top(m, "S", ET_STRUCT, "", 2);
    element* cls = member(s, "class", ET_INTEGER, "", 7);
    element* in = member(s, "int", ET_INTEGER, "", 8);
    element* upper = member(s, "Class", ET_INTEGER, "", 9);
    element* under = member(s, "class_", ET_INTEGER, "", 10);
    element* dashed = member(s, "my-class", ET_INTEGER, "", 11);
    element* last = member(s, "virtual", ET_INTEGER, "", 12);

    ASSERT_EQ(post_parse(run, diag), 1);
    EXPECT_EQ(cls->c_name(), "class_");
    EXPECT_EQ(cls->name(), "class");
    EXPECT_EQ(in->c_name(), "int_");
    EXPECT_EQ(upper->c_name(), "Class");
    EXPECT_EQ(under->c_name(), "class_");
    EXPECT_EQ(dashed->c_name(), "my_class");
    EXPECT_EQ(last->c_name(), "virtual_");
    EXPECT_EQ(qualified_name(run, *cls), "S_class_");
    EXPECT_EQ(console(),
              "Warning (Line:7): Changed name 'class' to 'class_' to avoid C/C++ keyword name "
              "clash\n"
              "Warning (Line:8): Changed name 'int' to 'int_' to avoid C/C++ keyword name clash\n"
              "Warning (Line:12): Changed name 'virtual' to 'virtual_' to avoid C/C++ keyword name "
              "clash\n");
    EXPECT_EQ(diag.warning_count, 0);
}

TEST_F(naming, qualified_names_of_members_and_references) {
    module_record* m = module("m");
    element* msg = top(m, "Msg", ET_STRUCT);
    element* hdr = member(msg, "hdr", ET_STRUCT);
    element* id = member(hdr, "id", ET_INTEGER);
    element* body = member(msg, "body", ET_LINK, "Body");
    element* body_def = top(m, "Body", ET_STRUCT);
    element* text = member(body_def, "text", ET_ASCII);
    element* alias = top(m, "Alias", ET_LINK, "Body");

    ASSERT_EQ(post_parse(run, diag), 1);
    EXPECT_EQ(qualified_name(run, *msg), "Msg");
    EXPECT_EQ(qualified_name(run, *hdr), "Msg_hdr");
    EXPECT_EQ(qualified_name(run, *id), "Msg_hdr_id");
    EXPECT_EQ(qualified_name(run, *body), "Body");
    EXPECT_EQ(qualified_name(run, *text), "Body_text");
    EXPECT_EQ(qualified_name(run, *alias), "Alias");  // its own name replaces the target's
}

TEST_F(naming, qualified_name_of_255_characters_passes_and_256_stops) {
    for (int length : {255, 256}) {
        run_context local;
        diagnostics local_diag;
        init_run_context(local);
        local_diag.console = out;
        parse_state lps;
        lps.run = &local;
        lps.diag = &local_diag;
        module_record* m = new_module_record(local);
        m->name = make_text(local, "m");
        local.modules = m;
        lps.module = m;
        auto make = [&](chain_head head, std::string name, element_kind kind) {
            element* e = new_element(lps);
            e->kind = kind;
            e->set_name(make_text(local, name));
            e->set_c_name(e->name());
            append_element(head, e);
            return e;
        };
        // "P_" + 63 + "_" + 63 + "_" + 63 + "_" + rest
        element* p = make(&m->elements, "P", ET_STRUCT);
        element* a = make(chain_head::members_of(*p), std::string(63, 'a'), ET_STRUCT);
        element* b = make(chain_head::members_of(*a), std::string(63, 'b'), ET_STRUCT);
        element* c = make(chain_head::members_of(*b), std::string(63, 'c'), ET_STRUCT);
        element* d = make(chain_head::members_of(*c), std::string(length - 1 - 4 * 1 - 3 * 63, 'd'),
                          ET_INTEGER);
        make(chain_head::members_of(*p), "after", ET_INTEGER);
        if (length == 255) {
            EXPECT_EQ(post_parse(local, local_diag), 1);
            EXPECT_EQ(qualified_name(local, *d).size(), 255u);
            EXPECT_EQ(console(), "");
        } else {
            EXPECT_THROW(post_parse(local, local_diag), fatal_stop);
            std::string parent = "P_" + std::string(a->c_name().view()) + "_" +
                                 std::string(b->c_name().view()) + "_" +
                                 std::string(c->c_name().view());
            EXPECT_EQ(console(), "FATAL: Constructed type name is too long: " + parent + "_" +
                                     std::string(d->c_name().view()) + "\n");
        }
    }
}

TEST_F(naming, union_members_distinct_by_c_name_in_first_seen_order) {
    module_record* m = module("m");
    element* u1 = top(m, "U1", ET_UNION);
    element* a = member(u1, "a", ET_INTEGER);
    element* inner = member(u1, "inner", ET_UNION);
    element* c = member(inner, "c", ET_INTEGER);
    member(inner, "a", ET_BOOLEAN);
    element* s = top(m, "S", ET_STRUCT);
    element* nested = member(s, "nested", ET_UNION);
    element* b_dash = member(nested, "b-x", ET_INTEGER);
    member(nested, "b.x", ET_INTEGER);  // the same c_name
    element* cmb = top(m, "C", ET_COMBINED);
    element* hidden = member(cmb, "hidden", ET_UNION);
    member(hidden, "h", ET_INTEGER);
    top(m, "R", ET_LINK, "U1");

    ASSERT_EQ(post_parse(run, diag), 1);
    std::string order;
    for (const element* u : run.union_members) order += std::string(u->name().view()) + " ";
    EXPECT_EQ(order, "a inner c b-x ");
    EXPECT_EQ(run.union_members.front(), a);
    EXPECT_EQ(run.union_members.back(), b_dash);
    EXPECT_EQ(run.union_members[2], c);
}

TEST_F(naming, post_parse_needs_modules_and_stops_after_errors) {
    EXPECT_EQ(post_parse(run, diag), 0);
    module_record* m = module("m");
    EXPECT_EQ(post_parse(run, diag), 0);  // a first module without elements
    element* s = top(m, "S", ET_STRUCT);
    member(s, "x", ET_INTEGER);
    diag.error_count = 1;  // an error counted before the pass
    EXPECT_EQ(post_parse(run, diag), 0);
    EXPECT_FALSE(s->in_main_module);
    EXPECT_EQ(run.elements, nullptr);
    // Without any definition nothing can be written, and the run says so;
    // after an error the note would add nothing.
    EXPECT_EQ(console(),
              "error: The sources hold no definition\n"
              "error: The sources hold no definition\n");
    EXPECT_EQ(diag.error_note_count, 2);
}

}  // namespace
}  // namespace qrv
