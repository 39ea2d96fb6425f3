#include <string>

#include "tests/unit/postparse_fixture.h"

namespace qrv {
namespace {

using prefixes = postparse_fixture;

TEST_F(prefixes, derived_from_module_names_and_numbered_in_order) {
    const char* names[] = {"net.core", "net.config", "net.core.r2", "abc", "abc", "a1b2", "+x"};
    module_record* ms[7];
    for (int i = 0; i < 7; ++i) {
        ms[i] = module(names[i]);
        top(ms[i], "E", ET_INTEGER);
    }
    derive_prefixes(run, diag);
    const char* expected[] = {"nc_", "nc2_", "ncr2_", "a_", "a2_", "a12_", "_x_"};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(ms[i]->prefix, expected[i]) << names[i];
    EXPECT_EQ(console(), "");
}

TEST_F(prefixes, trailing_digits_of_earlier_prefixes_count_for_shorter_bases) {
    // "a12_" is "a1", the digit "2" and "_"; "ab_" is no match for "a".
    module_record* a12 = module("a12");
    module_record* ab = module("a.b");
    module_record* a1 = module("a1");
    module_record* a = module("a");
    for (module_record* m : {a12, ab, a1, a}) top(m, "E", ET_INTEGER);
    derive_prefixes(run, diag);
    EXPECT_EQ(a12->prefix, "a12_");
    EXPECT_EQ(ab->prefix, "ab_");
    EXPECT_EQ(a1->prefix, "a12_");
    EXPECT_EQ(a->prefix, "a3_");  // both "a12_" count, "ab_" does not
}

TEST_F(prefixes, directive_prefixes_count_as_they_stand_and_only_before) {
    module_record* set = module("other");
    set->prefix = make_text(run, "nc_");
    set->has_prefix = true;
    module_record* core = module("net.core");
    module_record* later = module("x");
    later->prefix = make_text(run, "x_");
    later->has_prefix = true;
    module_record* x = module("xylophone");
    for (module_record* m : {set, core, later, x}) top(m, "E", ET_INTEGER);
    derive_prefixes(run, diag);
    EXPECT_EQ(set->prefix, "nc_");
    EXPECT_EQ(core->prefix, "nc2_");
    EXPECT_EQ(later->prefix, "x_");
    EXPECT_EQ(x->prefix, "x2_");
}

TEST_F(prefixes, derived_from_first_element_without_module_name) {
    module_record* hdr = module("");
    top(hdr, "message_header", ET_STRUCT);
    module_record* user = module("");
    top(user, "user_id", ET_INTEGER);
    module_record* upper = module("");
    top(upper, "Aeyaeb", ET_INTEGER);  // upper-case vowels and "y" are kept
    derive_prefixes(run, diag);
    EXPECT_EQ(hdr->prefix, "mssg_");
    EXPECT_EQ(user->prefix, "usri_");
    EXPECT_EQ(upper->prefix, "Ayb_");

    std::string base;
    EXPECT_FALSE(prefix_from_module_name(*hdr, base));
    EXPECT_TRUE(prefix_from_first_element(*hdr, base));
    EXPECT_EQ(base, "mssg");
}

TEST_F(prefixes, module_without_name_or_elements_is_an_error) {
    module_record* empty = module("", "lib.pvx");
    module_record* next = module("abc");
    top(next, "E", ET_INTEGER);
    derive_prefixes(run, diag);
    EXPECT_FALSE(empty->has_prefix);
    EXPECT_EQ(next->prefix, "a_");
    EXPECT_EQ(diag.error_count, 1);
    EXPECT_EQ(console(),
              "error: Error: Unable to derive prefix for module contained in: lib.pvx\n\n");
}

TEST_F(prefixes, main_module_marks_only_its_top_level) {
    module_record* main = module("a");
    element* s = top(main, "S", ET_STRUCT);
    element* v = member(s, "v", ET_INTEGER);
    element* t = top(main, "T", ET_INTEGER);
    module_record* lib = module("b");
    element* u = top(lib, "U", ET_INTEGER);
    mark_main_module(main->elements);
    EXPECT_TRUE(s->in_main_module);
    EXPECT_TRUE(t->in_main_module);
    EXPECT_FALSE(v->in_main_module);
    EXPECT_FALSE(u->in_main_module);
}

}  // namespace
}  // namespace qrv
