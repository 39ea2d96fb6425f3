// The text of a simple value in both grammars: one function per row of
// encoding/kinds.def and grammar (default_text_<form>, strict_text_<form>),
// found through the table, so that neither rule writer switches over the
// kinds.
#include <charconv>
#include <cstdint>
#include <string>

#include "abnf/rule_writer.h"
#include "abnf/strict_grammar.h"
#include "encoding/encoding.h"

namespace qrv {

namespace {

// The common rule of the row, with the blank after it.
void put_rule(rule_writer& w, const value_form& f) {
    put_plain(w, row_of(f.kind).rule);
    put(w, " ");
}

// The count of a text kind, with the characters' rule after it.
void put_counted(rule_writer& w, const value_form& f, std::string_view fallback,
                 plain_literal rule) {
    write_count(w, f, fallback);
    put(w, rule);
}

void put_digits(rule_writer& w, const value_form& f) {
    if (f.sign) put(w, "[ \"-\" ] ");
    put(w, "1*");
    if (f.digits > 0) put_number(w, f.digits);
    put(w, "DIGIT ");
}

// ---- the default grammar: false where it has no text for the form ----------

bool default_text_none(rule_writer&, const value_form&) { return false; }
bool default_text_empty(rule_writer&, const value_form&) { return true; }
bool default_text_floating(rule_writer&, const value_form&) { return false; }

bool default_text_boolean(rule_writer& w, const value_form& f) { return put_rule(w, f), true; }
bool default_text_oid(rule_writer& w, const value_form& f) { return put_rule(w, f), true; }
bool default_text_ipv4(rule_writer& w, const value_form& f) { return put_rule(w, f), true; }
bool default_text_ipv6(rule_writer& w, const value_form& f) { return put_rule(w, f), true; }
bool default_text_date(rule_writer& w, const value_form& f) { return put_rule(w, f), true; }
bool default_text_time(rule_writer& w, const value_form& f) { return put_rule(w, f), true; }

bool default_text_integer(rule_writer& w, const value_form& f) {
    put_digits(w, f);
    return true;
}

bool default_text_ascii(rule_writer& w, const value_form& f) {
    put(w, "\"'\" ");
    put_counted(w, f, "1*", "quoted-ascii-char \"'\" ");
    return true;
}

bool default_text_unquoted(rule_writer& w, const value_form& f) {
    put_counted(w, f, "1*", "SafeChar ");
    return true;
}

bool default_text_unicode(rule_writer& w, const value_form& f) {
    put(w, "DQUOTE ");
    put_counted(w, f, "*", "UTF8 DQUOTE");
    return true;
}

// The first Base64 line is written by itself; the count is that of the
// further ones.
bool default_text_bytes(rule_writer& w, const value_form& f) {
    put(w, "\"[\" ");
    if (f.any_lines) {
        put(w, "\"^\" *( Base64-line ) ");
    } else {
        const std::uint64_t lo = f.lines_min;
        const std::uint64_t hi = f.lines_max;
        if (lo > 1 || hi > 1) {
            put_number(w, lo >= 1 ? lo - 1 : 0);
            if (lo != hi) {
                put(w, "*");
                put_number(w, hi >= 1 ? hi - 1 : 0);
            }
        }
        put(w, "Base64-line ");
    }
    put(w, "\"]\" ");
    return true;
}

bool default_text_constant(rule_writer& w, const value_form& f) {
    put(w, "\"");
    put_text(w, f.text);
    put(w, "\" ");
    return true;
}

bool default_text_embedded(rule_writer& w, const value_form& f) {
    put(w, "LBRKT ");
    put_counted(w, f, "*", "(%x20-7E) RBRKT");
    return true;
}

// ---- the strict grammar ------------------------------------------------------

// No form: the strict checks report it.
void strict_text_none(rule_writer& w, const value_form&, bool) { put(w, "\"\" "); }
// A tagged void is its tag alone.
void strict_text_empty(rule_writer& w, const value_form&, bool tagged) {
    if (!tagged) put(w, "\"\" ");
}
void strict_text_boolean(rule_writer& w, const value_form& f, bool) { put_rule(w, f); }
void strict_text_floating(rule_writer& w, const value_form& f, bool) { put_rule(w, f); }
void strict_text_oid(rule_writer& w, const value_form& f, bool) { put_rule(w, f); }
void strict_text_ipv4(rule_writer& w, const value_form& f, bool) { put_rule(w, f); }
void strict_text_ipv6(rule_writer& w, const value_form& f, bool) { put_rule(w, f); }
void strict_text_date(rule_writer& w, const value_form& f, bool) { put_rule(w, f); }
void strict_text_time(rule_writer& w, const value_form& f, bool) { put_rule(w, f); }
void strict_text_integer(rule_writer& w, const value_form& f, bool) { put_digits(w, f); }

void strict_text_ascii(rule_writer& w, const value_form& f, bool) {
    put(w, "\"'\" ");
    put_counted(w, f, "1*", "quoted-ascii-char \"'\" ");
}

void strict_text_unquoted(rule_writer& w, const value_form& f, bool) {
    put_counted(w, f, "1*", "SafeChar ");
}

void strict_text_unicode(rule_writer& w, const value_form& f, bool) {
    put(w, "DQUOTE ");
    put_counted(w, f, "*", "UTF8 DQUOTE ");
}

// Every Base64 line is counted: enough for the least and the largest size.
void strict_text_bytes(rule_writer& w, const value_form& f, bool) {
    put(w, "\"[\" ");
    if (f.any_lines) {
        put(w, "\"^\" *Base64-line ");
    } else if (f.lines_max > 0) {
        if (f.lines_min != f.lines_max) {
            put_number(w, f.lines_min);
            put(w, "*");
            put_number(w, f.lines_max);
        } else if (f.lines_min != 1) {
            put_number(w, f.lines_min);
        }
        put(w, "Base64-line ");
    }
    put(w, "\"]\" ");
}

void strict_text_constant(rule_writer& w, const value_form& f, bool) {
    put_quoted(w, f.text);
    put(w, " ");
}

void strict_text_embedded(rule_writer& w, const value_form& f, bool) {
    put(w, "LBRKT ");
    put_counted(w, f, "*", "%x20-7E RBRKT ");
}

using default_text_fn = bool (*)(rule_writer&, const value_form&);
using strict_text_fn = void (*)(rule_writer&, const value_form&, bool);

constexpr default_text_fn default_texts[] = {
#define QRV_FORM(form, ...) &default_text_##form,
#include "encoding/kinds.def"
#undef QRV_FORM
};
constexpr strict_text_fn strict_texts[] = {
#define QRV_FORM(form, ...) &strict_text_##form,
#include "encoding/kinds.def"
#undef QRV_FORM
};
static_assert(sizeof default_texts / sizeof default_texts[0] == form_count);
static_assert(sizeof strict_texts / sizeof strict_texts[0] == form_count);

}  // namespace

[[gnu::noinline]] void put_number(rule_writer& w, std::uint64_t value) {
    char digits[24];
    auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
    (void)ec;
    put_plain(w, std::string_view(digits, static_cast<std::size_t>(end - digits)));
}

void write_count(rule_writer& w, const value_form& f, std::string_view fallback) {
    if (!f.counted) {
        put_text(w, fallback);
    } else if (f.min == f.max) {
        put_number(w, f.min);
    } else {
        put_number(w, f.min);
        put(w, "*");
        put_number(w, f.max);
    }
}

void put_quoted(rule_writer& w, std::string_view s) {
    if (!s.empty() && is_plain_text(s)) {
        put(w, "\"");
        put_text(w, s);
        put(w, "\"");
    } else {
        put_text(w, quoted_text(s));
    }
}

bool write_default_simple(rule_writer& w, const value_form& f) {
    return default_texts[static_cast<std::size_t>(f.kind)](w, f);
}

void write_strict_simple(rule_writer& w, const value_form& f, bool tagged) {
    strict_texts[static_cast<std::size_t>(f.kind)](w, f, tagged);
}

std::string digit_count(const element& e) {
    const value_form f = simple_form(e);
    return f.digits == 0 ? "1*" : "1*" + std::to_string(f.digits);
}

}  // namespace qrv
