#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "abnf/default_grammar.h"
#include "abnf/rule_writer.h"
#include "console_capture.h"
#include "support/output_writer.h"
#include "test_model.h"

namespace qrv {
namespace {

// Models built by hand: elements from new_element, texts from the arena.
struct abnf_fixture : ::testing::Test {
    run_context run;
    diagnostics diag;
    parse_state ps;
    std::string out;
    output_writer writer;      // the layout state of the last text written
    reference_counts counted;  // the references of the grammar rules() wrote last
    testing::console_capture captured;

    void SetUp() override {
        init_run_context(run);
        diag.console = captured.file();
        ps.run = &run;
        ps.diag = &diag;
        ps.module = new_module_record(run);
        run.input_path = "in.pvx";
        setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
    }
    std::string console() { return captured.text(); }
    // The default grammar, its header at the time the golden cases show.
    static grammar_settings settings() {
        grammar_settings s;
        s.header_time = header_time("1700000000");
        return s;
    }

    text t(const char* s) { return make_text(run, s); }

    element* make(element_kind kind, const char* name, int line = 1) {
        ps.line = line;
        element* e = new_element(ps);
        e->set_name(t(name));
        e->set_c_name(e->name());
        e->set_tag(e->name());
        e->kind = kind;
        return e;
    }
    static void append(chain_head head, element* e) { append_element(head, e); }
    element* top(element_kind kind, const char* name) {
        element* e = make(kind, name);
        e->set_tag(text{});
        append(chain_head(&run.elements), e);
        return e;
    }
    element* member(element* parent, element_kind kind, const char* name, int line = 1) {
        element* e = make(kind, name, line);
        append(chain_head::members_of(*parent), e);
        return e;
    }
    static element* range(element* e, long lo, long hi) {
        e->constrained = true;
        e->min_negative = lo < 0;
        e->max_negative = hi < 0;
        e->min = static_cast<std::uint32_t>(lo < 0 ? -lo : lo);
        e->max = static_cast<std::uint32_t>(hi < 0 ? -hi : hi);
        return e;
    }
    // `hi` -1 stands for an unbounded cardinality.
    static element* times(element* e, std::uint32_t lo, std::int64_t hi) {
        e->has_cardinality = true;
        e->cardinality_min = lo;
        e->cardinality_unbounded = hi < 0;
        e->cardinality_max = hi < 0 ? 0 : static_cast<std::uint32_t>(hi);
        return e;
    }

    // The value of one element as its parent's body would write it.
    std::string value_of(element* e) {
        out.clear();
        writer = output_writer{};
        sink_open_memory(writer, &out);
        run.names.take_in_chain(run.elements);
        rule_writer w(run, writer, diag);
        write_value(w, e);
        flush_pending(w);
        sink_close(writer);
        return out;
    }

    // The rules of the whole file, without the header and the common rules.
    std::string rules() {
        std::string file;
        writer = output_writer{};
        run.names.take_in_chain(run.elements);  // as post-parse leaves it
        write_abnf_to_memory(run, diag, settings(), writer, file);
        counted = default_grammar_references(run);
        const std::size_t start = file.find(";\n\n");
        const std::string tail = "\n\n" + std::string(common_rules());
        EXPECT_NE(start, std::string::npos);
        EXPECT_GE(file.size(), tail.size());
        EXPECT_EQ(file.substr(file.size() - tail.size()), tail);
        return file.substr(start + 3, file.size() - tail.size() - start - 3);
    }

    // The five definitions of the request example.
    void build_request_example() {
        element* request = top(ET_STRUCT, "Request");
        range(member(request, ET_INTEGER, "seq"), 0, 65535);
        times(member(request, ET_ASCII, "label"), 0, 1);
        times(member(request, ET_INTEGER, "values"), 1, -1);
        member(request, ET_UNION, "body")->set_link(t("Body"));

        element* body = top(ET_UNION, "Body");
        element* count = range(member(body, ET_INTEGER, "count"), -5, 100);
        count->set_tag(text{});
        member(body, ET_UNICODE, "text")->set_tag(t("t"));
        member(body, ET_NULL, "none");

        element* point = top(ET_STRUCT, "Point");
        member(point, ET_INTEGER, "x");
        member(point, ET_INTEGER, "y");

        member(top(ET_STRUCT, "Wrapper"), ET_DATE, "when");

        element* blob = top(ET_STRUCT, "Blob");
        range(member(blob, ET_BYTES, "data"), 1, 200);
        member(blob, ET_CONST, "kind")->set_const_value(t("ok"));
        member(blob, ET_EMBEDDED, "raw");
        member(blob, ET_BYTES, "any");
    }
};

std::string blanks(std::size_t n) { return std::string(n, ' '); }

TEST_F(abnf_fixture, request_example_is_written_byte_for_byte) {
    build_request_example();
    EXPECT_EQ(rules(),
              "Request = \n"
              "        ( \"seq\" EQUAL 1*5DIGIT )                                     ; Range = "
              "0 to 65535 \n"
              "        [ \"label\" EQUAL \"'\" 1*quoted-ascii-char \"'\" ] \n"
              "        [ \"values\" EQUAL 1*DIGIT \n"
              "                            0*( COMMA 1*DIGIT ) ] \n"
              "        ( \"body\" EQUAL Body ) \n"
              "        \n"
              "\n"
              "Body = ( \n"
              "        ( LBRCE [ \"-\" ] 1*3DIGIT RBRCE ) /                           ; count , "
              "Range = -5 to 100 \n"
              "        ( \"t\" EQUAL DQUOTE *UTF8 DQUOTE) /                           ; text \n"
              "        \"none\"/ \n"
              "        extension-param ) \n"
              "\n"
              "Point = LBRCE \n"
              "        ( \"x\" EQUAL 1*DIGIT ) \n"
              "        ( \"y\" EQUAL 1*DIGIT ) \n"
              "        extension-params\n"
              "        RBRCE \n"
              "\n"
              "Wrapper = LBRCE ( \"when\" EQUAL date ) extension-params RBRCE\n"
              "\n"
              "Blob = LBRCE \n"
              "        ( \"data\" EQUAL \"[\" 0*3Base64-line \"]\" )                      ; Size "
              "= 1 to 200 \n"
              "        ( \"kind\" EQUAL \"ok\" ) \n"
              "        ( \"raw\" EQUAL LBRKT *(%x20-7E) RBRKT) \n"
              "        ( \"any\" EQUAL \"[\" \"^\" *( Base64-line ) \"]\" ) \n"
              "        extension-params\n"
              "        RBRCE \n"
              "\n");
    EXPECT_EQ(writer.depth, 0);
    EXPECT_EQ(console(), "");

    report_unreferenced(run, counted, diag);
    EXPECT_EQ(console(),
              "Point           : has not been referenced\n"
              "Wrapper         : has not been referenced\n"
              "Blob            : has not been referenced\n");
}

TEST_F(abnf_fixture, nested_body_is_written_byte_for_byte) {
    top(ET_INTEGER, "Root");
    element* outer = top(ET_STRUCT, "Outer");
    member(outer, ET_INTEGER, "a");
    element* inner = member(outer, ET_STRUCT, "inner");
    member(inner, ET_BOOLEAN, "b");
    times(member(inner, ET_DATE, "c"), 0, -1);
    EXPECT_EQ(rules(),
              "Root = 1*DIGIT \n"
              "\n"
              "Outer = LBRCE \n"
              "        ( \"a\" EQUAL 1*DIGIT ) \n"
              "        ( \"inner\" EQUAL LBRCE \n"
              "            ( \"b\" EQUAL bool ) \n"
              "            [ \"c\" EQUAL date \n"
              "                                *( COMMA date ) ] \n"
              "            extension-params\n"
              "            RBRCE ) \n"
              "        extension-params\n"
              "        RBRCE \n"
              "\n");
}

TEST_F(abnf_fixture, simple_kinds_and_their_count_texts) {
    struct row {
        element_kind kind;
        long lo, hi;  // no constraint when both are -1
        const char* text;
    };
    const std::vector<row> rows = {
        {ET_NULL, -1, -1, ""},
        {ET_BOOLEAN, -1, -1, "bool "},
        {ET_OID, -1, -1, "oid "},
        {ET_IPV4, -1, -1, "ipv4 "},
        {ET_IPV6, -1, -1, "ipv6 "},
        {ET_DATE, -1, -1, "date "},
        {ET_TIME, -1, -1, "time "},
        {ET_INTEGER, -1, -1, "1*DIGIT "},
        {ET_INTEGER, 10, 20, "1*2DIGIT "},
        {ET_INTEGER, -1000, -1, "[ \"-\" ] 1*4DIGIT "},
        {ET_INTEGER, 0, 4294967295, "1*10DIGIT "},
        {ET_ASCII, -1, -1, "\"'\" 1*quoted-ascii-char \"'\" "},
        {ET_ASCII, 2, 9, "\"'\" 2*9quoted-ascii-char \"'\" "},
        {ET_UNQUOTED_ASCII, -1, -1, "1*SafeChar "},
        {ET_UNQUOTED_ASCII, 8, 8, "8SafeChar "},
        {ET_UNICODE, 1, 32, "DQUOTE 1*32UTF8 DQUOTE"},
        {ET_UNICODE, 0, 4294967295, "DQUOTE 0*4294967295UTF8 DQUOTE"},
        {ET_EMBEDDED, -1, -1, "LBRKT *(%x20-7E) RBRKT"},
        {ET_EMBEDDED, 3, 3, "LBRKT 3(%x20-7E) RBRKT"},
        {ET_BYTES, 1, 57, "\"[\" Base64-line \"]\" "},
        {ET_BYTES, 1, 200, "\"[\" 0*3Base64-line \"]\" "},
        {ET_BYTES, 171, 171, "\"[\" 2Base64-line \"]\" "},
        {ET_BYTES, 0, 58, "\"[\" 0*1Base64-line \"]\" "},
        {ET_BYTES, 0, 4294967295, "\"[\" 0*75350303Base64-line \"]\" "},
    };
    for (const row& r : rows) {
        element* e = make(r.kind, "v");
        if (r.lo != -1 || r.hi != -1) range(e, r.lo, r.hi);
        EXPECT_EQ(value_of(e), r.text) << "kind " << r.kind << " " << r.lo << ".." << r.hi;
    }
    element* c = make(ET_CONST, "c");
    c->set_const_value(t("a b"));
    EXPECT_EQ(value_of(c), "\"a b\" ");
    EXPECT_EQ(console(), "");
}

TEST_F(abnf_fixture, kinds_without_a_form_are_noted) {
    make(ET_LINK, "x");
    EXPECT_EQ(value_of(make(ET_COMBINED, "a", 3)), "TYPE??? ");
    EXPECT_EQ(value_of(make(ET_SINGLE, "b", 4)), "TYPE??? ");
    EXPECT_EQ(value_of(make(ET_DOUBLE, "c", 5)), "TYPE??? ");
    EXPECT_EQ(value_of(make(ET_LINK, "d", 6)), "TYPE??? ");
    EXPECT_EQ(console(),
              "ERROR: Encountered unexpected type (2) at line: 3\n"
              "ERROR: Encountered unexpected type (6) at line: 4\n"
              "ERROR: Encountered unexpected type (7) at line: 5\n"
              "ERROR: Encountered unexpected type (19) at line: 6\n");
}

TEST_F(abnf_fixture, digit_count_counts_the_larger_bound) {
    element* e = make(ET_INTEGER, "n");
    EXPECT_EQ(digit_count(*e), "1*");
    EXPECT_EQ(digit_count(*range(e, -5, 100)), "1*3");
    EXPECT_EQ(digit_count(*range(e, -100000, 5)), "1*6");
    EXPECT_EQ(digit_count(*range(e, 0, 9)), "1*1");
    EXPECT_EQ(digit_count(*range(e, 0, 2000000001)), "1*10");
}

TEST_F(abnf_fixture, cardinality_repetitions_and_unsigned_bounds) {
    element* n = times(make(ET_INTEGER, "n"), 0, 5);
    EXPECT_EQ(value_of(n), "1*DIGIT \n" + blanks(20) + "*4( COMMA 1*DIGIT ) ");
    EXPECT_EQ(value_of(times(n, 0, 1)), "1*DIGIT ");
    EXPECT_EQ(value_of(times(n, 1, 1)), "1*DIGIT ");
    EXPECT_EQ(value_of(times(n, 2, 5)), "1*DIGIT \n" + blanks(20) + "1*4( COMMA 1*DIGIT ) ");
    EXPECT_EQ(value_of(times(n, 0, -1)), "1*DIGIT \n" + blanks(20) + "*( COMMA 1*DIGIT ) ");
    // Counts beyond the signed range stay positive.
    EXPECT_EQ(value_of(times(n, 4294967295u, -1)),
              "1*DIGIT \n" + blanks(20) + "4294967294*( COMMA 1*DIGIT ) ");
    EXPECT_EQ(value_of(times(n, 1, 2147483647)),
              "1*DIGIT \n" + blanks(20) + "0*2147483646( COMMA 1*DIGIT ) ");
    // Maximum counts of 2^31 and above are counts too, up to the largest.
    EXPECT_EQ(value_of(times(n, 2147483648u, 2147483648u)),
              "1*DIGIT \n" + blanks(20) + "2147483647*2147483647( COMMA 1*DIGIT ) ");
    EXPECT_EQ(value_of(times(n, 0, 4294967295u)),
              "1*DIGIT \n" + blanks(20) + "*4294967294( COMMA 1*DIGIT ) ");
}

TEST_F(abnf_fixture, members_with_cardinality_are_bracketed_and_repeat_on_their_own_line) {
    top(ET_BOOLEAN, "Root");
    element* s = top(ET_STRUCT, "S");
    times(member(s, ET_INTEGER, "n"), 0, 5);
    times(member(s, ET_BOOLEAN, "f"), 1, 1);
    element* top_level = times(top(ET_DATE, "Days"), 0, -1);
    (void)top_level;
    EXPECT_EQ(rules(),
              "Root = bool \n\n"
              "S = LBRCE \n"
              "        [ \"n\" EQUAL 1*DIGIT \n"
              "                            *4( COMMA 1*DIGIT ) ] \n"
              "        [ \"f\" EQUAL bool ] \n"
              "        extension-params\n"
              "        RBRCE \n\n"
              "Days = date \n" +
                  blanks(24) + "*( COMMA date ) \n\n");
}

TEST_F(abnf_fixture, comments_collect_and_move_to_their_own_line_beyond_column_sixty) {
    top(ET_BOOLEAN, "Root");
    element* s = top(ET_STRUCT, "S");
    element* a = member(s, ET_ASCII, "a");
    a->set_tag(t("alpha"));
    range(a, 1, 8);
    element* b = member(s, ET_BOOLEAN, "b");
    b->set_tag(t("a_tag_long_enough_to_push_the_line_past_the_comment_column"));
    EXPECT_EQ(rules(),
              "Root = bool \n\n"
              "S = LBRCE \n"
              "        ( \"alpha\" EQUAL \"'\" 1*8quoted-ascii-char \"'\" )" +
                  blanks(14) + " ; a , Size = 1 to 8 \n" +
                  "        ( \"a_tag_long_enough_to_push_the_line_past_the_comment_column\" EQUAL "
                  "bool ) \n" +
                  blanks(8) + blanks(60) + " ; b \n" +
                  "        extension-params\n"
                  "        RBRCE \n\n");

    // add_comment joins notes with ", " and end_line writes them at 60.
    out.clear();
    writer = output_writer{};
    sink_open_memory(writer, &out);
    rule_writer w(run, writer, diag);
    add_comment(w, "%s ", "x");
    add_comment(w, "Range = %s%lu to %s%lu ", "-", 5ul, "", 7ul);
    end_line(w);
    sink_close(writer);
    EXPECT_EQ(out, blanks(61) + "; x , Range = -5 to 7 \n");
}

TEST_F(abnf_fixture, name_comments_compare_without_case_and_with_the_name_part_of_links) {
    top(ET_BOOLEAN, "Root");
    top(ET_STRUCT, "Name");
    element* s = top(ET_STRUCT, "S");
    member(s, ET_INTEGER, "Count")->set_tag(t("count"));   // no comment
    member(s, ET_STRUCT, "name")->set_link(t("m::Name"));  // no comment
    element* other = member(s, ET_STRUCT, "other");        // comment: tag and link differ
    other->set_link(t("m::Name"));
    other->set_tag(t("o"));
    member(s, ET_DATE, "when")->set_tag(t("at"));  // comment
    const std::string r = rules();
    EXPECT_EQ(r.find("; count"), std::string::npos);
    EXPECT_EQ(r.find("; name"), std::string::npos);
    EXPECT_NE(r.find("( \"o\" EQUAL Name )" + blanks(42) + " ; other \n"), std::string::npos) << r;
    EXPECT_NE(r.find("; when \n"), std::string::npos);
}

TEST_F(abnf_fixture, links_write_and_count_their_name_part) {
    element* root = top(ET_STRUCT, "Root");
    element* target = top(ET_STRUCT, "Target");
    element* other = top(ET_STRUCT, "Other");
    member(target, ET_BOOLEAN, "f");
    member(other, ET_BOOLEAN, "f");
    element* a = member(root, ET_STRUCT, "a", 7);
    a->set_link(t("lib.mod::Target"));
    element* b = member(root, ET_STRUCT, "b", 8);
    b->set_link(t("x::Other::ignored"));
    element* c = member(root, ET_STRUCT, "c", 9);
    c->set_link(t("Target"));
    element* d = member(root, ET_STRUCT, "d", 10);
    d->set_link(t("m::Missing"));
    const std::string r = rules();
    EXPECT_NE(r.find("( \"a\" EQUAL Target ) "), std::string::npos) << r;
    EXPECT_NE(r.find("( \"b\" EQUAL Other ) "), std::string::npos) << r;
    EXPECT_NE(r.find("( \"c\" EQUAL Target ) "), std::string::npos) << r;
    EXPECT_NE(r.find("( \"d\" EQUAL Missing ) "), std::string::npos) << r;
    EXPECT_EQ(counted.of(*target), 2);
    EXPECT_EQ(counted.of(*other), 1);
    EXPECT_EQ(console(), "WARNING: Unable to find definition for: m::Missing (line: 10)\n");

    EXPECT_EQ(link_name_part("Name"), "Name");
    EXPECT_EQ(link_name_part("a::b::c"), "b");
    EXPECT_EQ(link_name_part("a::b.c"), "b.c");
}

TEST_F(abnf_fixture, the_first_of_several_definitions_of_a_name_is_counted) {
    element* root = top(ET_STRUCT, "Root");
    element* first = top(ET_BOOLEAN, "Dup");
    element* second = top(ET_BOOLEAN, "Dup");
    member(root, ET_BOOLEAN, "x")->set_link(t("Dup"));
    rules();
    EXPECT_EQ(counted.of(*first), 1);
    EXPECT_EQ(counted.of(*second), 0);
}

TEST_F(abnf_fixture, a_top_level_reference_counts_for_its_target) {
    top(ET_BOOLEAN, "Root");
    element* alias = top(ET_STRUCT, "Alias");
    alias->set_link(t("m::Target"));
    element* target = top(ET_STRUCT, "Target");
    member(target, ET_BOOLEAN, "f");
    rules();  // the counts of an earlier writing are not added to
    const std::string r = rules();
    EXPECT_NE(r.find("Alias = Target \n\n"), std::string::npos) << r;
    EXPECT_EQ(counted.of(*target), 1);
    report_unreferenced(run, counted, diag);
    EXPECT_EQ(console(), "Alias           : has not been referenced\n");
}

TEST_F(abnf_fixture, unions_write_their_alternatives_and_note_untagged_members) {
    top(ET_BOOLEAN, "Root");
    element* u = top(ET_UNION, "U");
    element* i1 = member(u, ET_INTEGER, "i1", 3);
    i1->set_tag(text{});
    element* i2 = member(u, ET_INTEGER, "i2", 4);
    i2->set_tag(text{});
    element* f = member(u, ET_BOOLEAN, "f", 5);
    f->set_tag(text{});
    element* s = range(member(u, ET_UNICODE, "s"), 1, 4);
    (void)s;
    element* one = top(ET_UNION, "One");
    member(one, ET_DATE, "d");
    EXPECT_EQ(rules(),
              "Root = bool \n\n"
              "U = ( \n"
              "        1*DIGIT /" +
                  blanks(51) + " ; i1 \n" + "        1*DIGIT /" + blanks(51) + " ; i2 \n" +
                  "        bool /" + blanks(54) + " ; f \n" +
                  "        ( \"s\" EQUAL LBRCE DQUOTE 1*4UTF8 DQUOTE RBRCE ) / \n"
                  "        extension-param ) \n\n"
                  "One = ( ( \"d\" EQUAL date ) / extension-param ) \n\n");
    EXPECT_EQ(console(),
              "ERROR: Only one INTEGER can be untagged in a CHOICE: i2 (line: 4)\n"
              "ERROR: Only an integer can be untagged in a union: f (line: 5)\n");
}

TEST_F(abnf_fixture, members_after_an_untagged_optional_one_must_be_optional) {
    element* s = make(ET_STRUCT, "S");
    member(s, ET_INTEGER, "first", 2);
    element* opt = times(member(s, ET_INTEGER, "opt", 3), 0, 1);
    opt->set_tag(text{});
    member(s, ET_BOOLEAN, "third", 4);
    times(member(s, ET_BOOLEAN, "fourth", 5), 0, 1);
    member(s, ET_DATE, "fifth", 6)->set_tag(text{});
    check_untagged(diag, *s);
    EXPECT_EQ(console(),
              "ERROR: All parameters following untagged optional parameter must also be "
              "OPTIONAL: third (line: 4)\n"
              "ERROR: All parameters following untagged optional parameter must also be "
              "OPTIONAL: fifth (line: 6)\n");
}

TEST_F(abnf_fixture, void_members) {
    top(ET_BOOLEAN, "Root");
    element* s = top(ET_STRUCT, "S");
    member(s, ET_NULL, "on");
    element* bare = member(s, ET_NULL, "bare", 9);
    bare->set_tag(text{});
    times(member(s, ET_NULL, "maybe"), 0, 1);
    EXPECT_EQ(rules(),
              "Root = bool \n\n"
              "S = LBRCE \n"
              "        \"on\"\n" +
                  blanks(8) + blanks(60) + " ; bare \n" + "        [ \"maybe\"] \n" +
                  "        extension-params\n"
                  "        RBRCE \n\n");
    EXPECT_EQ(console(), "ERROR: void types can not be untagged (Line: 9)\n");
}

TEST_F(abnf_fixture, empty_structures) {
    top(ET_STRUCT, "Root");
    top(ET_STRUCT, "Empty");
    element* holder = top(ET_STRUCT, "Holder");
    member(holder, ET_STRUCT, "inner");
    member(holder, ET_UNION, "choice");
    EXPECT_EQ(rules(),
              "Root = \"\" \n\n"
              "Empty = LBRCE extension-params RBRCE\n\n"
              "Holder = LBRCE \n"
              "        ( \"inner\" EQUAL LBRCE extension-params RBRCE) \n"
              "        ( \"choice\" EQUAL ( extension-param ) ) \n"
              "        extension-params\n"
              "        RBRCE \n\n");
}

TEST_F(abnf_fixture, a_one_member_root_structure_has_no_closing_text) {
    member(top(ET_STRUCT, "Root"), ET_DATE, "when");
    EXPECT_EQ(rules(), "Root = ( \"when\" EQUAL date ) \n\n");
}

TEST_F(abnf_fixture, a_root_union_ends_with_extension_param) {
    element* root = top(ET_UNION, "Root");
    member(root, ET_DATE, "a");
    member(root, ET_TIME, "b");
    EXPECT_EQ(rules(),
              "Root = \n"
              "        ( \"a\" EQUAL date ) / \n"
              "        ( \"b\" EQUAL time ) / \n"
              "        extension-param \n\n");
}

TEST_F(abnf_fixture, a_one_member_root_union_ends_on_its_line) {
    member(top(ET_UNION, "Root"), ET_DATE, "a");
    EXPECT_EQ(rules(), "Root = ( \"a\" EQUAL date ) / extension-param \n\n");
}

TEST_F(abnf_fixture, words_never_run_together) {
    top(ET_BOOLEAN, "Root");
    element* u = top(ET_UNION, "U");
    range(member(u, ET_EMBEDDED, "e"), 1, 9)->set_tag(text{});
    member(u, ET_BOOLEAN, "f");
    element* tagged_void = top(ET_STRUCT, "V");
    member(tagged_void, ET_NULL, "on");
    element* text_only = top(ET_STRUCT, "T");
    member(text_only, ET_UNICODE, "s")->set_tag(text{});
    element* nest = top(ET_STRUCT, "N");
    element* in = member(nest, ET_STRUCT, "in");
    in->set_tag(text{});
    member(in, ET_DATE, "d");
    const std::string r = rules();
    EXPECT_NE(r.find("( LBRCE LBRKT 1*9(%x20-7E) RBRKT RBRCE ) / "), std::string::npos) << r;
    EXPECT_NE(r.find("V = LBRCE \"on\" extension-params RBRCE\n"), std::string::npos) << r;
    EXPECT_NE(r.find("T = LBRCE DQUOTE *UTF8 DQUOTE extension-params RBRCE"), std::string::npos)
        << r;
    EXPECT_NE(r.find("N = LBRCE LBRCE ( \"d\" EQUAL date ) extension-params RBRCE "
                     "extension-params RBRCE"),
              std::string::npos)
        << r;
}

TEST_F(abnf_fixture, a_brace_in_a_tag_indents_the_following_lines) {
    top(ET_BOOLEAN, "Root");
    element* s = top(ET_STRUCT, "S");
    member(s, ET_BOOLEAN, "a")->set_tag(t("a{b"));
    member(s, ET_BOOLEAN, "c");
    top(ET_DATE, "Later");
    EXPECT_EQ(rules(),
              "Root = bool \n\n"
              "S = LBRCE \n"
              "        ( \"a    {b\" EQUAL bool )" +
                  blanks(40) + " ; a \n" +
                  "            ( \"c\" EQUAL bool ) \n"
                  "            extension-params\n"
                  "            RBRCE \n"
                  "    \n"
                  "    Later = date \n"
                  "    \n"
                  "    ");
    EXPECT_EQ(writer.depth, 1);
}

TEST_F(abnf_fixture, deep_nesting_is_written_and_a_body_containing_itself_is_refused) {
    element* root = top(ET_STRUCT, "Root");
    element* parent = root;
    // As deep as the parser goes: 999 bodies inside the root's.
    for (int i = 0; i < max_body_depth - 1; ++i) parent = member(parent, ET_STRUCT, "m");
    member(parent, ET_BOOLEAN, "leaf");
    const std::string r = rules();
    EXPECT_NE(r.find("( \"leaf\" EQUAL bool ) extension-params RBRCE"), std::string::npos);
    EXPECT_EQ(console(), "");

    // Far beyond what the parser accepts: refused before the stack runs out.
    for (int i = 0; i < 5000; ++i) parent = member(parent, ET_STRUCT, "deep", 5);
    rules();
    EXPECT_EQ(console(), "ERROR: Members nested too deeply to be written: deep (line: 5)\n");
    root->set_children(nullptr);
    captured.take();

    // A member that shares the member list it stands in: the walk would
    // never end.
    element* loop = top(ET_STRUCT, "Loop");
    element* self = member(loop, ET_STRUCT, "self", 12);
    self->set_children(loop->children());
    self->is_copy = true;
    rules();
    EXPECT_EQ(console(),
              "ERROR: Members contain themselves and can not be written: self (line: 12)\n");
}

TEST(abnf_common_rules, block_is_exact) {
    const std::string_view rules = common_rules();
    EXPECT_EQ(rules.size(), 4669u);
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t nl; (nl = rules.find('\n', start)) != std::string_view::npos; start = nl + 1) {
        lines.emplace_back(rules.substr(start, nl - start));
    }
    EXPECT_EQ(start, rules.size()) << "the block ends with a newline";
    ASSERT_EQ(lines.size(), 119u);
    EXPECT_EQ(lines[118], "");

    std::vector<std::pair<int, int>> trailing;
    std::vector<int> tabs;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& l = lines[i];
        const std::size_t end = l.find_last_not_of(' ');
        const std::size_t n = end == std::string::npos ? l.size() : l.size() - end - 1;
        if (n > 0) trailing.emplace_back(static_cast<int>(i + 1), static_cast<int>(n));
        if (l.find('\t') != std::string::npos) tabs.push_back(static_cast<int>(i + 1));
    }
    const std::vector<std::pair<int, int>> expected = {
        {29, 1},  {33, 22}, {35, 22}, {48, 1},  {55, 1},  {66, 1},  {80, 1},  {81, 1},
        {82, 1},  {83, 1},  {84, 1},  {86, 1},  {87, 1},  {88, 1},  {89, 1},  {91, 1},
        {92, 1},  {96, 1},  {97, 1},  {98, 1},  {99, 2},  {100, 1}, {101, 2}, {102, 1},
        {103, 2}, {104, 1}, {105, 1}, {106, 1}, {107, 1}, {108, 1}, {109, 1}, {110, 1},
        {111, 1}, {112, 1}, {113, 1}, {114, 1}, {115, 1}, {116, 2}, {117, 1}, {118, 1}};
    EXPECT_EQ(trailing, expected);
    EXPECT_EQ(tabs, std::vector<int>{93});
    EXPECT_EQ(lines[92],
              "WSNC                = 1*( SP / HTAB / CR / LF )\t; Whitespace - no comment");
    EXPECT_EQ(lines[0], "extension-params    = extension-param *( WS extension-param )");
    EXPECT_EQ(lines[117], "                      ; Not = } ) , ");
}

TEST(abnf_header_time, source_date_epoch_gives_utc_and_bad_values_are_ignored) {
    EXPECT_EQ(date_line_text(header_time("1700000000")), "Tue Nov 14 22:13:20 2023");
    EXPECT_EQ(date_line_text(header_time("0")), "Thu Jan 01 00:00:00 1970");
    EXPECT_EQ(date_line_text(header_time("1081937825")), "Wed Apr 14 10:17:05 2004");
    const std::tm now = header_time(nullptr);
    for (const char* bad : {"", "-1", "+5", " 5", "5 ", "12a", "1e9", "99999999999999999999999",
                            "253402300800" /* year 10000 */}) {
        const std::tm tm = header_time(bad);
        // Ignored values give the local time now, not the epoch.
        EXPECT_GE(tm.tm_year, now.tm_year) << bad;
        EXPECT_LE(tm.tm_year, now.tm_year + 1) << bad;
    }
    EXPECT_EQ(date_line_text(header_time("253402300799")), "Fri Dec 31 23:59:59 9999");
}

TEST_F(abnf_fixture, header_layout) {
    run.input_path = "dir/in.pvx";
    std::string file;
    write_abnf_to_memory(run, diag, settings(), file);
    const std::string head = file.substr(0, file.find(";\n\n") + 3);
    std::vector<std::string> lines;
    std::istringstream in(head);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    ASSERT_EQ(lines.size(), 4u + 12u + 1u);
    EXPECT_EQ(lines[0], "; Created by pavex2abnf");
    EXPECT_EQ(lines[1], "; From: dir/in.pvx");
    EXPECT_EQ(lines[2], "; On: Tue Nov 14 22:13:20 2023");
    EXPECT_EQ(lines[3].rfind(";", 0), 0u);
    EXPECT_NE(lines[3].find("2023"), std::string::npos);
    for (int i = 4; i < 16; ++i) EXPECT_EQ(lines[i].rfind(";", 0), 0u) << i;
    for (int i : {4, 6, 10, 12}) EXPECT_EQ(lines[i], ";") << i;
    EXPECT_EQ(lines[16], "");
    EXPECT_EQ(head.find_first_of("%{}"), std::string::npos);
    // An empty model still gets the header and the common rules.
    EXPECT_EQ(file, head + "\n\n" + std::string(common_rules()));
}

struct output_fixture : abnf_fixture {
    std::filesystem::path folder;
    void SetUp() override {
        abnf_fixture::SetUp();
        folder = std::filesystem::path(QRV_TEST_TMP) / "abnf";
        std::filesystem::create_directories(folder);
        member(top(ET_STRUCT, "Root"), ET_BOOLEAN, "f");
        top(ET_DATE, "Unused");
        top(ET_DATE, "A_name_of_fifteen_or_more");
    }
    int output_to(const std::string& path) {
        return write_output(run, diag, path.c_str(), settings());
    }
};

TEST_F(output_fixture, writes_the_file_and_reports_unreferenced_definitions) {
    const auto path = folder / "ok.abnf";
    EXPECT_EQ(output_to(path.string()), 0);
    EXPECT_EQ(console(),
              "Unused          : has not been referenced\n"
              "A_name_of_fifteen_or_more : has not been referenced\n");
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    std::string memory;
    write_abnf_to_memory(run, diag, settings(), memory);
    EXPECT_EQ(s.str(), memory);
}

TEST_F(output_fixture, no_output_name_is_a_note_with_status_zero) {
    EXPECT_EQ(write_output(run, diag, nullptr, settings()), 0);
    EXPECT_EQ(console(), "error: Output file not specified\n");
}

TEST_F(output_fixture, a_file_that_cannot_be_created_ends_with_status_one_and_no_report) {
    const std::string path = (folder / "missing" / "x.abnf").string();
    EXPECT_EQ(output_to(path), 1);
    EXPECT_EQ(console(), "error: Unable to create output file: " + path + "\n");
}

TEST_F(output_fixture, a_write_failure_ends_with_status_one_after_the_report) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    EXPECT_EQ(output_to("/dev/full"), 1);
    EXPECT_EQ(console(),
              "error: Unable to write output file: /dev/full\n"
              "Unused          : has not been referenced\n"
              "A_name_of_fifteen_or_more : has not been referenced\n");
    EXPECT_TRUE(std::filesystem::exists("/dev/full"));
}

}  // namespace
}  // namespace qrv
