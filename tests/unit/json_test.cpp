// The JSON bridge: its JSON reader on what RFC 8259 refuses and on hostile
// nesting, the integer and Base64 forms at their boundaries, and messages
// whose reading the checker finds only by going back (the reading reported
// must be the accepted one), converted both ways.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "abnf/strict_grammar.h"
#include "console_capture.h"
#include "frontend/source.h"
#include "json/json_bridge.h"
#include "json/json_text.h"
#include "json/json_values.h"
#include "postparse/post_parse.h"
#include "schema_fixture.h"
#include "test_model.h"

namespace qrv {
namespace {

// "" for a JSON text the reader takes, else "offset: message".
std::string read_error_of(std::string_view text, json::limits limits = {}) {
    json::document d;
    json::read_error e;
    if (d.read(text, e, limits)) return "";
    return std::to_string(e.offset) + ": " + e.message;
}

TEST(json_reader, TakesOnlyWhatTheStandardAllows) {
    for (const char* good : {"0", "-0.5e+10", " [ ] ", "{}", "{\"a\":[1,{\"b\":null}],\"c\":true}",
                             "\"\\u00e9\\ud83d\\ude42\\/\"", "\"\xc3\xa9\""}) {
        EXPECT_EQ(read_error_of(good), "") << good;
    }
    struct row {
        const char* text;
        const char* error;
    };
    const row bad[] = {
        {"[1,]", "3: expected a JSON value"},
        {"{\"a\":1,}", "7: expected a member name in \"...\""},
        {"01", "1: expected the end of the JSON text"},
        {"1.", "0: expected a JSON value"},
        {"+1", "0: expected a JSON value"},
        {"[1 2]", "3: expected \",\" or \"]\""},
        {"{\"a\" 1}", "5: expected \":\""},
        {"\"a\tb\"", "2: a control character in a string (write it as \\u00XX)"},
        {"\"\\x\"", "1: an escape JSON does not know"},
        {"\"\\ud800\"", "1: a high surrogate \\u escape without a low one after it"},
        {"\"\\udc00\"", "1: a low surrogate \\u escape without a high one before it"},
        {"\"\xc3\"", "2: a string that is not UTF-8"},
        {"\"abc", "0: a string that does not end"},
        {"nul", "0: expected a JSON value"},
        {"", "0: expected a JSON value, found the end of the text"},
        {"// comment\n1", "0: expected a JSON value"},
    };
    for (const row& r : bad) EXPECT_EQ(read_error_of(r.text), r.error) << r.text;
}

TEST(json_reader, NestingAndSizeStopAtTheLimitsWithoutRecursion) {
    // A million brackets: read with the reader's own stack, refused at the
    // depth limit, and within it read whole.
    const std::string deep(1000000, '[');
    EXPECT_EQ(read_error_of(deep), "4096: the JSON text nests deeper than 4096 arrays and objects");
    json::limits wide;
    wide.depth = 2000000;
    EXPECT_EQ(read_error_of(deep + std::string(1000000, ']'), wide), "");
    json::limits small;
    small.bytes = 4;
    EXPECT_EQ(read_error_of("[1,2]", small), "0: the JSON text is larger than 4 bytes");
}

TEST(json_reader, StringsDecodeAndPositionsCountLinesAndBytes) {
    json::document d;
    json::read_error e;
    ASSERT_TRUE(d.read("{\"k\\n\": \"a\\\"\\u00e9\\ud83d\\ude42\"}", e));
    const json::node& key = d.at(d.root().first);
    EXPECT_EQ(d.string_of(key), "k\n");
    EXPECT_EQ(d.string_of(d.at(key.next)), "a\"\xc3\xa9\xf0\x9f\x99\x82");
    std::string out;
    json::append_string(out, std::string("q\"\\\x01\n\xc3\xa9", 7));
    EXPECT_EQ(out, "\"q\\\"\\\\\\u0001\\n\xc3\xa9\"");
    std::int64_t line = 0, column = 0;
    json::position_of("ab\ncd\nef", 7, line, column);
    EXPECT_EQ(line, 3);
    EXPECT_EQ(column, 2);
    EXPECT_EQ(json::indented("{\"a\":[1,{}],\"b\":\"x,{\"}"),
              "{\n  \"a\": [\n    1,\n    {}\n  ],\n  \"b\": \"x,{\"\n}");
}

std::string integer_json(std::string_view text) {
    std::string out;
    json::functions_of(value_kind::integer).out(value_form{}, text, out);
    return out;
}

TEST(json_values, IntegersAreNumbersBelowTwoToTheFiftyThree) {
    EXPECT_EQ(integer_json("9007199254740991"), "9007199254740991");
    EXPECT_EQ(integer_json("9007199254740992"), "\"9007199254740992\"");
    EXPECT_EQ(integer_json("-9007199254740991"), "-9007199254740991");
    EXPECT_EQ(integer_json("-9007199254740993"), "\"-9007199254740993\"");
    EXPECT_EQ(integer_json("00042"), "42");
    EXPECT_EQ(integer_json("-000"), "0");
    EXPECT_EQ(integer_json("123456789012345678901234567890"), "\"123456789012345678901234567890\"");
}

TEST(json_values, Base64HasOneFormWhateverLinesTheMessageHad) {
    std::string bytes;
    EXPECT_TRUE(json::base64_decode("QUJD", bytes));
    EXPECT_EQ(bytes, "ABC");
    for (std::string_view s : {std::string_view(""), std::string_view("\xff"),
                               std::string_view("\x00\x01", 2), std::string_view("abcd")}) {
        std::string back;
        EXPECT_TRUE(json::base64_decode(json::base64_encode(s), back));
        EXPECT_EQ(back, s);
    }
    for (const char* bad : {"QUJ", "QQ==QQ==", "Q===", "QU=D", "QU J"}) {
        std::string ignored;
        EXPECT_FALSE(json::base64_decode(bad, ignored)) << bad;
    }
    // Two lines of the message (a padded group ends a line) are one string.
    std::string out;
    value_form f;
    f.kind = value_kind::bytes;
    json::functions_of(value_kind::bytes).out(f, "[QQ==QUJD]", out);
    EXPECT_EQ(out, "\"QUFCQw==\"");
}

struct json_fixture : schema_fixture {
    // The message's JSON on one line, after checking that it converts back
    // to a message with the same JSON.
    std::string round_trip(const std::string& message, const char* type) {
        const element* root = find_message_type(*run, type);
        std::string json;
        const check_result r = message_to_json(*root, message, false, true, json);
        if (!r.valid()) return "invalid: " + r.error.message;
        std::string text;
        json_error error;
        if (!json_to_message(*root, json, false, text, error)) return "back: " + error.message;
        std::string again;
        message_to_json(*root, text, false, true, again);
        EXPECT_EQ(again, json) << text;
        return json.substr(0, json.size() - 1);
    }
};

TEST_F(json_fixture, TheReadingReportedIsTheOneTheSearchAccepted) {
    define(
        "struct Root { U top [?]; };\n"
        "union U { S1 a as x; S2 b as x; };\n"
        "struct S1 { U u [?]; bool p; };\n"
        "struct S2 { U u [?]; bool q; };\n"
        "struct Lists { union L [+] { oid m0 [*]; Item owner2 [3]; }; };\n"
        "union Item { oid m0 [+]; oid m1 [+]; };\n"
        "struct Params { union W [2] { bool b; }; Z z [?]; };\n"
        "union Z { };\n"
        "struct Split { C c as ?; int<0..99> d as ?; int<0..9> e as ?; };\n"
        "combi C { int<0..99> a; int<0..9> b; };");
    // The first alternative of a shared tag fails deep inside: the reading
    // is the second's, with the first's structures read again as the
    // second's.
    EXPECT_EQ(
        round_trip("top = x = {u = x = {u = x = {q = T} q = T} q = T}", "Root"),
        "{\"top\":{\"b\":{\"u\":{\"b\":{\"u\":{\"b\":{\"q\":true}},\"q\":true}},\"q\":true}}}");
    EXPECT_EQ(round_trip("top = x = {u = x = {q = T} p = F}", "Root"),
              "{\"top\":{\"a\":{\"u\":{\"b\":{\"q\":true}},\"p\":false}}}");
    // The alternative needs three values: its first takes the commas its
    // own list can, the tags that follow are the next two.
    EXPECT_EQ(round_trip("L = owner2 = m1 = 1~2, 1~3, 1~4, m0 = 1~5, m0 = 1~6", "Lists"),
              "{\"L\":[{\"owner2\":[{\"m1\":[\"1~2\",\"1~3\",\"1~4\"]},{\"m0\":[\"1~5\"]},"
              "{\"m0\":[\"1~6\"]}]}]}");
    // Extension parameters of a union, values of a list around them.
    EXPECT_EQ(round_trip("W = x, y z = a, b", "Params"),
              "{\"W\":[{\"@extensions\":[\"x\"]},{\"@extensions\":[\"y\"]}],\"z\":{\"@extensions\":"
              "[\"a, b\"]}}");
    // Digits split between adjacent integers as the only reading allows.
    EXPECT_EQ(round_trip("123456", "Split"), "{\"c\":{\"a\":12,\"b\":3},\"d\":45,\"e\":6}");
}

// The text written from JSON, or "error at OFFSET PATH: message".
std::string from_json(const element& type, const std::string& json, bool closed = false) {
    std::string text;
    json_error error;
    if (json_to_message(type, json, closed, text, error)) return text;
    return "error at " + std::to_string(error.offset) + " " + error.path + ": " + error.message;
}

TEST_F(json_fixture, EmptyUnionValuesVoidListsAndExtensionsBothWays) {
    define(
        "struct R { O o; bool f; void v [0..3]; };\n"
        "union O { ascii a [?]; bool b; };");
    EXPECT_EQ(round_trip("o = f = T v,,", "R"), "{\"o\":{},\"f\":true,\"v\":[null,null,null]}");
    EXPECT_EQ(round_trip("o = b = T f = F v extra = (1, 2)", "R"),
              "{\"o\":{\"b\":true},\"f\":false,\"v\":[null],\"@extensions\":[\"extra = (1, 2)\"]}");
    const element& r = *run->elements;
    EXPECT_EQ(from_json(r, "{\"o\":{\"a\":\"x\"},\"f\":true}"), "o = a = 'x'\nf = True\n");
    // What does not fit is named at its place, with its path.
    EXPECT_EQ(from_json(r, "{\"o\":{},\"f\":true,\"v\":[null,1]}"),
              "error at 27 v[1]: expected null (a void value)");
    EXPECT_EQ(from_json(r, "{\"o\":{},\"f\":true,\"v\":[null,null,null,null]}"),
              "error at 21 : expected 0 to 3 values of v, found 4");
    EXPECT_EQ(from_json(r, "{\"o\":{\"a\":\"x\",\"b\":true},\"f\":true}"),
              "error at 5 o: expected one alternative of o");
    EXPECT_EQ(from_json(r, "{\"o\":{},\"f\":true,\"@extensions\":[\"x\"]}", true),
              "error at 31 : no extension parameters with --closed");
    EXPECT_EQ(from_json(r, "{\"o\":{},\"f\":true,\"@extensions\":[\"x\"]}"), "o = \nf = True\nx\n");
    // An extension parameter that does not read as one is not written.
    EXPECT_EQ(from_json(r, "{\"o\":{},\"f\":true,\"@extensions\":[\"x = (\"]}").substr(0, 42),
              "error at 0 : the message written from the ");
}

}  // namespace
}  // namespace qrv
