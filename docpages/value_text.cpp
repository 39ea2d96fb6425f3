#include "docpages/value_text.h"

namespace qrv {

namespace {

std::string count_text(const value_form& f, const char* unit) {
    if (!f.counted) return {};
    const std::string u = std::string(" ") + unit;
    if (f.max == no_limit) return "at least " + std::to_string(f.min) + u;
    if (f.min == f.max) return std::to_string(f.min) + u;
    if (f.min == 0) return "at most " + std::to_string(f.max) + u;
    return std::to_string(f.min) + " to " + std::to_string(f.max) + u;
}

std::string none_text(const value_form&) { return {}; }

std::string doc_bounds_none(const value_form& f) { return none_text(f); }
std::string doc_bounds_empty(const value_form& f) { return none_text(f); }
std::string doc_bounds_boolean(const value_form& f) { return none_text(f); }
std::string doc_bounds_integer(const value_form& f) {
    if (!f.ranged) return {};
    if (f.low == f.high) return "exactly " + std::to_string(f.low);
    return std::to_string(f.low) + " to " + std::to_string(f.high);
}
std::string doc_bounds_floating(const value_form& f) { return none_text(f); }
std::string doc_bounds_oid(const value_form& f) { return none_text(f); }
std::string doc_bounds_ascii(const value_form& f) { return count_text(f, "characters"); }
std::string doc_bounds_unquoted(const value_form& f) { return count_text(f, "characters"); }
std::string doc_bounds_unicode(const value_form& f) { return count_text(f, "characters"); }
std::string doc_bounds_bytes(const value_form& f) { return count_text(f, "bytes"); }
std::string doc_bounds_constant(const value_form& f) { return none_text(f); }
std::string doc_bounds_ipv4(const value_form& f) { return none_text(f); }
std::string doc_bounds_ipv6(const value_form& f) { return none_text(f); }
std::string doc_bounds_date(const value_form& f) { return none_text(f); }
std::string doc_bounds_time(const value_form& f) { return none_text(f); }
std::string doc_bounds_embedded(const value_form& f) { return count_text(f, "characters"); }

using bounds_writer = std::string (*)(const value_form&);
constexpr bounds_writer bounds_writers[] = {
#define QRV_FORM(form, ...) doc_bounds_##form,
#include "encoding/kinds.def"
#undef QRV_FORM
};
static_assert(sizeof bounds_writers / sizeof bounds_writers[0] == form_count);

}  // namespace

std::string doc_bounds_text(const value_form& form) {
    return bounds_writers[static_cast<std::size_t>(form.kind)](form);
}

}  // namespace qrv
