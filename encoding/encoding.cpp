#include "encoding/encoding.h"

#include <algorithm>

namespace qrv {

namespace {

std::uint32_t decimal_digits(std::uint32_t v) {
    std::uint32_t digits = 1;
    for (; v >= 10; v /= 10) ++digits;
    return digits;
}

std::int64_t signed_bound(std::uint32_t magnitude, bool negative) {
    return negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
}

// A size, or the kind's own default when the definition gave none.
void set_count(value_form& f, const element& e, std::uint64_t default_min) {
    f.counted = e.constrained;
    f.min = e.constrained ? e.min : default_min;
    f.max = e.constrained ? e.max : no_limit;
}

// ---- the forms of the rows (make_form_<form>, see encoding/kinds.def) ----

void make_form_none(value_form&, const element&) {}
void make_form_empty(value_form&, const element&) {}
void make_form_boolean(value_form&, const element&) {}
void make_form_floating(value_form&, const element&) {}
void make_form_oid(value_form&, const element&) {}
void make_form_ipv4(value_form&, const element&) {}
void make_form_ipv6(value_form&, const element&) {}
void make_form_date(value_form&, const element&) {}
void make_form_time(value_form&, const element&) {}

void make_form_integer(value_form& f, const element& e) {
    if (!e.constrained) return;
    // The sign is there only when the lower bound is negative; the digits
    // are those of the larger bound.
    f.sign = e.min_negative;
    f.digits = decimal_digits(std::max(e.min, e.max));
    f.ranged = true;
    f.low = signed_bound(e.min, e.min_negative);
    f.high = signed_bound(e.max, e.max_negative);
}

// ASCII texts, quoted or not, hold at least one character unless sized.
void make_form_ascii(value_form& f, const element& e) { set_count(f, e, 1); }
void make_form_unquoted(value_form& f, const element& e) { set_count(f, e, 1); }
void make_form_unicode(value_form& f, const element& e) { set_count(f, e, 0); }
void make_form_embedded(value_form& f, const element& e) { set_count(f, e, 0); }

void make_form_bytes(value_form& f, const element& e) {
    set_count(f, e, 0);
    f.any_lines = !e.constrained;
    if (e.constrained) {
        // Enough lines for the least and for the largest size.
        f.lines_min = (f.min + base64_bytes_per_line - 1) / base64_bytes_per_line;
        f.lines_max = (f.max + base64_bytes_per_line - 1) / base64_bytes_per_line;
    }
}

void make_form_constant(value_form& f, const element& e) { f.text = e.const_value().view(); }

using form_maker = void (*)(value_form&, const element&);
constexpr form_maker form_makers[] = {
#define QRV_FORM(form, ...) &make_form_##form,
#include "encoding/kinds.def"
#undef QRV_FORM
};
static_assert(sizeof form_makers / sizeof form_makers[0] == form_count);

}  // namespace

value_form simple_form(const element& e) {
    value_form f;
    f.kind = form_kind_of(e.kind);
    form_makers[static_cast<std::size_t>(f.kind)](f, e);
    return f;
}

occurrences occurrences_of(const element& m) {
    occurrences o;
    if (m.has_cardinality) {
        o.min = m.cardinality_min;
        o.max = m.cardinality_max;
        o.unbounded = m.cardinality_unbounded;
    }
    return o;
}

bool has_body_kind(const element& e) {
    return e.kind == ET_STRUCT || e.kind == ET_UNION || e.kind == ET_COMBINED;
}

bool tagged_in(const element& owner, const element& m) { return tagged_in(owner.kind, m); }

bool braced_in(const element& owner, const element& m) { return braced_in(owner.kind, m); }

}  // namespace qrv
