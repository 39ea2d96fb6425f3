// The text encoding of a message as the strict grammar describes it: the
// form of each simple value and how a member stands in its body. The
// strict grammar is written from this description, and the message checker
// and the example writer read and write messages by it, so the grammar and
// the tools that work on messages cannot drift apart.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "model/model.h"

namespace qrv {

// The forms of values, one per QRV_FORM row of encoding/kinds.def.
enum class value_kind : std::uint8_t {
#define QRV_FORM(form, ...) form,
#include "encoding/kinds.def"
#undef QRV_FORM
};

// What a constraint <a..b> of a kind bounds.
enum class bounds_kind : std::uint8_t { none, range, size };

// The columns of a form that every layer reads (encoding/kinds.def).
struct form_row {
    value_kind kind;
    const char* stem;      // the row's name in kinds.def: "integer"
    const char* rule;      // the common rule the value is, or null
    const char* expected;  // how an error names it; "": by its text; null: by its member
    bounds_kind bounds;
    bool combination;  // may be a member of a combination
    bool noted;        // the default grammar notes its bounds in the comment
    bool delimited;    // it has delimiters of its own
    const char* json;  // what it is in JSON: "string", "integer string", ...; null: none
};

inline constexpr form_row form_rows[] = {
#define QRV_FORM(form, rule, expected, bounds, combination, noted, delimited, json) \
    {value_kind::form, #form, rule,      expected, bounds_kind::bounds,             \
     combination,      noted, delimited, json},
#include "encoding/kinds.def"
#undef QRV_FORM
};
inline constexpr std::size_t form_count = sizeof form_rows / sizeof form_rows[0];

constexpr const form_row& row_of(value_kind k) { return form_rows[static_cast<std::size_t>(k)]; }

// The form of each simple kind of the model; none for the kinds that have
// no simple form (bodies, references).
inline constexpr auto kind_forms = [] {
    struct table {
        value_kind form[256] = {};
        bool simple[256] = {};
    } t;
#define QRV_KIND(kind, form_name)         \
    t.form[kind] = value_kind::form_name; \
    t.simple[kind] = true;
#include "encoding/kinds.def"
#undef QRV_KIND
    return t;
}();

// The word a kind is named by in a listing (QRV_KEYWORD rows): "struct".
inline constexpr auto kind_keywords = [] {
    struct table {
        const char* word[256] = {};
    } t;
#define QRV_KEYWORD(kind, keyword) t.word[kind] = keyword;
#include "encoding/kinds.def"
#undef QRV_KEYWORD
    return t;
}();
constexpr const char* keyword_of(element_kind k) {
    return kind_keywords.word[k] != nullptr ? kind_keywords.word[k] : "";
}

// Whether `k` has a row of its own among the simple kinds.
constexpr bool is_simple_kind(element_kind k) { return kind_forms.simple[k]; }
constexpr value_kind form_kind_of(element_kind k) { return kind_forms.form[k]; }
constexpr const form_row& row_of(element_kind k) { return row_of(form_kind_of(k)); }

inline constexpr std::uint64_t no_limit = UINT64_MAX;

// Base64 lines carry at most 19 groups of four characters: 57 bytes.
inline constexpr std::uint64_t base64_groups_per_line = 19;
inline constexpr std::uint64_t base64_bytes_per_line = 57;

struct value_form {
    value_kind kind = value_kind::none;

    // integer: "-" may stand before the digits; at most `digits` digits (0
    // for any number of them); with `ranged`, the value lies in low..high.
    bool sign = false;
    std::uint32_t digits = 0;
    bool ranged = false;
    std::int64_t low = 0;
    std::int64_t high = 0;

    // ascii, unquoted, unicode, embedded: how many characters; bytes: how
    // many bytes the Base64 data decodes to. `counted` when the definition
    // gave a size (the grammar then counts exactly: "n" or "min*max"),
    // otherwise the kind's own default: at least one character for ascii
    // and unquoted texts, any number for the others.
    bool counted = false;
    std::uint64_t min = 0;
    std::uint64_t max = no_limit;

    // bytes: how many Base64 lines; `any_lines` for the form without a size
    // ("[^" any number of lines "]").
    bool any_lines = false;
    std::uint64_t lines_min = 0;
    std::uint64_t lines_max = 0;

    // constant: its text, compared as ABNF compares quoted strings.
    std::string_view text;
};

// The form of the value of an element that is not a structure, union or
// combination.
value_form simple_form(const element& e);

// How often a member stands: min to max, or min and more.
struct occurrences {
    std::uint32_t min = 1;
    std::uint32_t max = 1;
    bool unbounded = false;

    bool repeats() const { return unbounded || max > 1; }
    bool never() const { return !unbounded && max == 0; }  // the grammar's "0( ... )"
    bool optional() const { return min == 0; }
    // Another occurrence may follow `count` of them.
    bool allows(std::uint64_t count) const { return unbounded || count < max; }
};

// A member without cardinality stands exactly once.
occurrences occurrences_of(const element& m);

bool has_body_kind(const element& e);
// A member's tag is written before its value (never in a combination).
inline bool tagged_in(element_kind owner, const element& m) {
    return owner != ET_COMBINED && m.has_tag();
}
bool tagged_in(const element& owner, const element& m);
// In a union, the value of a member with a range or size stands in braces.
inline bool braced_in(element_kind owner, const element& m) {
    return owner == ET_UNION && m.constrained;
}
bool braced_in(const element& owner, const element& m);

// Bytes of the common rules, as the checker reads them.
// safe-char: a byte of an unquoted text or an extension word.
constexpr bool is_safe_char(unsigned char c) {
    return c >= 0x21 && c <= 0x7F && c != ')' && c != ',' && c != '=' && c != '}';
}
// first-safe-char: the first byte of an extension word.
constexpr bool is_first_safe_char(unsigned char c) {
    return is_safe_char(c) && c != '"' && c != '\'' && c != '{' && c != '(' && c != '[';
}
// first-tag-safe-char: the first byte of an extension tag.
constexpr bool is_first_tag_char(unsigned char c) {
    return is_first_safe_char(c) && c != '-' && !(c >= '0' && c <= '9');
}
// The longest extension tag.
inline constexpr std::size_t max_extension_tag = 63;

constexpr bool is_base64_char(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/';
}

// ABNF letters compare without regard to case; every other byte exactly.
constexpr unsigned char fold_case(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

}  // namespace qrv
