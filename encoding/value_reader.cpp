// The simple values of a message, one reader per row of encoding/kinds.def
// (read_<form>, starts_<form>), with the checks a grammar cannot make:
// ranges, sizes in characters or decoded bytes, dates that exist, times,
// addresses and object identifiers.
#include "encoding/value_reader.h"

#include <algorithm>
#include <cstdint>

#include "encoding/message_bytes.h"
#include "support/utf8.h"

namespace qrv {

using namespace message_bytes;

namespace {

int base64_value(int c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (is_digit(c)) return c - '0' + 52;
    return c == '+' ? 62 : 63;
}

// The value of a run of digits, UINT64_MAX when it is larger.
std::uint64_t number_of(std::string_view digits) {
    std::uint64_t v = 0;
    for (char c : digits) {
        const auto d = static_cast<std::uint64_t>(c - '0');
        if (v > (UINT64_MAX - d) / 10) return UINT64_MAX;
        v = v * 10 + d;
    }
    return v;
}

std::string count_text(std::uint64_t min, std::uint64_t max, const char* unit) {
    std::string out;
    if (min == max) {
        out = std::to_string(min);
    } else if (max == no_limit) {
        out = "at least " + std::to_string(min);
    } else {
        out = std::to_string(min) + " to " + std::to_string(max);
    }
    out += ' ';
    out += unit;
    if (!(min == max && min == 1) && !(max == no_limit && min == 1)) out += 's';
    return out;
}

bool days_exist(std::uint64_t year, std::uint64_t month, std::uint64_t day) {
    static constexpr std::uint64_t days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1) return false;
    const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    return day <= days[month - 1] + (month == 2 && leap ? 1 : 0);
}

}  // namespace

// ---- simple values ---------------------------------------------------------

// The first byte of a value of each form (starts_<form>, see
// encoding/kinds.def); `c` is the byte at the position, or -1.
bool scanner::starts_none(const value_form&, int) const { return false; }
bool scanner::starts_empty(const value_form&, int) const { return true; }
bool scanner::starts_boolean(const value_form&, int c) const {
    return c == 't' || c == 'T' || c == 'f' || c == 'F';
}
bool scanner::starts_integer(const value_form& f, int c) const {
    return is_digit(c) || (f.sign && c == '-');
}
bool scanner::starts_floating(const value_form&, int c) const {
    return is_digit(c) || c == '+' || c == '-';
}
bool scanner::starts_oid(const value_form&, int c) const { return is_digit(c); }
bool scanner::starts_ipv4(const value_form&, int c) const { return is_digit(c); }
bool scanner::starts_date(const value_form&, int c) const { return is_digit(c); }
bool scanner::starts_time(const value_form&, int c) const { return is_digit(c); }
bool scanner::starts_ipv6(const value_form&, int c) const { return is_hex(c) || c == ':'; }
bool scanner::starts_ascii(const value_form&, int c) const { return c == '\''; }
bool scanner::starts_unquoted(const value_form&, int c) const { return is_safe(c); }
bool scanner::starts_unicode(const value_form&, int c) const { return c == '"'; }
bool scanner::starts_bytes(const value_form&, int c) const { return c == '['; }
bool scanner::starts_constant(const value_form& f, int) const {
    return constant_at(f.text) != npos;
}
bool scanner::starts_embedded(const value_form&, int c) const { return c == '('; }

bool scanner::read_none(const value_form&, bool) {
    return fail(pos, "this kind has no form in a message");
}

bool scanner::read_empty(const value_form&, bool) { return true; }

bool scanner::read_constant(const value_form& f, bool) {
    const std::size_t at = constant_at(f.text);
    if (at == npos) return fail_expected(pos, {quote_text(f.text)});
    pos = at + f.text.size();
    return true;
}

// The reader of each form, from the table.
const scanner::form_reader scanner::readers_[] = {
#define QRV_FORM(form, ...) {&scanner::read_##form, &scanner::starts_##form},
#include "encoding/kinds.def"
#undef QRV_FORM
};
bool scanner::can_begin(const value_form& f) const {
    static_assert(sizeof readers_ / sizeof readers_[0] == form_count);
    return (this->*readers_[static_cast<std::size_t>(f.kind)].starts)(f, peek());
}

bool scanner::read_value(const value_form& f, bool in_combination) {
    return (this->*readers_[static_cast<std::size_t>(f.kind)].read)(f, in_combination);
}

bool scanner::read_boolean(const value_form&, bool) {
    // The longer spellings first: "True" also begins with "T".
    for (std::string_view word : {"True", "False", "T", "F"}) {
        if (looks_at(word)) {
            pos += word.size();
            return true;
        }
    }
    return fail_expected(pos, {"True", "False"});
}

std::size_t scanner::integer_digits() const { return digits_at(peek() == '-' ? pos + 1 : pos); }

bool scanner::read_integer_digits(const value_form& f, std::size_t take) {
    return read_integer_taking(f, std::min(take, integer_digits()));
}

bool scanner::read_integer(const value_form& f, bool in_combination) {
    const std::size_t run = integer_digits();
    // In a combination the next member may be digits too: a value has at
    // most its width.
    if (in_combination && f.digits != 0)
        return read_integer_taking(f, std::min<std::size_t>(run, f.digits));
    return read_integer_taking(f, run);
}

bool scanner::read_integer_taking(const value_form& f, std::size_t take) {
    const std::size_t start = pos;
    std::size_t p = pos;
    const bool negative = peek() == '-';
    if (negative) ++p;
    const std::size_t run = take;
    std::string wanted = "an integer";
    if (f.ranged) wanted += " from " + std::to_string(f.low) + " to " + std::to_string(f.high);
    if (run == 0 || (negative && !f.ranged)) return fail_expected(start, {wanted});
    const std::string_view text = in_.substr(start, p + take - start);
    if (negative && !f.sign)
        return fail(start, "expected " + wanted + ", found " + quote_text(text));
    pos = p + take;
    if (!f.ranged) return true;
    const std::uint64_t magnitude = take > f.digits ? UINT64_MAX : number_of(in_.substr(p, take));
    const bool inside = magnitude <= static_cast<std::uint64_t>(INT64_MAX) &&
                        (negative ? -static_cast<std::int64_t>(magnitude)
                                  : static_cast<std::int64_t>(magnitude)) >= f.low &&
                        (negative ? -static_cast<std::int64_t>(magnitude)
                                  : static_cast<std::int64_t>(magnitude)) <= f.high;
    if (!inside) {
        pos = start;
        return fail(start, "expected " + wanted + ", found " + quote_text(text));
    }
    return true;
}

bool scanner::read_floating(const value_form&, bool) {
    std::size_t p = pos;
    if (peek() == '+' || peek() == '-') ++p;
    const std::size_t whole = digits_at(p);
    if (whole == 0) return fail_expected(pos, {"a number"});
    p += whole;
    // A fraction and an exponent count only when they are complete.
    if (p < in_.size() && in_[p] == '.' && digits_at(p + 1) > 0) p += 1 + digits_at(p + 1);
    if (p < in_.size() && (in_[p] == 'e' || in_[p] == 'E')) {
        std::size_t q = p + 1;
        if (q < in_.size() && (in_[q] == '+' || in_[q] == '-')) ++q;
        if (digits_at(q) > 0) p = q + digits_at(q);
    }
    pos = p;
    return true;
}

bool scanner::read_oid(const value_form&, bool) {
    const std::size_t start = pos;
    if (digits_at(pos) == 0) return fail_expected(pos, {"an object identifier"});
    std::uint64_t arcs[2] = {0, 0};
    std::size_t count = 0;
    std::size_t p = pos;
    for (;;) {
        const std::size_t n = digits_at(p);
        if (count < 2) arcs[count] = number_of(in_.substr(p, n));
        ++count;
        p += n;
        if (p + 1 < in_.size() && in_[p] == '~' && digits_at(p + 1) > 0) {
            ++p;
            continue;
        }
        break;
    }
    const std::string found = ", found " + quote_text(in_.substr(start, p - start));
    if (count < 2) return fail(start, "expected an object identifier of two arcs or more" + found);
    if (arcs[0] > 2) {
        return fail(start, "expected an object identifier whose first arc is 0, 1 or 2" + found);
    }
    if (arcs[0] < 2 && arcs[1] > 39) {
        return fail(start, "expected a second arc from 0 to 39 under arc 0 or 1" + found);
    }
    pos = p;
    return true;
}

bool scanner::read_quoted(int quote, std::uint64_t& count) {
    const bool unicode = quote == '"';
    ++pos;  // the opening quote
    for (;;) {
        const int c = peek();
        if (c < 0)
            return fail_expected(pos, {quote_text(std::string(1, static_cast<char>(quote)))});
        if (c == quote) {
            ++pos;
            return true;
        }
        ++count;
        if (c == '\\') {
            const int next = peek(1);
            if (next == '\\' || next == (unicode ? '"' : '\'')) {
                pos += 2;
                continue;
            }
            return fail(pos, std::string("expected ") + (unicode ? "\\\\ or \\\"" : "\\\\ or \\'") +
                                 ", found " + quote_text(in_.substr(pos, 2)));
        }
        if (c < 0x80) {
            ++pos;
            continue;
        }
        if (!unicode)
            return fail(pos, "expected an ASCII character or \"'\", found " + hex_byte(c));
        const utf8_sequence u = utf8_sequence_at(in_.substr(pos));
        if (u.length == 0 && u.bad_at == 0)
            return fail(pos, "expected a UTF-8 character or '\"', found " + hex_byte(c));
        if (u.length == 0) {
            const int t = peek(u.bad_at);
            return fail(pos + u.bad_at, "expected a UTF-8 continuation byte, found " +
                                            (t < 0 ? std::string("end of message") : hex_byte(t)));
        }
        pos += u.length;
    }
}

bool scanner::read_ascii(const value_form& f, bool) { return read_text_in('\'', "'...'", f); }

bool scanner::read_unicode(const value_form& f, bool) { return read_text_in('"', "\"...\"", f); }

bool scanner::read_text_in(int quote, const char* shown, const value_form& f) {
    const std::size_t start = pos;
    if (peek() != quote) return fail_expected(pos, {std::string("a text in ") + shown});
    std::uint64_t count = 0;
    if (!read_quoted(quote, count)) return false;
    if (count < f.min || count > f.max) {
        return fail(start, "expected a text of " + count_text(f.min, f.max, "character") +
                               ", found " + std::to_string(count));
    }
    return true;
}

bool scanner::read_unquoted(const value_form& f, bool in_combination) {
    const std::size_t start = pos;
    std::size_t run = 0;
    while (is_safe(peek(run))) ++run;
    // A size from 0 allows the empty text.
    if (run == 0 && f.min > 0) return fail_expected(pos, {"a text"});
    // In a combination the text has its fixed length and the next member
    // follows at once.
    std::size_t take = run;
    if (in_combination && f.counted) {
        take = static_cast<std::size_t>(std::min<std::uint64_t>(run, f.max));
    } else if (run > 0 && f.min == 0) {
        // A word followed by "=" is the tag of what comes next: no value
        // is ever followed by "=", so the text is the empty one.
        const std::size_t from = blank_from_, to = blank_to_;
        pos += run;
        skip_ows();
        if (peek() == '=') take = 0;
        pos = start;
        blank_from_ = from;
        blank_to_ = to;
    }
    if (take < f.min || take > f.max) {
        return fail(start, "expected a text of " + count_text(f.min, f.max, "character") +
                               ", found " + std::to_string(take));
    }
    pos += take;
    return true;
}

bool scanner::read_base64_group(bool check_bits, bool& padded, std::uint64_t& pads) {
    const int c0 = peek(0), c1 = peek(1), c2 = peek(2), c3 = peek(3);
    padded = false;
    if (is_b64(c0) && is_b64(c1) && is_b64(c2) && is_b64(c3)) {
        pos += 4;
        return true;
    }
    int unused = 0;  // the bits of the last character that carry no data
    if (is_b64(c0) && is_b64(c1) && is_b64(c2) && c3 == '=') {
        pads += 1;
        unused = base64_value(c2) & 0x3;
    } else if (is_b64(c0) && is_b64(c1) && c2 == '=' && c3 == '=') {
        pads += 2;
        unused = base64_value(c1) & 0xF;
    } else {
        return fail(pos,
                    "expected a group of four Base64 characters, found " +
                        quote_text(in_.substr(pos, std::min<std::size_t>(4, in_.size() - pos))));
    }
    if (check_bits && unused != 0) {
        return fail(pos, "expected Base64 padding after bits that are zero, found " +
                             quote_text(in_.substr(pos, 4)));
    }
    padded = true;
    pos += 4;
    return true;
}

bool scanner::read_bytes(const value_form& f, bool) {
    const std::size_t start = pos;
    if (peek() != '[') return fail_expected(pos, {"Base64 data in [...]"});
    ++pos;
    if (f.any_lines) {
        if (peek() != '^') return fail_expected(pos, {"\"^\""});
        ++pos;
    }
    // Lines follow one another without a separator: a line holds 1 to 19
    // groups and only its last group may be padded. A run of s groups up
    // to a padded group (or the end) makes ceil(s / 19) to s lines.
    std::uint64_t groups = 0, pads = 0, run = 0, lines_low = 0, lines_high = 0;
    while (is_b64(peek())) {
        bool padded = false;
        if (!read_base64_group(true, padded, pads)) return false;
        ++groups;
        ++run;
        if (padded) {
            lines_low += (run + base64_groups_per_line - 1) / base64_groups_per_line;
            lines_high += run;
            run = 0;
        }
    }
    lines_low += (run + base64_groups_per_line - 1) / base64_groups_per_line;
    lines_high += run;
    if (peek() != ']') {
        if (peek() == '=') return fail_expected(pos, {"a group of four Base64 characters"});
        return fail_expected(pos, {"a Base64 group", "\"]\""});
    }
    ++pos;
    const std::uint64_t size = groups * 3 - pads;
    if (f.counted && (size < f.min || size > f.max)) {
        return fail(start, "expected " + count_text(f.min, f.max, "byte") +
                               " of Base64 data, found " + std::to_string(size));
    }
    if (!f.any_lines && (lines_high < f.lines_min || lines_low > f.lines_max)) {
        return fail(start, "expected Base64 data in " +
                               count_text(f.lines_min, f.lines_max, "line") +
                               " of 19 groups (a padded group ends its line), found " +
                               std::to_string(lines_low) + " or more");
    }
    return true;
}

bool scanner::read_ipv4(const value_form&, bool) {
    const std::size_t start = pos;
    std::size_t p = pos;
    std::size_t end = pos;
    while (end < in_.size() &&
           (is_digit(static_cast<unsigned char>(in_[end])) || in_[end] == '.')) {
        ++end;
    }
    // What stands there: the run of digits and dots, or, where none
    // begins the address, the bytes an error names.
    const std::string found =
        ", found " + (end > start ? quote_text(in_.substr(start, end - start)) : found_at(start));
    for (int octet = 0; octet < 4; ++octet) {
        if (octet > 0) {
            if (p >= in_.size() || in_[p] != '.')
                return fail(start, "expected an IPv4 address" + found);
            ++p;
        }
        const std::size_t n = digits_at(p);
        if (n == 0 || n > 3) return fail(start, "expected an IPv4 address" + found);
        if (number_of(in_.substr(p, n)) > 255) {
            return fail(start, "expected an IPv4 address of octets from 0 to 255" + found);
        }
        p += n;
    }
    pos = p;
    return true;
}

bool scanner::read_ipv6(const value_form&, bool) {
    const std::size_t start = pos;
    std::size_t end = pos;
    while (end < in_.size() && (is_hex(static_cast<unsigned char>(in_[end])) || in_[end] == ':')) {
        ++end;
    }
    const std::string found = ", found " + quote_text(in_.substr(start, end - start));
    std::size_t groups = 0;
    bool compressed = false;
    // hexseq / hexseq "::" [ hexseq ] / "::" [ hexseq ]
    auto hex_run = [this](std::size_t at) {
        std::size_t n = 0;
        while (at + n < in_.size() && is_hex(static_cast<unsigned char>(in_[at + n]))) ++n;
        return n;
    };
    auto read_sequence = [&]() {
        for (;;) {
            const std::size_t n = hex_run(pos);
            if (n > 4) return false;
            pos += n;
            ++groups;
            if (peek() == ':' && is_hex(peek(1))) {
                ++pos;
                continue;
            }
            return true;
        }
    };
    if (peek() == ':' && peek(1) == ':') {
        compressed = true;
        pos += 2;
        if (is_hex(peek()) && !read_sequence()) {
            pos = start;
            return fail(start, "expected an IPv6 address of groups of 1 to 4 digits" + found);
        }
    } else {
        if (!is_hex(peek())) return fail_expected(start, {"an IPv6 address"});
        if (!read_sequence()) {
            pos = start;
            return fail(start, "expected an IPv6 address of groups of 1 to 4 digits" + found);
        }
        if (peek() == ':' && peek(1) == ':') {
            compressed = true;
            pos += 2;
            if (is_hex(peek()) && !read_sequence()) {
                pos = start;
                return fail(start, "expected an IPv6 address of groups of 1 to 4 digits" + found);
            }
        }
    }
    if (peek() == ':' && peek(1) == ':') {
        pos = start;
        return fail(start, "expected an IPv6 address with one \"::\" at most" + found);
    }
    if (!compressed && groups != 8) {
        pos = start;
        return fail(start, "expected an IPv6 address of eight groups" + found);
    }
    if (compressed && groups > 7) {
        pos = start;
        return fail(start, "expected at most seven groups beside \"::\"" + found);
    }
    return true;
}

bool scanner::read_date(const value_form&, bool) {
    const std::size_t start = pos;
    const std::size_t end = std::min(in_.size(), pos + 10);
    const std::string found = ", found " + found_at(start);
    auto field = [&](std::size_t at, std::size_t width) {
        return at + width <= in_.size() && digits_at(at) >= width;
    };
    if (!(field(pos, 4) && pos + 4 < in_.size() && in_[pos + 4] == '-' && field(pos + 5, 2) &&
          pos + 7 < in_.size() && in_[pos + 7] == '-' && field(pos + 8, 2))) {
        return fail_expected(start, {"a date (YYYY-MM-DD)"});
    }
    const std::uint64_t year = number_of(in_.substr(pos, 4));
    const std::uint64_t month = number_of(in_.substr(pos + 5, 2));
    const std::uint64_t day = number_of(in_.substr(pos + 8, 2));
    if (!days_exist(year, month, day)) {
        return fail(start, "expected a date that exists, found " +
                               quote_text(in_.substr(start, end - start)));
    }
    pos += 10;
    return true;
}

bool scanner::read_time(const value_form&, bool) {
    const std::size_t start = pos;
    auto field = [&](std::size_t at) { return at + 2 <= in_.size() && digits_at(at) >= 2; };
    if (!(field(pos) && pos + 2 < in_.size() && in_[pos + 2] == ':' && field(pos + 3) &&
          pos + 5 < in_.size() && in_[pos + 5] == ':' && field(pos + 6))) {
        return fail_expected(start, {"a time (HH:MM:SS)"});
    }
    const std::uint64_t hours = number_of(in_.substr(pos, 2));
    const std::uint64_t minutes = number_of(in_.substr(pos + 3, 2));
    const std::uint64_t seconds = number_of(in_.substr(pos + 6, 2));
    if (hours > 23 || minutes > 59 || seconds > 60) {
        return fail(start, "expected a time from 00:00:00 to 23:59:60, found " +
                               quote_text(in_.substr(start, 8)));
    }
    pos += 8;
    return true;
}

bool scanner::read_embedded(const value_form& f, bool) {
    const std::size_t start = pos;
    if (peek() != '(') return fail_expected(pos, {"a text in (...)"});
    // "(" OWS text OWS ")": the text is visible ASCII and spaces up to the
    // first ")"; spaces at its two ends may belong to the text or to the
    // white space around it, so its length lies in a range.
    const std::size_t open = pos + 1;
    const std::size_t close = in_.find(')', open);
    if (close == std::string_view::npos) {
        return fail(start, "expected a text in (...) that ends in \")\", found end of message");
    }
    std::size_t p = open;
    std::uint64_t lead = 0;  // spaces after the last tab, line end or comment
    for (;;) {
        const int c = p < close ? static_cast<unsigned char>(in_[p]) : -1;
        if (c == ' ') {
            ++lead;
            ++p;
        } else if (is_space(c)) {
            lead = 0;
            ++p;
        } else if (c == '/') {
            const std::size_t end = comment_end(p);
            if (end == 0 || end > close) break;
            lead = 0;
            p = end;
        } else {
            break;
        }
    }
    std::size_t t = close;
    while (t > p && is_space(static_cast<unsigned char>(in_[t - 1]))) --t;
    std::uint64_t trail = 0;
    while (t + trail < close && in_[t + trail] == ' ') ++trail;
    for (std::size_t q = p; q < t; ++q) {
        const auto c = static_cast<unsigned char>(in_[q]);
        if (c < 0x20 || c > 0x7E) {
            return fail(q, "expected a visible ASCII character or \")\", found " + found_at(q));
        }
    }
    const std::uint64_t core = t - p;
    const std::uint64_t low = core;
    const std::uint64_t high = core + lead + trail;
    if (high < f.min || low > f.max) {
        return fail(start, "expected a text in (...) of " + count_text(f.min, f.max, "character") +
                               ", found " + std::to_string(low > f.max ? low : high));
    }
    pos = close + 1;
    return true;
}

}  // namespace qrv
