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

}  // namespace

value_form simple_form(const element& e) {
    value_form f;
    switch (e.kind) {
        case ET_NULL: f.kind = value_kind::empty; break;
        case ET_BOOLEAN: f.kind = value_kind::boolean; break;
        case ET_INTEGER:
            f.kind = value_kind::integer;
            if (e.constrained) {
                // The sign is there only when the lower bound is negative;
                // the digits are those of the larger bound.
                f.sign = e.min_negative;
                f.digits = decimal_digits(std::max(e.min, e.max));
                f.ranged = true;
                f.low = signed_bound(e.min, e.min_negative);
                f.high = signed_bound(e.max, e.max_negative);
            }
            break;
        case ET_SINGLE:
        case ET_DOUBLE: f.kind = value_kind::floating; break;
        case ET_OID: f.kind = value_kind::oid; break;
        case ET_ASCII:
            f.kind = value_kind::ascii;
            set_count(f, e, 1);
            break;
        case ET_UNQUOTED_ASCII:
            f.kind = value_kind::unquoted;
            set_count(f, e, 1);
            break;
        case ET_UNICODE:
            f.kind = value_kind::unicode;
            set_count(f, e, 0);
            break;
        case ET_BYTES:
            f.kind = value_kind::bytes;
            set_count(f, e, 0);
            f.any_lines = !e.constrained;
            if (e.constrained) {
                // Enough lines for the least and for the largest size.
                f.lines_min = (f.min + base64_bytes_per_line - 1) / base64_bytes_per_line;
                f.lines_max = (f.max + base64_bytes_per_line - 1) / base64_bytes_per_line;
            }
            break;
        case ET_CONST:
            f.kind = value_kind::constant;
            f.text = e.const_value().view();
            break;
        case ET_IPV4: f.kind = value_kind::ipv4; break;
        case ET_IPV6: f.kind = value_kind::ipv6; break;
        case ET_DATE: f.kind = value_kind::date; break;
        case ET_TIME: f.kind = value_kind::time; break;
        case ET_EMBEDDED:
            f.kind = value_kind::embedded;
            set_count(f, e, 0);
            break;
        default: f.kind = value_kind::none; break;
    }
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
