#include <string>
#include <vector>

#include "generated_names.h"
#include "tests/unit/postparse_fixture.h"

namespace qrv {
namespace {

using resolution = postparse_fixture;

TEST_F(resolution, locate_module_parts) {
    module_record* m = module("m");
    module_record* core = module("core.types");
    import(m, "core.types", "t");
    module_record* found = nullptr;
    std::string_view name;

    ASSERT_TRUE(locate_module(run, m, m->imports, "Id", &found, &name));
    EXPECT_EQ(found, m);
    EXPECT_EQ(name, "Id");
    ASSERT_TRUE(locate_module(run, m, m->imports, "t::Id::rest", &found, &name));
    EXPECT_EQ(found, core);
    EXPECT_EQ(name, "Id");
    ASSERT_TRUE(locate_module(run, m, m->imports, "core.types::Id", &found, &name));
    EXPECT_EQ(found, core);
    EXPECT_FALSE(locate_module(run, m, nullptr, "t::Id", &found, &name));
    EXPECT_FALSE(locate_module(run, m, m->imports, "t:Id", &found, &name));
    EXPECT_FALSE(locate_module(run, m, m->imports, "t:", &found, &name));

    // Parts longer than 127 characters name nothing.
    std::string long_name(128, 'x');
    EXPECT_FALSE(locate_module(run, m, m->imports, long_name, &found, &name));
    EXPECT_FALSE(locate_module(run, m, m->imports, "t::" + long_name, &found, &name));
    EXPECT_FALSE(locate_module(run, m, m->imports, long_name + "::Id", &found, &name));
    EXPECT_TRUE(locate_module(run, m, m->imports, "t::" + std::string(127, 'x'), &found, &name));
}

TEST_F(resolution, aliases_newest_first_and_modules_by_first_name) {
    module_record* m = module("m");
    module_record* a = module("lib.a");
    module_record* b = module("lib.b");
    module_record* b_again = module("lib.b");
    top(a, "Id", ET_INTEGER)->max = 1;
    top(b, "Id", ET_INTEGER)->max = 2;
    top(b_again, "Id", ET_INTEGER)->max = 3;
    import(m, "lib.a", "t");
    import(m, "lib.b", "t");  // written later: wins
    extend(m, "lib.a", "x");  // extends aliases are not used for references
    element* s = top(m, "S", ET_STRUCT);
    element* by_alias = member(s, "f", ET_LINK, "t::Id");
    element* by_name = member(s, "g", ET_LINK, "lib.b::Id");
    element* by_extends = member(s, "h", ET_LINK, "x::Id", 4);

    resolve_references(run, diag);
    EXPECT_EQ(by_alias->kind, ET_INTEGER);
    EXPECT_EQ(by_alias->max, 2u);
    EXPECT_TRUE(by_alias->link().empty());
    EXPECT_EQ(by_name->max, 2u);
    EXPECT_EQ(by_extends->kind, ET_LINK);
    EXPECT_EQ(console(), "m.pvx(4) : error: Unable to expand definition of -x::Id- in -h-\n\n");
}

TEST_F(resolution, plain_names_find_only_top_level_of_the_walked_module) {
    module_record* m = module("m");
    module_record* other = module("other");
    top(other, "Id", ET_INTEGER);
    element* s = top(m, "S", ET_STRUCT);
    member(s, "inner", ET_INTEGER);
    element* a = member(s, "a", ET_LINK, "Id", 3);
    element* b = member(s, "b", ET_LINK, "inner", 4);
    resolve_references(run, diag);
    EXPECT_EQ(a->kind, ET_LINK);
    EXPECT_EQ(b->kind, ET_LINK);
    EXPECT_EQ(console(),
              "m.pvx(3) : error: Unable to expand definition of -Id- in -a-\n\n"
              "m.pvx(4) : error: Unable to expand definition of -inner- in -b-\n\n");
}

TEST_F(resolution, chain_of_three_takes_over_the_final_definition) {
    module_record* m = module("m");
    element* s = top(m, "S", ET_STRUCT);
    element* x = member(s, "x", ET_LINK, "A");
    top(m, "A", ET_LINK, "B");
    top(m, "B", ET_LINK, "C");
    element* c = top(m, "C", ET_INTEGER);
    c->constrained = true;
    c->min = 5;
    c->max = 9;
    c->min_negative = true;
    resolve_references(run, diag);
    EXPECT_EQ(x->kind, ET_INTEGER);
    EXPECT_TRUE(x->link().empty());
    EXPECT_TRUE(x->constrained);
    EXPECT_EQ(x->min, 5u);
    EXPECT_EQ(x->max, 9u);
    EXPECT_TRUE(x->min_negative);
    // x, A and B each reach C.
    for (const element* e = run.modules->elements; e != nullptr; e = e->next()) {
        if (e != s) {
            EXPECT_EQ(e->kind, ET_INTEGER) << e->name().c_str();
        }
    }
    EXPECT_EQ(c->min, 5u);
    EXPECT_EQ(diag.error_count, 0);
}

TEST_F(resolution, structure_target_keeps_link_and_shares_members) {
    module_record* m = module("m");
    module_record* geo = module("geo");
    element* point = top(geo, "Point-2d", ET_STRUCT);
    member(point, "x", ET_INTEGER);
    element* s = top(m, "S", ET_STRUCT);
    element* p = member(s, "p", ET_LINK, "geo::Point-2d");
    resolve_references(run, diag);
    EXPECT_EQ(p->kind, ET_STRUCT);
    EXPECT_EQ(p->link(), "geo::Point-2d");
    EXPECT_EQ(p->children(), point->children());
    EXPECT_EQ(qualified_name(run, *p), "Point_2d");
    EXPECT_EQ(p->module(), geo);
}

// Definitions whose references lead megabytes away resolve as near ones
// do, through aliases too, and a missing one is reported where it stands.
TEST_F(resolution, far_references_resolve_as_near_ones) {
    module_record* m = module("m");
    constexpr int n = 6000;  // about 3.5 MB of elements
    std::vector<element*> defs;
    std::vector<element*> far;
    std::vector<element*> through_alias;
    std::vector<element*> missing;
    for (int i = 0; i < n; ++i) {
        element* d = top(m, ("S" + std::to_string(i)).c_str(), ET_STRUCT);
        defs.push_back(d);
        for (int k = 0; k < 5; ++k) member(d, ("f" + std::to_string(k)).c_str(), ET_INTEGER);
        const std::string target = "S" + std::to_string((i + n / 2) % n);
        far.push_back(member(d, "g", ET_LINK, target.c_str()));
        if (i % 7 == 3) through_alias.push_back(member(d, "a", ET_LINK, "Alias"));
        if (i % 1000 == 500) missing.push_back(member(d, "x", ET_LINK, "Missing", i));
    }
    element* alias = top(m, "Alias", ET_LINK, "S1");

    resolve_references(run, diag);
    for (int i = 0; i < n; ++i) {
        const element* target = defs[static_cast<std::size_t>((i + n / 2) % n)];
        ASSERT_EQ(far[static_cast<std::size_t>(i)]->kind, ET_STRUCT) << i;
        ASSERT_EQ(far[static_cast<std::size_t>(i)]->children(), target->children()) << i;
    }
    for (const element* a : through_alias) {
        ASSERT_EQ(a->kind, ET_STRUCT);
        ASSERT_EQ(a->children(), defs[1]->children());
    }
    // S0 is reached from one far member, S1 from one and from every member
    // through the alias, and from the alias itself.
    const auto reaching = [&](const element* d) {
        int n = 0;
        for (const element* f : far) n += f->children() == d->children() ? 1 : 0;
        for (const element* a : through_alias) n += a->children() == d->children() ? 1 : 0;
        return n + (alias->children() == d->children() ? 1 : 0);
    };
    EXPECT_EQ(reaching(defs[0]), 1);
    EXPECT_EQ(reaching(defs[1]), 1 + static_cast<int>(through_alias.size()) + 1);
    EXPECT_EQ(alias->kind, ET_STRUCT);
    std::string expected;
    for (const element* x : missing) {
        EXPECT_EQ(x->kind, ET_LINK);
        expected += "m.pvx(" + std::to_string(x->line()) +
                    ") : error: Unable to expand definition of -Missing- in -x-\n\n";
    }
    EXPECT_EQ(console(), expected);
}

TEST_F(resolution, cycles_and_long_chains_fail_with_the_last_reference_tried) {
    module_record* m = module("m");
    element* s = top(m, "S", ET_STRUCT);
    // Declared before the chain resolves itself, the member needs eleven
    // lookups: R1 ... R10, then I.
    element* far = member(s, "far", ET_LINK, "R1", 2);
    for (int i = 1; i <= 10; ++i) {
        std::string name = "R" + std::to_string(i);
        std::string next = i == 10 ? "I" : "R" + std::to_string(i + 1);
        top(m, name.c_str(), ET_LINK, next.c_str());
    }
    top(m, "I", ET_INTEGER);
    top(m, "A", ET_LINK, "B", 20);
    top(m, "B", ET_LINK, "A", 21);
    element* in_cycle = member(s, "c", ET_LINK, "A", 3);

    resolve_references(run, diag);
    EXPECT_EQ(far->kind, ET_LINK);
    EXPECT_EQ(far->link(), "I");
    // R1 needs ten lookups (R2 ... R10, I) and succeeds.
    EXPECT_EQ(find_element(run, m, "R1")->kind, ET_INTEGER);
    EXPECT_EQ(in_cycle->link(), "A");
    EXPECT_EQ(console(),
              "m.pvx(2) : error: Unable to expand definition of -I- in -far-\n\n"
              "m.pvx(3) : error: Unable to expand definition of -A- in -c-\n\n"
              "m.pvx(20) : error: Unable to expand definition of -A- in -A-\n\n"
              "m.pvx(21) : error: Unable to expand definition of -A- in -B-\n\n");
}

TEST_F(resolution, duplicate_cardinality_at_every_step) {
    module_record* m = module("m");
    element* s = top(m, "S", ET_STRUCT);
    element* x = member(s, "x", ET_LINK, "A");
    x->has_cardinality = true;
    x->cardinality_min = 2;
    x->cardinality_max = 5;
    x->cardinality_unbounded = false;
    element* y = member(s, "y", ET_LINK, "A");  // takes A's cardinality, then meets B's
    element* a = top(m, "A", ET_LINK, "B");
    a->has_cardinality = true;
    a->cardinality_max = 3;
    a->cardinality_unbounded = false;
    element* b = top(m, "B", ET_BOOLEAN);
    b->has_cardinality = true;
    b->cardinality_max = 7;
    b->cardinality_unbounded = false;
    resolve_references(run, diag);
    EXPECT_EQ(x->kind, ET_BOOLEAN);
    EXPECT_EQ(x->cardinality_min, 2u);
    EXPECT_EQ(x->cardinality_max, 5u);
    EXPECT_EQ(y->kind, ET_BOOLEAN);
    EXPECT_EQ(y->cardinality_max, 3u);
    EXPECT_FALSE(y->cardinality_unbounded);
    const char* dup =
        "error: Illegal duplicate cardinality in original and target definitions of linked type "
        "%s from %s\n\n";
    auto line = [&](const char* t, const char* e) {
        char buf[200];
        std::snprintf(buf, sizeof buf, dup, t, e);
        return std::string(buf);
    };
    EXPECT_EQ(console(), line("A", "x") + line("B", "x") + line("B", "y") + line("B", "A"));
}

TEST_F(resolution, combination_members_are_not_visited) {
    module_record* m = module("m");
    element* c = top(m, "C", ET_COMBINED);
    element* r = member(c, "r", ET_LINK, "Nothing");
    element* u = top(m, "U", ET_UNION);
    element* inner = member(u, "inner", ET_STRUCT);
    element* deep = member(inner, "deep", ET_LINK, "C");
    resolve_references(run, diag);
    EXPECT_EQ(r->kind, ET_LINK);
    EXPECT_EQ(deep->kind, ET_COMBINED);
    EXPECT_EQ(qualified_name(run, *deep), "C");
    EXPECT_EQ(diag.error_count, 0);
}

}  // namespace
}  // namespace qrv
