// What the values of a member are as sets, for the comparison
// (compat/compare.cpp): spans of counts and integers, whether a member's
// values read as an extension parameter, and their words in a report.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "encoding/encoding.h"
#include "model/model.h"

namespace qrv::compat {

std::string bound_text(std::uint64_t v);
// `s` in double quotes, as a report writes a tag.
std::string quoted(std::string_view s);

struct span {
    std::uint64_t low = 0;
    std::uint64_t high = 0;  // no_limit: no bound
    bool holds(const span& o) const { return low <= o.low && o.high <= high; }
    std::string text() const {
        return low == high ? bound_text(low) : bound_text(low) + ".." + bound_text(high);
    }
};

struct int_span {
    std::int64_t low = INT64_MIN;
    std::int64_t high = INT64_MAX;
    bool holds(const int_span& o) const { return low <= o.low && o.high <= high; }
    std::string text() const {
        if (low == INT64_MIN && high == INT64_MAX) return "any";
        return std::to_string(low) + ".." + std::to_string(high);
    }
};

// Whether every value of `m` reads as the value of an extension parameter
// (and in a union its tag as one of its tags). Bodies nested deeper than a
// few levels are not looked into: the answer is then no.
bool reads_as_extension(const element& m, int depth = 0);
// Whether a tag may be an extension parameter's.
bool is_extension_tag(std::string_view t);
// Tags compare as ABNF quoted strings: letters without regard to case.
bool same_tag(std::string_view a, std::string_view b);

int_span integers_of(const value_form& f);
span occurrences_span(const element& m);
std::string count_text(const span& s);
// A value of `a` outside `b` (`b` does not hold `a`), near b's bounds.
std::uint64_t outside(const span& a, const span& b);
std::int64_t outside(const int_span& a, const int_span& b);
std::string kind_text(const element& e);
bool same_form(const value_form& a, const value_form& b);

}  // namespace qrv::compat
