// The simple values of an example message, one writer per row of
// encoding/kinds.def: the shortest form of each, and the forms the seed
// chooses.
//
// The values are written so that a reader that takes the longest value
// reads them as they were meant: integers of a combination at their full
// width, embedded texts without ")" and without blanks at their ends, an
// unquoted text never empty where it may hold a character. The shortest
// form of a value is one of the forms the seed may give it.
#include "messages/example_values.h"

#include <array>
#include <string>

namespace qrv::examples {

namespace {

std::uint64_t decimal_length(std::uint64_t v) {
    std::uint64_t n = 1;
    for (; v >= 10; v /= 10) ++n;
    return n;
}

std::uint64_t magnitude(std::int64_t v) {
    return v < 0 ? static_cast<std::uint64_t>(-(v + 1)) + 1 : static_cast<std::uint64_t>(v);
}

// The integer of fewest characters in the range: 0 where it may be.
std::int64_t least_integer(const value_form& f) {
    if (!f.ranged) return 0;
    const std::int64_t low = std::min(f.low, f.high);
    const std::int64_t high = std::max(f.low, f.high);
    if (low > 0) return low;
    if (high < 0) return high;
    return 0;
}

// The least length (characters, bytes of data for Base64) a value of `f`
// is written with. A value without delimiters is never written empty where
// it may hold a character: an empty one could not be told from the white
// space around it (the reader would take the next word for the text).
std::uint64_t least_length(const value_form& f) {
    const std::uint64_t least = std::min(f.min, f.max);
    return !row_of(f.kind).delimited && least == 0 && f.max > 0 ? 1 : least;
}

std::uint64_t base64_length(std::uint64_t bytes) { return mul((bytes + 2) / 3, 4); }

// ---- the bytes of each form: least_bytes_<form>, most_bytes_<form> ----------

std::uint64_t least_bytes_none(const value_form&, bool) { return 0; }
std::uint64_t least_bytes_empty(const value_form&, bool) { return 0; }
std::uint64_t least_bytes_boolean(const value_form&, bool) { return 4; }  // True
std::uint64_t least_bytes_integer(const value_form& f, bool in_combination) {
    const std::int64_t v = least_integer(f);
    const std::uint64_t width = in_combination ? f.digits : 0;
    return (v < 0 ? 1 : 0) + std::max(decimal_length(magnitude(v)), width);
}
std::uint64_t least_bytes_floating(const value_form&, bool) { return 1; }
std::uint64_t least_bytes_oid(const value_form&, bool) { return 3; }
std::uint64_t least_bytes_ascii(const value_form& f, bool) { return add(least_length(f), 2); }
std::uint64_t least_bytes_unicode(const value_form& f, bool) { return add(least_length(f), 2); }
std::uint64_t least_bytes_embedded(const value_form& f, bool) { return add(least_length(f), 2); }
std::uint64_t least_bytes_unquoted(const value_form& f, bool) { return least_length(f); }
std::uint64_t least_bytes_bytes(const value_form& f, bool) {
    return add(base64_length(least_length(f)), f.any_lines ? 3 : 2);
}
std::uint64_t least_bytes_constant(const value_form& f, bool) { return f.text.size(); }
std::uint64_t least_bytes_ipv4(const value_form&, bool) { return 7; }
std::uint64_t least_bytes_ipv6(const value_form&, bool) { return 2; }
std::uint64_t least_bytes_date(const value_form&, bool) { return 10; }
std::uint64_t least_bytes_time(const value_form&, bool) { return 8; }

std::uint64_t most_bytes_none(const value_form&) { return 0; }
std::uint64_t most_bytes_empty(const value_form&) { return 0; }
std::uint64_t most_bytes_boolean(const value_form&) { return 5; }
std::uint64_t most_bytes_integer(const value_form& f) {
    return 1 + std::max<std::uint64_t>(f.digits, 5);
}
std::uint64_t most_bytes_floating(const value_form&) { return 12; }
std::uint64_t most_bytes_oid(const value_form&) { return 23; }
std::uint64_t most_bytes_ascii(const value_form& f) {
    return add(mul(add(least_length(f), 16), 2), 2);
}
std::uint64_t most_bytes_unicode(const value_form& f) {
    return add(mul(add(least_length(f), 16), 4), 2);
}
std::uint64_t most_bytes_unquoted(const value_form& f) { return add(least_length(f), 12); }
std::uint64_t most_bytes_embedded(const value_form& f) { return add(least_length(f), 18); }
std::uint64_t most_bytes_bytes(const value_form& f) {
    return add(base64_length(add(least_length(f), 9)), 3);
}
std::uint64_t most_bytes_constant(const value_form& f) { return f.text.size(); }
std::uint64_t most_bytes_ipv4(const value_form&) { return 15; }
std::uint64_t most_bytes_ipv6(const value_form&) { return 39; }
std::uint64_t most_bytes_date(const value_form&) { return 10; }
std::uint64_t most_bytes_time(const value_form&) { return 8; }

struct form_sizes {
    std::uint64_t (*least)(const value_form&, bool);
    std::uint64_t (*most)(const value_form&);
};
constexpr form_sizes sizes_of_forms[] = {
#define QRV_FORM(form, ...) {&least_bytes_##form, &most_bytes_##form},
#include "encoding/kinds.def"
#undef QRV_FORM
};
static_assert(sizeof sizes_of_forms / sizeof sizes_of_forms[0] == form_count);

constexpr std::string_view alphanumeric =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr std::array<std::string_view, 6> wide_characters = {
    "\xC3\xA9", "\xC3\xBC", "\xC3\x9F", "\xE2\x82\xAC", "\xE6\x97\xA5", "\xF0\x9F\x99\x82"};

}  // namespace

std::uint64_t least_bytes(const value_form& f, bool in_combination) {
    return sizes_of_forms[static_cast<std::size_t>(f.kind)].least(f, in_combination);
}

std::uint64_t most_bytes(const value_form& f) {
    return sizes_of_forms[static_cast<std::size_t>(f.kind)].most(f);
}

// ---- the writers -------------------------------------------------------------

const value_writer::form_writers value_writer::writers_[] = {
#define QRV_FORM(form, ...) {&value_writer::random_##form, &value_writer::least_##form},
#include "encoding/kinds.def"
#undef QRV_FORM
};

void value_writer::write(const value_form& f, bool in_combination) {
    static_assert(sizeof writers_ / sizeof writers_[0] == form_count);
    (this->*writers_[static_cast<std::size_t>(f.kind)].random)(f, in_combination);
}

void value_writer::least(const value_form& f, bool in_combination) {
    (this->*writers_[static_cast<std::size_t>(f.kind)].least)(f, in_combination);
}

void value_writer::text(char open, std::uint64_t length, char close) {
    out_.put(open);
    out_.put('a', length);
    out_.put(close);
}

void value_writer::number(std::uint64_t v, std::uint32_t width) {
    const std::string digits = std::to_string(v);
    for (std::size_t n = digits.size(); n < width; ++n) out_.put('0');
    out_.put(digits);
}

// ---- the shortest forms: least_<form> -----------------------------------------

void value_writer::least_none(const value_form&, bool) {}
void value_writer::least_empty(const value_form&, bool) {}
void value_writer::least_boolean(const value_form&, bool) { out_.put("True"); }
void value_writer::least_integer(const value_form& f, bool in_combination) {
    const std::int64_t v = examples::least_integer(f);
    if (v < 0) out_.put('-');
    number(magnitude(v), in_combination ? f.digits : 0);
}
void value_writer::least_floating(const value_form&, bool) { out_.put('0'); }
void value_writer::least_oid(const value_form&, bool) { out_.put("0~0"); }
void value_writer::least_ascii(const value_form& f, bool) { text('\'', least_length(f), '\''); }
void value_writer::least_unquoted(const value_form& f, bool) { out_.put('a', least_length(f)); }
void value_writer::least_unicode(const value_form& f, bool) { text('"', least_length(f), '"'); }
void value_writer::least_bytes(const value_form& f, bool) {
    // Zero bytes: whole groups, then the padded last one.
    const std::uint64_t n = least_length(f);
    out_.put(f.any_lines ? "[^" : "[");
    out_.put('A', n / 3 * 4);
    if (n % 3 == 1) out_.put("AA==");
    if (n % 3 == 2) out_.put("AAA=");
    out_.put(']');
}
void value_writer::least_constant(const value_form& f, bool) { out_.put(f.text); }
void value_writer::least_ipv4(const value_form&, bool) { out_.put("0.0.0.0"); }
void value_writer::least_ipv6(const value_form&, bool) { out_.put("::"); }
void value_writer::least_date(const value_form&, bool) { out_.put("2000-01-01"); }
void value_writer::least_time(const value_form&, bool) { out_.put("00:00:00"); }
void value_writer::least_embedded(const value_form& f, bool) { text('(', least_length(f), ')'); }

// ---- the seed's forms: random_<form> ------------------------------------------

void value_writer::random_none(const value_form&, bool) {}
void value_writer::random_empty(const value_form&, bool) {}
void value_writer::random_boolean(const value_form&, bool) {
    out_.put(random_.chance(50) ? "True" : "False");
}
void value_writer::random_constant(const value_form& f, bool) { out_.put(f.text); }

void value_writer::random_integer(const value_form& f, bool in_combination) {
    if (!f.ranged) {
        number(random_.below(100000));
        return;
    }
    const std::int64_t low = std::min(f.low, f.high);
    const std::int64_t high = std::max(f.low, f.high);
    // The bounds themselves now and then: they are where readers slip.
    std::int64_t v = low;
    const std::uint64_t roll = random_.below(10);
    if (roll == 1) {
        v = high;
    } else if (roll > 1) {
        const auto span = static_cast<std::uint64_t>(high - low);
        v = low + static_cast<std::int64_t>(random_.below(span + 1));
    }
    if (v < 0) out_.put('-');
    const std::uint64_t magnitude =
        v < 0 ? static_cast<std::uint64_t>(-v) : static_cast<std::uint64_t>(v);
    number(magnitude, in_combination ? f.digits : 0);
}

void value_writer::random_floating(const value_form&, bool) {
    if (random_.chance(30)) {
        out_.put('-');
    } else if (random_.chance(10)) {
        out_.put('+');
    }
    number(random_.below(1000));
    if (random_.chance(70)) {
        out_.put('.');
        number(random_.below(1000));
    }
    if (random_.chance(25)) {
        out_.put(random_.chance(50) ? 'e' : 'E');
        if (random_.chance(50)) out_.put('-');
        number(random_.below(20));
    }
}

// At least two arcs; the first 0 to 2, the second below 40 under 0 and 1.
void value_writer::random_oid(const value_form&, bool) {
    const std::uint64_t first = random_.below(3);
    number(first);
    out_.put('~');
    number(random_.below(first < 2 ? 40 : 1000));
    for (std::uint64_t n = random_.below(4); n > 0; --n) {
        out_.put('~');
        number(random_.below(100000));
    }
}

// A count within the size: a little above the least, rarely far.
std::uint64_t value_writer::length(const value_form& f, std::uint64_t spread) {
    const std::uint64_t low = least_length(f);
    const std::uint64_t high = f.max == no_limit ? low + spread : std::min(f.max, low + spread);
    return low + random_.below(std::max(high, low) - low + 1);
}

// A quoted text: now and then an escape (of the quote or of "\\"), a
// wide character (UTF-8 texts only) or a blank, otherwise a letter or
// digit. `escaped` is the quote's escape.
void value_writer::quoted(const value_form& f, char quote, std::string_view escaped, bool wide) {
    const std::uint64_t wide_below = wide ? 8 : 2;
    const std::uint64_t blank_below = wide ? 12 : 6;
    out_.put(quote);
    for (std::uint64_t n = length(f, 16); n > 0; --n) {
        const std::uint64_t roll = random_.below(40);
        if (roll == 0) {
            out_.put(escaped);
        } else if (roll == 1) {
            out_.put("\\\\");
        } else if (roll < wide_below) {
            out_.put(wide_characters[random_.below(wide_characters.size())]);
        } else if (roll < blank_below) {
            out_.put(' ');
        } else {
            out_.put(alphanumeric[random_.below(alphanumeric.size())]);
        }
    }
    out_.put(quote);
}

void value_writer::random_ascii(const value_form& f, bool) { quoted(f, '\'', "\\'", false); }
void value_writer::random_unicode(const value_form& f, bool) { quoted(f, '"', "\\\"", true); }

void value_writer::random_unquoted(const value_form& f, bool) {
    for (std::uint64_t n = length(f, 12); n > 0; --n) {
        out_.put(alphanumeric[random_.below(alphanumeric.size())]);
    }
}

void value_writer::random_embedded(const value_form& f, bool) {
    out_.put('(');
    const std::uint64_t count = length(f, 16);
    for (std::uint64_t n = 0; n < count; ++n) {
        // Blanks only inside: at the ends they would be white space.
        if (n > 0 && n + 1 < count && random_.chance(12)) {
            out_.put(' ');
        } else {
            out_.put(alphanumeric[random_.below(alphanumeric.size())]);
        }
    }
    out_.put(')');
}

// Base64 of random bytes; the groups run on without a break, so the
// lines of 19 groups fall where the reader counts them, and only the
// last group is padded.
void value_writer::random_bytes(const value_form& f, bool) {
    static constexpr char digits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    out_.put(f.any_lines ? "[^" : "[");
    // Few bytes beyond the least: Base64 groups split into lines in
    // many ways, and a recogniser that follows every way slows down.
    std::uint64_t left = length(f, 9);
    while (left > 0) {
        const std::uint64_t take = std::min<std::uint64_t>(left, 3);
        std::uint32_t group = 0;
        for (std::uint64_t k = 0; k < 3; ++k) {
            group = (group << 8) | (k < take ? static_cast<std::uint32_t>(random_.below(256)) : 0);
        }
        char text[4];
        for (int k = 0; k < 4; ++k) text[k] = digits[(group >> (18 - 6 * k)) & 0x3F];
        if (take < 3) text[3] = '=';
        if (take < 2) text[2] = '=';
        out_.put(std::string_view(text, 4));
        left -= take;
    }
    out_.put(']');
}

void value_writer::random_ipv4(const value_form&, bool) {
    for (int k = 0; k < 4; ++k) {
        if (k > 0) out_.put('.');
        number(random_.below(256));
    }
}

void value_writer::hex_group() {
    static constexpr char digits[] = "0123456789abcdef";
    std::uint64_t v = random_.chance(30) ? random_.below(16) : random_.below(0x10000);
    char text[4];
    int n = 0;
    do {
        text[n++] = digits[v & 0xF];
        v >>= 4;
    } while (v != 0);
    while (n > 0) out_.put(text[--n]);
}

// Eight groups, or at most seven around one "::".
void value_writer::random_ipv6(const value_form&, bool) {
    if (random_.chance(40)) {
        for (int k = 0; k < 8; ++k) {
            if (k > 0) out_.put(':');
            hex_group();
        }
        return;
    }
    const std::uint64_t groups = random_.below(8);
    const std::uint64_t before = random_.below(groups + 1);
    for (std::uint64_t k = 0; k < before; ++k) {
        if (k > 0) out_.put(':');
        hex_group();
    }
    out_.put("::");
    for (std::uint64_t k = before; k < groups; ++k) {
        if (k > before) out_.put(':');
        hex_group();
    }
}

// A day that exists, leap days included.
void value_writer::random_date(const value_form&, bool) {
    static constexpr std::array<std::uint64_t, 12> days = {31, 28, 31, 30, 31, 30,
                                                           31, 31, 30, 31, 30, 31};
    const std::uint64_t year = 1900 + random_.below(200);
    const std::uint64_t month = 1 + random_.below(12);
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    const std::uint64_t in_month = days[month - 1] + (month == 2 && leap ? 1 : 0);
    number(year, 4);
    out_.put('-');
    two_digits(month);
    out_.put('-');
    two_digits(1 + random_.below(in_month));
}

void value_writer::random_time(const value_form&, bool) {
    two_digits(random_.below(24));
    out_.put(':');
    two_digits(random_.below(60));
    out_.put(':');
    two_digits(random_.below(60));
}

}  // namespace qrv::examples
