// The message checker on definitions read from source text: each form of
// value with its checks, the structure of bodies, positions and paths,
// hostile bytes, and deep and long messages on a small stack.
#include <gtest/gtest.h>
#include <pthread.h>

#include <memory>
#include <string>

#include "abnf/strict_grammar.h"
#include "console_capture.h"
#include "encoding/encoding.h"
#include "frontend/source.h"
#include "messages/checker.h"
#include "postparse/post_parse.h"
#include "schema_fixture.h"
#include "test_model.h"

namespace qrv {
namespace {

// Runs `f` on a thread with the stack a library caller may give us.
template <class F>
void on_small_stack(F f) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 256 * 1024);
    pthread_t thread;
    ASSERT_EQ(pthread_create(
                  &thread, &attr,
                  [](void* p) -> void* {
                      (*static_cast<F*>(p))();
                      return nullptr;
                  },
                  &f),
              0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
}

struct check_fixture : schema_fixture {
    // "" for a valid message, else "line:col path: message".
    std::string check(const std::string& message, const char* type = nullptr, bool closed = false) {
        const element* root = type == nullptr ? run->elements : find_message_type(*run, type);
        if (root == nullptr) return "no such type";
        const check_result r = check_message(*root, message, {}, closed);
        if (r.valid()) return "";
        const check_error* e = &r.error;
        return std::string(r.verdict == check_verdict::undecided ? "undecided " : "") +
               std::to_string(e->line) + ":" + std::to_string(e->column) + " " + e->path + ": " +
               e->message;
    }
};

using check_values = check_fixture;

TEST_F(check_values, IntegersLieInTheirRangeWithTheSignTheRangeAllows) {
    define("struct M { int<1..100> a; int<-5..5> b [?]; int<0..4294967295> c [?]; };");
    EXPECT_EQ(check("a=1"), "");
    EXPECT_EQ(check("a = 100 b=-5 c=4294967295"), "");
    EXPECT_EQ(check("a=101"), "1:3 a: expected an integer from 1 to 100, found \"101\"");
    EXPECT_EQ(check("a=0"), "1:3 a: expected an integer from 1 to 100, found \"0\"");
    EXPECT_EQ(check("a=-1"), "1:3 a: expected an integer from 1 to 100, found \"-1\"");
    EXPECT_EQ(check("a=1 b=-6"), "1:7 b: expected an integer from -5 to 5, found \"-6\"");
    EXPECT_EQ(check("a=9999999999999999999999"),
              "1:3 a: expected an integer from 1 to 100, found \"9999999999999999999999\"");
    EXPECT_EQ(check("a=1 c=-3"), "1:7 c: expected an integer from 0 to 4294967295, found \"-3\"");
}

TEST_F(check_values, TextsCountCharactersAndEscapes) {
    define(
        "struct M { ascii<2..3> a; unicode<1> u [?]; unquoted-ascii<4> q [?];"
        " embedded<2..4> e [?]; };");
    EXPECT_EQ(check("a='ab'"), "");
    EXPECT_EQ(check("a='\\'\\\\'"), "");  // two escapes are two characters
    EXPECT_EQ(check("a='a'"), "1:3 a: expected a text of 2 to 3 characters, found 1");
    EXPECT_EQ(check("a='abcd'"), "1:3 a: expected a text of 2 to 3 characters, found 4");
    EXPECT_EQ(check("a='a\\b'"), "1:5 a: expected \\\\ or \\', found \"\\\\b\"");
    EXPECT_EQ(check("a='ab\xC3\xA9'"),
              "1:6 a: expected an ASCII character or \"'\", found byte 0xC3");
    EXPECT_EQ(check("a='ab"), "1:6 a: expected \"'\", found end of message");
    // One code point in two bytes; invalid UTF-8 is found at its byte.
    EXPECT_EQ(check("a='ab' u=\"\xC3\xA9\""), "");
    EXPECT_EQ(check("a='ab' u=\"\\\"\""), "");
    EXPECT_EQ(check("a='ab' u=\"\xC3\xA9\xC3\xA9\""),
              "1:10 u: expected a text of 1 character, found 2");
    EXPECT_EQ(check("a='ab' u=\"\xC0\x80\""),
              "1:11 u: expected a UTF-8 character or '\"', found byte 0xC0");
    EXPECT_EQ(check("a='ab' u=\"\xED\xA0\x80\""),
              "1:12 u: expected a UTF-8 continuation byte, found byte 0xA0");
    EXPECT_EQ(check(std::string("a='ab' u=\"\0\"", 12)), "");
    EXPECT_EQ(check("a='ab' q=abcd"), "");
    EXPECT_EQ(check("a='ab' q=abcde"), "1:10 q: expected a text of 4 characters, found 5");
    EXPECT_EQ(check("a='ab' e=(ab)"), "");
    // Spaces at the ends may be white space or text.
    EXPECT_EQ(check("a='ab' e=(  a  )"), "");
    EXPECT_EQ(check("a='ab' e=(abcde)"),
              "1:10 e: expected a text in (...) of 2 to 4 characters, found 5");
    EXPECT_EQ(check("a='ab' e=(a\tb)"),
              "1:12 e: expected a visible ASCII character or \")\", found \"\\x09\"");
}

// A size from 0 lets an unquoted text be empty, as the grammar's 0*n does;
// without a size it needs a character.
TEST_F(check_values, AnUnquotedTextSizedFromZeroMayBeEmpty) {
    define("struct M { unquoted-ascii<0..5> q; unquoted-ascii w [?]; bool b [?]; };");
    EXPECT_EQ(check("q="), "");
    EXPECT_EQ(check("q= \n"), "");
    EXPECT_EQ(check("q=abc w=x"), "");
    EXPECT_EQ(check("q=a w="), "1:7 w: expected a text, found end of message");
    // A word followed by "=" is the next tag (no value is followed by "="):
    // the text before it is the empty one, as the grammar reads it.
    EXPECT_EQ(check("q= b=T"), "");
    EXPECT_EQ(check("q= /* c */ b /* d */ = T"), "");
    EXPECT_EQ(check("q= ext = 1"), "");
    EXPECT_EQ(check("q= abc b=T"), "");
}

// A text that can only be empty, before a member or at the end.
TEST_F(check_values, AnUnquotedTextOfSizeZero) {
    define("struct M { unquoted-ascii<0> tail; int<0..9> digit; };");
    EXPECT_EQ(check("tail = \ndigit = 1"), "");
    EXPECT_EQ(check("tail = x digit = 1"), "1:8 tail: expected a text of 0 characters, found 1");
}

// A constant that begins with white space may take the blanks the grammar
// also lets stand before it.
TEST_F(check_values, AConstantMayBeginInTheWhiteSpaceBeforeIt) {
    define("struct M { combi c { const< x> head; int<0..9> n; }; const<\n\tend> tail; };");
    EXPECT_EQ(check("c = x5 tail =\n\tend"), "");
    EXPECT_EQ(check("c =  x5 tail = \n\tend"), "");
    EXPECT_EQ(check("c =x5 tail =\n\tend"), "1:4 c.head: expected \" x\", found \"x5\"");
}

TEST_F(check_values, BytesAreCountedDecodedWithTheirPaddingChecked) {
    define("struct M { bytes<1..3> b; bytes s [?]; bytes<0> z [?]; };");
    EXPECT_EQ(check("b=[QQ==]"), "");
    EXPECT_EQ(check("b=[QUJD]"), "");
    EXPECT_EQ(check("b=[QUJDRA==]"), "1:3 b: expected 1 to 3 bytes of Base64 data, found 4");
    EXPECT_EQ(check("b=[QR==]"),
              "1:4 b: expected Base64 padding after bits that are zero, found \"QR==\"");
    EXPECT_EQ(check("b=[QQ=]"),
              "1:4 b: expected a group of four Base64 characters, found \"QQ=]\"");
    EXPECT_EQ(check("b=[]"), "1:3 b: expected 1 to 3 bytes of Base64 data, found 0");
    // Without a size: "^" and any number of lines, each up to 19 groups.
    EXPECT_EQ(check("b=[QQ==] s=[^]"), "");
    EXPECT_EQ(check("b=[QQ==] s=[^QQ==QQ==]"), "");
    EXPECT_EQ(check("b=[QQ==] s=[QQ==]"), "1:13 s: expected \"^\", found \"QQ\"");
    EXPECT_EQ(check("b=[QQ==] z=[]"), "");
    // Two padded groups make two lines, where the size allows one.
    EXPECT_EQ(check("b=[QQ==QQ==]"),
              "1:3 b: expected Base64 data in 1 line of 19 groups (a padded group ends its line), "
              "found 2 or more");
}

TEST_F(check_values, DatesExistAndTimesStayOnTheClock) {
    define("struct M { date d; time t [?]; };");
    EXPECT_EQ(check("d=2024-02-29 t=23:59:60"), "");
    EXPECT_EQ(check("d=2023-02-29"), "1:3 d: expected a date that exists, found \"2023-02-29\"");
    EXPECT_EQ(check("d=1900-02-29"), "1:3 d: expected a date that exists, found \"1900-02-29\"");
    EXPECT_EQ(check("d=2000-02-29"), "");
    EXPECT_EQ(check("d=2024-13-01"), "1:3 d: expected a date that exists, found \"2024-13-01\"");
    EXPECT_EQ(check("d=2024-04-31"), "1:3 d: expected a date that exists, found \"2024-04-31\"");
    EXPECT_EQ(check("d=2024-4-30"), "1:3 d: expected a date (YYYY-MM-DD), found \"2024-4-30\"");
    EXPECT_EQ(check("d=2024-01-01 t=24:00:00"),
              "1:16 t: expected a time from 00:00:00 to 23:59:60, found \"24:00:00\"");
    EXPECT_EQ(check("d=2024-01-01 t=12:60:00"),
              "1:16 t: expected a time from 00:00:00 to 23:59:60, found \"12:60:00\"");
}

TEST_F(check_values, AddressesAndObjectIdentifiers) {
    define("struct M { ipv4 a; ipv6 b [?]; oid o [?]; };");
    EXPECT_EQ(check("a=255.0.10.1"), "");
    EXPECT_EQ(check("a=256.0.0.1"),
              "1:3 a: expected an IPv4 address of octets from 0 to 255, found \"256.0.0.1\"");
    EXPECT_EQ(check("a=1.2.3"), "1:3 a: expected an IPv4 address, found \"1.2.3\"");
    EXPECT_EQ(check("a=x.2.3.4"), "1:3 a: expected an IPv4 address, found \"x.2.3.4\"");
    EXPECT_EQ(check("a="), "1:3 a: expected an IPv4 address, found end of message");
    EXPECT_EQ(check("a=1.2.3.4 b=::"), "");
    EXPECT_EQ(check("a=1.2.3.4 b=fe80::1"), "");
    EXPECT_EQ(check("a=1.2.3.4 b=1:2:3:4:5:6:7:8"), "");
    EXPECT_EQ(check("a=1.2.3.4 b=1:2:3:4:5:6:7"),
              "1:13 b: expected an IPv6 address of eight groups, found \"1:2:3:4:5:6:7\"");
    EXPECT_EQ(check("a=1.2.3.4 b=1::2::3"),
              "1:13 b: expected an IPv6 address with one \"::\" at most, found \"1::2::3\"");
    EXPECT_EQ(check("a=1.2.3.4 b=1:2:3:4::5:6:7:8"),
              "1:13 b: expected at most seven groups beside \"::\", found \"1:2:3:4::5:6:7:8\"");
    EXPECT_EQ(check("a=1.2.3.4 b=12345::"),
              "1:13 b: expected an IPv6 address of groups of 1 to 4 digits, found \"12345::\"");
    EXPECT_EQ(check("a=1.2.3.4 o=1~3~6~1"), "");
    EXPECT_EQ(check("a=1.2.3.4 o=3~1"),
              "1:13 o: expected an object identifier whose first arc is 0, 1 or 2, found \"3~1\"");
    EXPECT_EQ(check("a=1.2.3.4 o=1~40"),
              "1:13 o: expected a second arc from 0 to 39 under arc 0 or 1, found \"1~40\"");
    EXPECT_EQ(check("a=1.2.3.4 o=2~40"), "");
    EXPECT_EQ(check("a=1.2.3.4 o=1"),
              "1:13 o: expected an object identifier of two arcs or more, found \"1\"");
}

TEST_F(check_values, BooleansFloatsAndConstantsCompareAsTheGrammarDoes) {
    define("struct M { bool b; float<double> f [?]; const<EUR> c [?]; };");
    EXPECT_EQ(check("b=true f=-1.5e+3 c=eur"), "");
    EXPECT_EQ(check("b=T f=+7"), "");
    EXPECT_EQ(check("b=yes"), "1:3 b: expected True or False, found \"yes\"");
    EXPECT_EQ(check("b=F f=.5"), "1:7 f: expected a number, found \".5\"");
    EXPECT_EQ(check("b=F c=USD"), "1:7 c: expected \"EUR\", found \"USD\"");
}

using check_structure = check_fixture;

TEST_F(check_structure, MembersInOrderWithWhiteSpaceCommentsAndExtensions) {
    define(
        "struct M { int<0..9> a; bool b [?]; Inner in [?]; };\n"
        "struct Inner { int<0..9> x; };");
    EXPECT_EQ(check("a=1"), "");
    EXPECT_EQ(check("  /* c */ a = 1 // line\n b=T\r\n"), "");
    EXPECT_EQ(check("A=1 B=t"), "");  // tags compare without regard to case
    EXPECT_EQ(check("a=1 in={x=2}"), "");
    EXPECT_EQ(check("a=1 in = { x = 2 ext=(p q,r) } more='x'"), "");
    EXPECT_EQ(check("b=T"), "1:1 : expected \"a\", found \"b\"");
    EXPECT_EQ(check("a=1 in={y=2}"), "1:9 in: expected \"x\", found \"y\"");
    EXPECT_EQ(check("a=1 in={x=2"),
              "1:12 in: expected an extension parameter or \"}\", found end of message");
    EXPECT_EQ(check("a=1 in={x=2} }"),
              "1:14 : expected an extension parameter or end of message, found \"}\"");
    // An unterminated comment is no white space: "/*" is the first word of
    // an extension parameter.
    EXPECT_EQ(check("a=1 /* open"), "");
    EXPECT_EQ(check("a=1 b=/* c */T"), "");
    EXPECT_EQ(check("a=1 b=/* open"), "1:7 b: expected True or False, found \"/*\"");
    EXPECT_EQ(check("a=1 b=// no line end"), "1:7 b: expected True or False, found \"//\"");
    // Extension parameters are separated by white space.
    EXPECT_EQ(check("a=1 x='1''2'"),
              "1:10 : expected white space or end of message, found \"'2'\"");
}

TEST_F(check_structure, CardinalitiesAreExactAndPathsIndexTheValues) {
    define("struct M { Line items [2..3]; };\nstruct Line { int<1..100> qty; };");
    EXPECT_EQ(check("items={qty=1},{qty=2}"), "");
    EXPECT_EQ(check("items={qty=1}, {qty=2} ,{qty=3}"), "");
    EXPECT_EQ(check("items={qty=1}"),
              "1:14 items[0]: expected \",\" and another value of items (2 at least), found end "
              "of message");
    EXPECT_EQ(check("items={qty=1},{qty=2},{qty=3},{qty=4}"),
              "1:30 items[2]: expected 3 values of items at most, found \",\"");
    EXPECT_EQ(check("items={qty=1},\n{qty=0}"),
              "2:6 items[1].qty: expected an integer from 1 to 100, found \"0\"");
}

TEST_F(check_structure, UnionsTakeOneAlternativeOrAnExtension) {
    define("union U { int<0..99> code as ?; P p; bool flag; };\nstruct P { int<0..9> x; };");
    EXPECT_EQ(check("{42}"), "");  // a ranged untagged integer stands in braces
    EXPECT_EQ(check("p={x=1}"), "");
    EXPECT_EQ(check(" flag = F "), "");
    EXPECT_EQ(check("other=1"), "");  // an extension parameter
    EXPECT_EQ(check("{100}"), "1:2 code: expected an integer from 0 to 99, found \"100\"");
    EXPECT_EQ(check("p={x=1} flag=T"), "1:9 : expected end of message, found \"flag\"");
    EXPECT_EQ(check("}"),
              "1:1 : expected \"{\", \"p\", \"flag\" or an extension parameter, found \"}\"");
}

// In a list of union values, a comma after a repeated alternative's value
// goes on with that alternative unless a tagged alternative follows it.
TEST_F(check_structure, ListsOfUnionValuesWhoseAlternativesRepeat) {
    define(
        "struct M { union L [3..*] { struct s [+] { int<0..9> u as ?; }; bool n [0];\n"
        "  void v [2..*]; unquoted-ascii w [+]; }; int<0..9> z [?]; };");
    EXPECT_EQ(check("L = s = {0}, {0}, v,,, v,, v,,"), "");
    EXPECT_EQ(check("L = v,, v,, w = a, b, v,"), "");
    EXPECT_EQ(check("L = v,,, v,, v,, z=1"), "");
    EXPECT_EQ(
        check("L = v,, v,"),
        "1:11 L[1]: expected \",\" and another value of L (3 at least), found end of message");
    EXPECT_EQ(check("L = v, v,, v,,"),
              "1:6 L[0].v[0]: expected \",\" and another value of v (2 at least), found \",\"");
}

TEST_F(check_structure, ATagDecidesOnlyWhereTheOuterListMayGoOn) {
    // S stands once: after e's first value the comma is e's own, though
    // S's alternative m0 has the tag that follows it; where S repeats,
    // the tag decides.
    define(
        "struct M { union S { ipv4 m0 [*]; N e [+]; }; union R [2] { ipv4 m0 [*]; N e [+]; }; };\n"
        "union N { bool m0 [0..1]; bool f; };");
    EXPECT_EQ(check("S = e = m0 = T, m0 = F, f = T R = e = f = T, m0 = 1.2.3.4"), "");
    EXPECT_EQ(check("S = e = f = T R = e = m0 = T, m0 = F"),
              "1:36 R[1].m0[0]: expected an IPv4 address, found \"F\"");
}

// Where the grammar reads the same bytes in more than one way, every
// reading is tried: each row is a message the strict grammar derives that
// the preferred reading alone got wrong, or one that no reading holds.
TEST_F(check_structure, EveryReadingTheGrammarAllowsIsTried) {
    define(
        "struct Empties { union U [1..*] { ipv6 m0 [0]; }; unquoted-ascii c [1..*]; oid m3 [*]; "
        "};\n"
        "struct Braces { union U [+] { ipv6 m0 [0]; }; struct s [+] { }; };\n"
        "struct Lists { union L [+] { oid m0 [*]; Item owner2 [3]; }; };\n"
        "union Item { oid m0 [+]; oid m1 [+]; };\n"
        "struct Runs { union R [0..*] { bool m0 [0..1]; time m1 [+]; X x [+]; }; };\n"
        "union X { bytes<1..3> m0; };\n"
        "struct Tags { union T [3] { ascii t [*];\n"
        "  union m1 [*] { int<0..999> u as ?; struct m1 [?] { bool b [?]; }; }; }; };\n"
        "struct Shared { union V [2] { bool m0 [?]; }; bool m0; };\n"
        "struct Params { union W [2] { bool b; }; Z z [?]; };\n"
        "union Z { };\n"
        "struct Untagged { union N [2] { int<0..9> u as ?; struct s [+] { bool b [?]; }; }; };");
    struct row {
        const char* type;
        const char* message;
        const char* expected;
    };
    const row rows[] = {
        // An empty union value, not an extension parameter that takes the
        // next member's tag (or fails on its empty braces).
        {"Empties", "U = , \nc = a, b\nm3 = 1~2~3", ""},
        {"Braces", "U = ,\ns = {}", ""},
        // A comma of the alternative's list though a tag of the union
        // follows: the alternative needs more values, or the union's
        // alternative of that tag cannot read on.
        {"Lists", "L = owner2 = m1 = 1~2, 1~3, 1~4, m0 = 1~5, m0 = 1~6", ""},
        {"Runs", "R = x = m0 = {[QQ==]}, m0 = {[QUI=]}", ""},
        {"Tags", "T = t = 'a', m1 = {88}, m1 = { b = T }, {999}, t = 'c'", ""},
        // The tag of an alternative that fits, read as the next member:
        // the union value is empty.
        {"Shared", "V = m0 = T,\nm0 = F", ""},
        // A comma of the list around an extension parameter.
        {"Params", "W = x, y", ""},
        {"Params", "W = x, y z = a, b", ""},
        // An untagged integer after a repeated alternative's value.
        {"Untagged", "N = s = { b = T }, {5}", ""},
        // A value that fits no alternative is the list's next value, an
        // extension parameter.
        {"Lists", "L = m0 = 1~2, 1~99", ""},
        // No reading holds (where fitting bytes are read as members): the
        // preferred reading's error.
        {"Shared", "V = m0 = T, m0 = 5", "1:18 V[1].m0: expected True or False, found \"5\""},
        {"Lists", "L = owner2 = m1 = 1~2",
         "1:22 L[0].owner2[0]: expected \",\" and another value of owner2 (3 at least), found "
         "end of message"},
        {"Params", "W = x, y, z = a", ""},
        {"Params", "W = x",
         "1:6 W[0]: expected \",\" and another value of W (2 at least), found end "
         "of message"},
    };
    for (const row& r : rows) EXPECT_EQ(check(r.message, r.type), r.expected) << r.message;
}

TEST_F(check_structure, CombinationsAndUntaggedMembers) {
    define(
        "struct M { C c as ?; int<0..999> n [?] as ?; bool t [?]; };\n"
        "combi C { int<0..99> a; const<X> k; unquoted-ascii<2> u; };");
    EXPECT_EQ(check("07Xab"), "");
    EXPECT_EQ(check("7xab 12 t=T"), "");
    EXPECT_EQ(check("07Yab"), "1:3 c.k: expected \"X\", found \"Yab\"");
    EXPECT_EQ(check("07Xa"), "1:4 c.u: expected a text of 2 characters, found 1");
    EXPECT_EQ(check("07Xab 1000"), "1:7 n: expected an integer from 0 to 999, found \"1000\"");
}

// Digits of adjacent integers split wherever the grammar lets them, and
// the values decide; digits an integer leaves must be read by the next
// member, never by an extension parameter.
TEST_F(check_structure, AdjacentIntegersSplitAnywhereTheirDigitsAllow) {
    define(
        "struct M { C c; S s [?]; };\n"
        "combi C { int<0..50> a; int<0..9> b; };\n"
        "struct S { int<0..50> a as ?; int<0..9> b as ?; };\n"
        "struct T { combi D { int<0..99> a; int<0..9> b [?]; int<0..9> c; }; bool z [?]; };\n"
        "struct U { int<0..50> a as ?; ascii s [?] as ?; };");
    EXPECT_EQ(check("c=57"), "");   // only 5 and 7 read
    EXPECT_EQ(check("c=00"), "");   // 0 and 0
    EXPECT_EQ(check("c=507"), "");  // 50 and 7
    EXPECT_EQ(check("c=50 s={57}"), "");
    EXPECT_EQ(check("c=50 s={00}"), "");
    EXPECT_EQ(check("c=50 s={5 7}"), "");
    EXPECT_EQ(check("c=5"), "1:4 c.b: expected an integer from 0 to 9, found end of message");
    EXPECT_EQ(check("c=5x"), "1:4 c.b: expected an integer from 0 to 9, found \"x\"");
    // An optional member of a combination may stand aside for the next.
    EXPECT_EQ(check("D=123", "T"), "");
    EXPECT_EQ(check("D=1234", "T"), "");
    // The longest form is the preferred reading and gives the error; the
    // digits of a shorter one would be left to an extension parameter.
    EXPECT_EQ(check("57", "U"), "1:1 a: expected an integer from 0 to 50, found \"57\"");
    EXPECT_EQ(check("5'x'", "U"), "");
}

// Alternatives and optional members that share a tag, nested: the reading
// preferred at every level is wrong, and only a search that knows a body's
// readings wherever it stands stays linear. Whichever comes first, the
// message is valid; and long blanks between values cost one reading each.
TEST_F(check_structure, SharedTagsNestedDeepAreDecidedInLinearTime) {
    define(
        "struct Root { U top [?]; S list [*]; };\n"
        "union U { S1 a as x; S2 b as x; };\n"
        "struct S1 { U u [?]; bool p; };\n"
        "struct S2 { U u [?]; bool q; };\n"
        "union V { S2 b as x; S1 a as x; };\n"
        "struct S { S1 a [?] as x; S2 b [?] as x; };");
    const std::string blanks(2000, ' ');
    std::string alternatives = "x=" + blanks + "{q=T}";
    std::string members = "{x=" + blanks + "{q=T}}";
    for (int i = 0; i < 200; ++i) {
        alternatives = "x=" + blanks + "{u=" + alternatives + blanks + "q=T}";
        members = "{x=" + blanks + "{u=" + members.substr(3, members.size() - 4) + blanks + "q=T}}";
    }
    for (const std::string& message : {"top=" + alternatives, "list=" + members + "," + members}) {
        const check_result r = check_message(*run->elements, message);
        EXPECT_TRUE(r.valid()) << r.error.message;
        EXPECT_LT(r.search_steps, 100u * 200);
        const check_result bad = check_message(*run->elements, message + " }");
        EXPECT_EQ(bad.verdict, check_verdict::invalid);
        EXPECT_LT(bad.search_steps, 100u * 200);
    }
    EXPECT_EQ(check("x={u=x={q=T} q=T}", "V"), "");
    EXPECT_EQ(check("x={u=x={p=T} p=T}", "V"), "");
}

// A search that runs out of its budget has not shown that no reading
// holds: the message is undecided, with the preferred reading's error.
TEST_F(check_structure, ASearchOutOfBudgetIsUndecidedNeverInvalid) {
    define(
        "struct Root { U top; };\n"
        "union U { S1 a as x; S2 b as x; };\n"
        "struct S1 { U u [?]; bool p; };\n"
        "struct S2 { U u [?]; bool q; };");
    std::string m = "x={q=T}";
    for (int i = 0; i < 30; ++i) m = "x={u=" + m + " q=T}";
    check_limits tight;
    tight.steps_per_byte = 0;
    tight.steps_at_least = 20;
    for (const std::string& message : {"top=" + m, "top=" + m + "}"}) {
        const check_result r = check_message(*run->elements, message, tight);
        EXPECT_EQ(r.verdict, check_verdict::undecided);
        EXPECT_EQ(r.error.path.substr(0, 9), "top.a.u.a");
    }
    EXPECT_TRUE(check_message(*run->elements, "top=" + m).valid());
}

// Errors name the member they are about.
TEST_F(check_structure, ErrorsAfterAValueAndAtAVoidTagNameTheMember) {
    define("struct M { ipv6 v6 [?]; void marker; bool urgent [?]; };");
    EXPECT_EQ(check("v6=::ffff:1.2.3.4 marker"),
              "1:12 v6: expected \"marker\", found \".2.3.4\" directly after its value");
    EXPECT_EQ(check("marker=T"),
              "1:7 : expected \"marker\" alone (a void member takes no value), found \"=\"");
    EXPECT_EQ(check("v6=::1 marker urgent=T"), "");
}

TEST_F(check_structure, VersionBracketMembersAndVoidTags) {
    define("struct M { int<0..9> a; [ void ok; int<0..9> b; ] };");
    EXPECT_EQ(check("a=1"), "");
    EXPECT_EQ(check("a=1 ok b=2"), "");
    EXPECT_EQ(check("a=1 ok"), "");
    EXPECT_EQ(check("a=1 b=2"), "");
    // "ok=1" is no void member: the extension parameter ok=1 follows.
    EXPECT_EQ(check("a=1 ok=1"), "");
    EXPECT_EQ(check("a=1 b=2 ok"), "");  // ok as an extension parameter
}

TEST_F(check_structure, TypeNamesAMessageOfAnotherDefinition) {
    read_source_text(*run, diag, "t.pvx", "pavex module a;\nstruct R { int<0..9> r; };\n", nullptr);
    read_source_text(*run, diag, "u.pvx", "pavex module b;\nstruct S { bool s; };\n", nullptr);
    ASSERT_EQ(post_parse(*run, diag), 1);
    EXPECT_EQ(check("r=1"), "");
    EXPECT_EQ(check("s=T", "S"), "");
    EXPECT_EQ(check("s=T", "b::S"), "");
    EXPECT_EQ(check("s=T", "a::S"), "no such type");
    EXPECT_EQ(check("{s=T}", "S"), "1:1 : expected \"s\", found \"{s\"");
}

TEST_F(check_structure, HostileBytesAreReportedNeverRead) {
    define("struct M { unicode u; };");
    EXPECT_EQ(check(""), "1:1 : expected \"u\", found end of message");
    EXPECT_EQ(check(std::string("\0", 1)), "1:1 : expected \"u\", found byte 0x00");
    EXPECT_EQ(check("u=\"\xFF\""), "1:4 u: expected a UTF-8 character or '\"', found byte 0xFF");
    EXPECT_EQ(check("u=\"\xF0\x9F"),
              "1:6 u: expected a UTF-8 continuation byte, found end of message");
    EXPECT_EQ(check("u=\"\"\n\n   x=}"), "3:6 : expected an extension value, found \"}\"");
    std::string many_comments;
    for (int i = 0; i < 100000; ++i) many_comments += "/*";
    EXPECT_EQ(check("u=\"\" x=" + many_comments).substr(0, 4), "");  // in a word, linear
}

TEST_F(check_structure, DeepAndLongMessagesOnASmallStack) {
    define("struct N { N n [?]; int<0..9> v [?]; };\nstruct L { int<0..9> v [*]; };");
    constexpr int depth = 200000;
    std::string deep;
    for (int i = 0; i < depth; ++i) deep += "n={";
    deep += "v=1";
    for (int i = 0; i < depth; ++i) deep += "}";
    std::string items = "v=1";
    for (int i = 0; i < 1000000; ++i) items += ",2";
    std::string deep_result = "x", long_result = "x", bad_result;
    on_small_stack([&] {
        deep_result = check(deep);
        long_result = check(items, "L");
        bad_result = check(items + ",10", "L");
    });
    EXPECT_EQ(deep_result, "");
    EXPECT_EQ(long_result, "");
    EXPECT_EQ(bad_result, "1:2000005 v[1000001]: expected an integer from 0 to 9, found \"10\"");
}

// Readings the grammar allows side by side, deep and long: a union that may
// be empty at every level, a list whose every comma could be the list's or
// the alternative's, an extension parameter whose every comma could be the
// list's; valid, and wrong at the very end (where every reading is tried).
TEST_F(check_structure, DeepAndLongAmbiguousMessagesOnASmallStack) {
    define(
        "struct Top { E e [?]; L l [*]; D d [?]; };\n"
        "union E { E sub [?]; oid leaf; };\n"
        "union L { oid m0 [*]; bool f [+]; };\n"
        "union D { D a [?]; V v [*]; };\n"
        "union V { };");
    std::string deep = "e = ";
    for (int i = 0; i < 100000; ++i) deep += "sub = ";
    deep += "leaf = 1~2";
    std::string list = "l = m0 = 1~2";
    for (int i = 0; i < 300000; ++i) list += ", 1~2";
    std::string params = "d = ";
    for (int i = 0; i < 50000; ++i) params += "a = ";
    params += "v = x";
    for (int i = 0; i < 100000; ++i) params += ", x";
    std::string results[6];
    on_small_stack([&] {
        results[0] = check(deep);
        results[1] = check(deep + " }");
        results[2] = check(list);
        results[3] = check(list + ", 10 }");
        results[4] = check(params);
        results[5] = check(params + " }");
    });
    EXPECT_EQ(results[0], "");
    EXPECT_EQ(results[1].substr(0, 10), "1:600016 :");
    EXPECT_EQ(results[2], "");
    EXPECT_EQ(results[3],
              "1:1500015 l[0].m0[300001]: expected an object identifier of two arcs or more, "
              "found \"10\"");
    EXPECT_EQ(results[4], "");
    EXPECT_EQ(results[5].substr(0, 10), "1:500011 :");
}

TEST_F(check_structure, EmptyBodiesNeverMembersAndReferencesToTheRoot) {
    define(
        "struct Root { Empty e; int<0..9> never [0]; Opt u [?]; R back [?]; EmptyU eu [?];"
        " combi cb [?] { int<0..9> d [1..3]; const<k> c; }; };\n"
        "struct Empty { };\nunion EmptyU { };\nunion Opt { int<0..9> a [?]; bool b; };\n"
        "struct R { Root r [?]; };");
    EXPECT_EQ(check("e={}"), "");
    EXPECT_EQ(check("e={ x=1 }"), "");
    EXPECT_EQ(check("e"), "1:2 : expected \"=\" after \"e\", found end of message");
    // A member that never stands: its tag starts an extension parameter.
    EXPECT_EQ(check("e={} never=1"), "");
    EXPECT_EQ(check("e={} never=x y"), "");
    // A union whose alternative is optional may be empty.
    EXPECT_EQ(check("e={} u= eu=q"), "");
    EXPECT_EQ(check("e={} u=a={1}"), "");
    EXPECT_EQ(check("e={} eu="), "1:9 eu: expected an extension parameter, found end of message");
    // The root referred to stands in braces.
    EXPECT_EQ(check("e={} back={r={e={}}}"), "");
    EXPECT_EQ(check("e={} back={r={e={} back={r={ }}}}"),
              "1:30 back.r.back.r: expected \"e\", found \"}\"");
    EXPECT_EQ(check("e={} cb=1,2,3k"), "");
    EXPECT_EQ(check("e={} cb=1 , 2k"), "");
    EXPECT_EQ(check("e={} cb=1,2,3,4k"), "1:14 cb.c: expected \"k\", found \",\"");
}

TEST_F(check_structure, BytesLinesAndExtensionValues) {
    define("struct M { bytes<50..120> big [?]; bytes<57> one [?]; };");
    const std::string line(76, 'Q');                 // 19 groups: 57 bytes, one full line
    EXPECT_EQ(check("big=[" + line + "QUJD]"), "");  // 60 bytes in two lines
    EXPECT_EQ(check("one=[" + line + "]"), "");
    EXPECT_EQ(check("one=[" + line.substr(0, 72) + "QQ==]"),
              "1:5 one: expected 57 bytes of Base64 data, found 55");
    // Extension values: Base64 lines need white space between them, and
    // braces and parentheses nest.
    EXPECT_EQ(check("x=[QQ== QUJD] y={a (b [QQ==] 'c') {d=e}}"), "");
    EXPECT_EQ(check("x=[QQ==QUJD]"), "1:8 : expected white space or \"]\", found \"QUJD]\"");
    EXPECT_EQ(check("y={a (b}"),
              "1:8 : expected \",\", \")\" or an extension parameter, found \"}\"");
    EXPECT_EQ(check("y={}"), "1:4 : expected an extension value, found \"}\"");
}

TEST_F(check_structure, CommentsEndWhereTheyEnd) {
    define("struct M { int<0..9> a; int<0..9> b [?]; };");
    // An unterminated comment after a terminated one, and the other way
    // round: each is found for what it is.
    EXPECT_EQ(check("a=1 /* x */ b=2 q=/*"), "");
    EXPECT_EQ(check("a=1 q=x/* b=2 /* x */"), "");
    EXPECT_EQ(check("a=1 // x\n b=/**/2"), "");
    // Not a comment: "//" is a word, and the byte cannot follow it.
    EXPECT_EQ(check("a=1 //\xC3\n b=2"),
              "1:7 : expected white space or end of message, found byte 0xC3");
    EXPECT_EQ(check("a=1 b= // x\xC3\n2"), "1:8 b: expected an integer from 0 to 9, found \"//\"");
}

TEST(encoding_forms, SizesDigitsAndLinesOfEachForm) {
    element e;
    e.kind = ET_INTEGER;
    e.constrained = true;
    e.min = 5;
    e.min_negative = true;
    e.max = 120;
    value_form f = simple_form(e);
    EXPECT_TRUE(f.sign);
    EXPECT_EQ(f.digits, 3u);
    EXPECT_EQ(f.low, -5);
    EXPECT_EQ(f.high, 120);

    e.kind = ET_BYTES;
    e.min_negative = false;
    e.min = 58;
    e.max = 114;
    f = simple_form(e);
    EXPECT_EQ(f.lines_min, 2u);
    EXPECT_EQ(f.lines_max, 2u);
    EXPECT_FALSE(f.any_lines);
    e.constrained = false;
    f = simple_form(e);
    EXPECT_TRUE(f.any_lines);
    EXPECT_EQ(f.min, 0u);

    e.kind = ET_UNQUOTED_ASCII;
    f = simple_form(e);
    EXPECT_EQ(f.min, 1u);  // at least one character without a size
    EXPECT_EQ(f.max, no_limit);

    e.has_cardinality = true;
    e.cardinality_min = 0;
    e.cardinality_max = 0;
    e.cardinality_unbounded = false;
    EXPECT_TRUE(occurrences_of(e).never());
    e.cardinality_max = 3;
    EXPECT_TRUE(occurrences_of(e).allows(2));
    EXPECT_FALSE(occurrences_of(e).allows(3));
}

// Closed world: no extension parameters anywhere, but every reading the
// grammar allows without them is still tried.
TEST_F(check_values, ClosedWorldRefusesExtensionsWithTheCloseNames) {
    define("struct M { union u [*] { int<0..9> a; bool b; }; struct n [?] { ascii s [?]; }; };");
    EXPECT_EQ(check("u=a={1},b=True n={s='x'}", nullptr, true), "");
    EXPECT_EQ(check("u=a={1} n={s='x' t=1}", nullptr, true),
              "1:18 n: unknown member \"t\" in n; did you mean \"s\"?");
    EXPECT_EQ(check("u=c=1", nullptr, true),
              "1:3 u[0]: unknown alternative \"c\" in u; did you mean \"a\" or \"b\"?");
    EXPECT_EQ(check("u=a={1} extra", nullptr, true), "1:9 : unknown member \"extra\" in M");
    // The same messages are valid with extension parameters.
    EXPECT_EQ(check("u=a={1} n={s='x' t=1}"), "");
    EXPECT_EQ(check("u=a={1} extra"), "");
}

// Two members share a tag: the reading that needs no extension parameter
// is found.
TEST_F(check_values, ClosedWorldStillSearchesTheReadings) {
    define("struct P { int<0..9> x [?]; int<0..99> x2 [?] as x; };");
    EXPECT_EQ(check("x=42", nullptr, true), "");
    EXPECT_EQ(check("x=4 x=42", nullptr, true), "");
}

}  // namespace
}  // namespace qrv
