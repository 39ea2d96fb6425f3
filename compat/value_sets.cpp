// What the values of a member are as sets, for the comparison: whether
// they read as an extension parameter (one function per value form, a
// column of encoding/kinds.def), their counts and ranges, and the words
// that name them in a report.
#include "compat/value_sets.h"

#include <algorithm>

namespace qrv::compat {

namespace {

// ---- values an extension parameter reads (a column of encoding/kinds.def) ----

// Whether a text is an unquoted word of an extension parameter.
bool is_extension_word(std::string_view s) {
    if (s.empty() || !is_first_safe_char(static_cast<unsigned char>(s[0]))) return false;
    return std::all_of(s.begin(), s.end(),
                       [](char c) { return is_safe_char(static_cast<unsigned char>(c)); });
}

bool extension_none(const value_form&) { return false; }
bool extension_empty(const value_form&) { return true; }  // a tag alone
bool extension_boolean(const value_form&) { return true; }
bool extension_integer(const value_form&) { return true; }
bool extension_floating(const value_form&) { return true; }
bool extension_oid(const value_form&) { return true; }
bool extension_ascii(const value_form&) { return true; }  // a quoted ASCII text
// An unquoted text may begin with a quote or a bracket.
bool extension_unquoted(const value_form&) { return false; }
bool extension_unicode(const value_form&) { return true; }
// "[^" is no parameter, "[]" holds no line, and the lines of a value run
// on where a parameter's are apart: one line at most.
bool extension_bytes(const value_form& f) {
    return !f.any_lines && f.min > 0 && f.max <= base64_bytes_per_line;
}
bool extension_constant(const value_form& f) { return is_extension_word(f.text); }
bool extension_ipv4(const value_form&) { return true; }
bool extension_ipv6(const value_form&) { return true; }
bool extension_date(const value_form&) { return true; }
bool extension_time(const value_form&) { return true; }
// Any text in parentheses is not a list of parameters.
bool extension_embedded(const value_form&) { return false; }

constexpr bool (*extension_readers[])(const value_form&) = {
#define QRV_FORM(form, ...) &extension_##form,
#include "encoding/kinds.def"
#undef QRV_FORM
};
static_assert(sizeof extension_readers / sizeof extension_readers[0] == form_count);

}  // namespace

bool is_extension_tag(std::string_view t) {
    if (t.empty() || t.size() > max_extension_tag ||
        !is_first_tag_char(static_cast<unsigned char>(t[0]))) {
        return false;
    }
    return std::all_of(t.begin(), t.end(),
                       [](char c) { return is_safe_char(static_cast<unsigned char>(c)); });
}

// Whether every value of `m` reads as the value of an extension parameter
// (and in a union its tag as one of its tags). Bodies nested deeper than a
// few levels are not looked into: the answer is then no.
bool reads_as_extension(const element& m, int depth) {
    if (depth > 6) return false;
    if (!has_body_kind(m)) {
        const value_form f = simple_form(m);
        // A void member that repeats is its tag and commas, no values.
        if (f.kind == value_kind::empty && occurrences_of(m).repeats()) return false;
        return extension_readers[static_cast<std::size_t>(f.kind)](f);
    }
    // A union's value may be empty, and so may "{ }", which holds no
    // parameter.
    if (m.kind == ET_UNION) return false;
    if (m.kind == ET_COMBINED) {
        // Its values run together into one word: each stands once.
        bool first = true;
        for (const element* p = m.children(); p != nullptr; p = p->next()) {
            const occurrences o = occurrences_of(*p);
            if (has_body_kind(*p) || o.min != 1 || o.max != 1 || o.unbounded) return false;
            const value_form f = simple_form(*p);
            if (f.kind == value_kind::constant && !f.text.empty()) {
                if (!std::all_of(f.text.begin(), f.text.end(), [](char c) {
                        return is_safe_char(static_cast<unsigned char>(c));
                    })) {
                    return false;
                }
                if (first && !is_first_safe_char(static_cast<unsigned char>(f.text[0]))) {
                    return false;
                }
            } else if (f.kind != value_kind::integer &&
                       !(f.kind == value_kind::unquoted && !first)) {
                return false;
            }
            first = false;
        }
        return !first;
    }
    bool never_empty = false;
    for (const element* p = m.children(); p != nullptr; p = p->next()) {
        const occurrences o = occurrences_of(*p);
        if (o.never()) continue;
        if (tagged_in(m, *p) && !is_extension_tag(p->tag().view())) return false;
        if (!reads_as_extension(*p, depth + 1)) return false;
        never_empty = never_empty || o.min > 0;
    }
    return never_empty;
}

// Tags compare as ABNF quoted strings: letters without regard to case.
bool same_tag(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (fold_case(static_cast<unsigned char>(a[i])) !=
            fold_case(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

// ---- words ----------------------------------------------------------------

std::string quoted(std::string_view s) {
    std::string q = "\"";
    q += s;
    q += '"';
    return q;
}

std::string bound_text(std::uint64_t v) { return v == no_limit ? "*" : std::to_string(v); }

int_span integers_of(const value_form& f) {
    if (f.ranged) return {std::min(f.low, f.high), std::max(f.low, f.high)};
    return {};
}

span occurrences_span(const element& m) {
    const occurrences o = occurrences_of(m);
    if (o.never()) return {0, 0};
    return {o.min, o.unbounded ? no_limit : o.max};
}

std::string count_text(const span& s) {
    if (s.low == 1 && s.high == 1) return "exactly once";
    if (s.low == 0 && s.high == 1) return "[?]";
    // Built by appending: g++ 12 warns wrongly about `"[" + std::string`.
    std::string t = "[";
    if (s.high == no_limit) {
        if (s.low == 0) return "[*]";
        t += std::to_string(s.low);
        t += "..*]";
        return t;
    }
    t += s.text();
    t += ']';
    return t;
}

// A value of `a` outside `b` (`b` does not hold `a`), near b's bounds.
std::uint64_t outside(const span& a, const span& b) {
    if (a.high > b.high) return std::max(b.high + 1, a.low);
    return std::min(b.low - 1, a.high);
}
std::int64_t outside(const int_span& a, const int_span& b) {
    if (a.high > b.high) return std::max(b.high + 1, a.low);
    return std::min(b.low - 1, a.high);
}

std::string kind_text(const element& e) {
    const char* word = keyword_of(e.kind);
    return word[0] != '\0' ? word : "reference";
}

bool same_form(const value_form& a, const value_form& b) {
    return a.kind == b.kind && a.sign == b.sign && a.digits == b.digits && a.ranged == b.ranged &&
           a.low == b.low && a.high == b.high && a.min == b.min && a.max == b.max &&
           a.any_lines == b.any_lines && a.lines_min == b.lines_min && a.lines_max == b.lines_max &&
           same_tag(a.text, b.text) && a.text.size() == b.text.size();
}

}  // namespace qrv::compat
