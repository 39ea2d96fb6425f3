// The simple values in JSON, one set of functions per row of
// encoding/kinds.def (json_out_<form>, json_in_<form>, json_schema_<form>).
//
// A value leaves the message as the checker read it, so json_out_<form>
// only takes the text apart; json_in_<form> writes a text that the
// checker's reader of the form then reads, which makes every check of a
// range or a size. Each value has one JSON form, so that a message read
// back from its JSON converts to the same JSON again.
#include "json/json_values.h"

#include <cstdint>

namespace qrv::json {

namespace {

constexpr char base64_alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int base64_value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

void put_key(std::string& out, const char* key) {
    out += '"';
    out += key;
    out += "\":";
}

void put_number(std::string& out, const char* key, std::uint64_t v) {
    out += ',';
    put_key(out, key);
    out += std::to_string(v);
}

void put_text(std::string& out, const char* key, std::string_view v) {
    out += ',';
    put_key(out, key);
    append_string(out, v);
}

// {"type":"string"} with a pattern and sizes in characters.
void string_schema(std::string& out, std::string_view pattern, const value_form* sized = nullptr) {
    out += "{\"type\":\"string\"";
    if (!pattern.empty()) put_text(out, "pattern", pattern);
    if (sized != nullptr) {
        if (sized->min > 0) put_number(out, "minLength", sized->min);
        if (sized->max != no_limit) put_number(out, "maxLength", sized->max);
    }
}

bool want_string(const node& n, const char* what, std::string& why) {
    if (n.type() == node_type::string) return true;
    why = std::string("expected ") + what + " in a JSON string";
    return false;
}

// A string's value: its bytes as they stand when it holds no escape.
template <class F>
auto with_string(const document& d, const node& n, F f) {
    if (!n.escaped()) return f(d.raw(n));
    const std::string decoded = d.string_of(n);
    return f(std::string_view(decoded));
}

// Base64 as base64_encode writes it: whole groups, padding in the last one
// alone, and the bits the padding leaves unused zero.
bool canonical_base64(std::string_view s) {
    if (s.size() % 4 != 0) return false;
    const std::size_t pads = s.ends_with("==") ? 2 : s.ends_with("=") ? 1 : 0;
    for (std::size_t i = 0; i + pads < s.size(); ++i) {
        if (base64_value(s[i]) < 0) return false;
    }
    if (pads == 0) return true;
    const int last = base64_value(s[s.size() - pads - 1]);
    return (last & (pads == 2 ? 0xF : 0x3)) == 0;
}

// The text of a string, for the forms written as they stand.
bool plain_string(const document& d, const node& n, const char* what, std::string& text,
                  std::string& why) {
    if (!want_string(n, what, why)) return false;
    with_string(d, n, [&](std::string_view v) { text += v; });
    return true;
}

// A quoted text without its quotes, its escapes (\\ and \<quote>) undone.
std::string unquoted_text(std::string_view text) {
    std::string out;
    const std::string_view inner = text.substr(1, text.size() - 2);
    out.reserve(inner.size());
    for (std::size_t i = 0; i < inner.size(); ++i) {
        if (inner[i] == '\\' && i + 1 < inner.size()) ++i;
        out += inner[i];
    }
    return out;
}

void quote(std::string& text, std::string_view s, char q) {
    text += q;
    std::size_t plain = 0;  // the start of the run not yet appended
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' && s[i] != q) continue;
        text.append(s.substr(plain, i - plain));
        text += '\\';
        plain = i;
    }
    text.append(s.substr(plain));
    text += q;
}

// The decimal digits of a JSON integer (a number without fraction or
// exponent, or a string of an optional "-" and digits), without the sign
// and leading zeros.
bool integer_digits(const document& d, const node& n, bool& negative, std::string& digits,
                    std::string& why) {
    if (n.type() != node_type::number && n.type() != node_type::string) {
        why = "expected an integer: a JSON number, or a decimal string";
        return false;
    }
    return with_string(d, n, [&](std::string_view s) {
        negative = !s.empty() && s[0] == '-';
        const std::string_view body = s.substr(negative ? 1 : 0);
        bool ok = !body.empty();
        for (char c : body) ok = ok && c >= '0' && c <= '9';
        if (!ok) {
            why = n.type() == node_type::number
                      ? "expected an integer, found the number " + std::string(s)
                      : "expected an integer in the string, found \"" + std::string(s) + "\"";
            return false;
        }
        const std::size_t nonzero = body.find_first_not_of('0');
        if (nonzero == std::string_view::npos) {
            digits = "0";
            negative = false;
        } else {
            digits.assign(body.substr(nonzero));
        }
        return true;
    });
}

// ---- none, empty, boolean ------------------------------------------------

void json_out_none(const value_form&, std::string_view, std::string& out) { out += "null"; }
bool json_in_none(const value_form&, const document&, const node&, bool, std::string&,
                  std::string& why) {
    why = "this kind has no form in a message";
    return false;
}
void json_schema_none(const value_form&, std::string& out) { out += "{\"not\":{}"; }

void json_out_empty(const value_form&, std::string_view, std::string& out) { out += "null"; }
bool json_in_empty(const value_form&, const document&, const node& n, bool, std::string&,
                   std::string& why) {
    if (n.type() == node_type::null) return true;
    why = "expected null (a void value)";
    return false;
}
void json_schema_empty(const value_form&, std::string& out) { out += "{\"type\":\"null\""; }

void json_out_boolean(const value_form&, std::string_view text, std::string& out) {
    out += text[0] == 'T' || text[0] == 't' ? "true" : "false";
}
bool json_in_boolean(const value_form&, const document&, const node& n, bool, std::string& text,
                     std::string& why) {
    if (n.type() != node_type::boolean) {
        why = "expected true or false";
        return false;
    }
    text += n.truth() ? "True" : "False";
    return true;
}
void json_schema_boolean(const value_form&, std::string& out) { out += "{\"type\":\"boolean\""; }

// ---- numbers -------------------------------------------------------------

void json_out_integer(const value_form&, std::string_view text, std::string& out) {
    const bool negative = !text.empty() && text[0] == '-';
    std::string_view digits = text.substr(negative ? 1 : 0);
    const std::size_t nonzero = digits.find_first_not_of('0');
    if (nonzero == std::string_view::npos) {
        out += '0';
        return;
    }
    digits.remove_prefix(nonzero);
    std::uint64_t v = 0;
    bool exact = digits.size() <= 16;
    if (exact) {
        for (char c : digits) v = v * 10 + static_cast<std::uint64_t>(c - '0');
        exact = v < exact_number_limit;
    }
    if (!exact) out += '"';
    if (negative) out += '-';
    out.append(digits);
    if (!exact) out += '"';
}
bool json_in_integer(const value_form& f, const document& d, const node& n, bool in_combination,
                     std::string& text, std::string& why) {
    bool negative = false;
    std::string digits;
    if (!integer_digits(d, n, negative, digits, why)) return false;
    if (negative) text += '-';
    // In a combination an integer stands at the full width of its range,
    // so that the next member's digits are not read as its own.
    if (in_combination && f.digits > digits.size()) text.append(f.digits - digits.size(), '0');
    text += digits;
    return true;
}
void json_schema_integer(const value_form& f, std::string& out) {
    // A number below 2^53 in magnitude, a decimal string from there on.
    constexpr auto exact = static_cast<std::int64_t>(exact_number_limit - 1);
    const std::int64_t low = f.ranged ? f.low : (f.sign ? -exact : 0);
    const std::int64_t high = f.ranged ? f.high : exact;
    const bool strings = low < -exact || high > exact || !f.ranged;
    out += strings ? "{\"oneOf\":[{" : "{";
    out += "\"type\":\"integer\",\"minimum\":";
    out += std::to_string(std::max(low, -exact));
    out += ",\"maximum\":";
    out += std::to_string(std::min(high, exact));
    if (!strings) return;
    out += "},{\"type\":\"string\",\"pattern\":";
    append_string(out, f.sign || low < 0 ? "^-?[0-9]{16,}$" : "^[0-9]{16,}$");
    std::string comment = "an integer of 2^53 or more in magnitude";
    if (f.ranged) {
        comment += ", from " + std::to_string(f.low) + " to " + std::to_string(f.high) +
                   " (checked by the converter, not by this schema)";
    }
    put_text(out, "$comment", comment);
    out += "}]";
}

void json_out_floating(const value_form&, std::string_view text, std::string& out) {
    if (is_number(text)) {
        out.append(text);
    } else {
        append_string(out, text);  // "+1.5", "007": the text keeps its form
    }
}
bool json_in_floating(const value_form&, const document& d, const node& n, bool, std::string& text,
                      std::string& why) {
    if (n.type() == node_type::number) {
        text += d.raw(n);
        return true;
    }
    if (n.type() == node_type::string) {
        const std::string s = d.string_of(n);
        if (is_number(s)) {
            why = "expected the number " + s + " as a JSON number, not a string";
            return false;
        }
        text += s;
        return true;
    }
    why = "expected a number";
    return false;
}
void json_schema_floating(const value_form&, std::string& out) {
    out += "{\"type\":[\"number\",\"string\"],\"pattern\":";
    append_string(out, R"(^[+-]?[0-9]+(\.[0-9]+)?([eE][+-]?[0-9]+)?$)");
}

// ---- texts ---------------------------------------------------------------

void json_out_ascii(const value_form&, std::string_view text, std::string& out) {
    append_string(out, unquoted_text(text));
}
bool json_in_ascii(const value_form&, const document& d, const node& n, bool, std::string& text,
                   std::string& why) {
    if (!want_string(n, "an ASCII text", why)) return false;
    with_string(d, n, [&](std::string_view v) { quote(text, v, '\''); });
    return true;
}
void json_schema_ascii(const value_form& f, std::string& out) {
    string_schema(out, "^[\\u0000-\\u007f]*$", &f);
}

void json_out_unicode(const value_form&, std::string_view text, std::string& out) {
    append_string(out, unquoted_text(text));
}
bool json_in_unicode(const value_form&, const document& d, const node& n, bool, std::string& text,
                     std::string& why) {
    if (!want_string(n, "a text", why)) return false;
    with_string(d, n, [&](std::string_view v) { quote(text, v, '"'); });
    return true;
}
void json_schema_unicode(const value_form& f, std::string& out) { string_schema(out, "", &f); }

void json_out_unquoted(const value_form&, std::string_view text, std::string& out) {
    append_string(out, text);
}
bool json_in_unquoted(const value_form&, const document& d, const node& n, bool, std::string& text,
                      std::string& why) {
    return plain_string(d, n, "a text", text, why);
}
void json_schema_unquoted(const value_form& f, std::string& out) {
    // The bytes of an unquoted text: visible ASCII but ) , = }.
    string_schema(
        out, "^[\\u0021-\\u0028\\u002a\\u002b\\u002d-\\u003c\\u003e-\\u007c\\u007e\\u007f]*$", &f);
}

// The bytes between the parentheses, as they stand: blanks at the ends may
// belong to the text or to the white space around it.
void json_out_embedded(const value_form&, std::string_view text, std::string& out) {
    append_string(out, text.substr(1, text.size() - 2));
}
bool json_in_embedded(const value_form&, const document& d, const node& n, bool, std::string& text,
                      std::string& why) {
    if (!want_string(n, "an embedded text", why)) return false;
    const std::string s = d.string_of(n);
    if (s.find(')') != std::string::npos) {
        why = "an embedded text holds no \")\"";
        return false;
    }
    text += '(';
    text += s;
    text += ')';
    return true;
}
void json_schema_embedded(const value_form& f, std::string& out) {
    out += "{\"type\":\"string\",\"pattern\":";
    append_string(out, "^[^)]*$");
    if (f.counted) {
        out += ",\"$comment\":";
        append_string(
            out, "the text between blanks, comments and line ends at its two ends holds " +
                     std::to_string(f.min) + " to " +
                     (f.max == no_limit ? std::string("any number of") : std::to_string(f.max)) +
                     " characters (checked by the converter, not by this schema)");
    }
}

// ---- bytes ---------------------------------------------------------------

// The Base64 of the bytes the groups decode to, whatever lines they stood
// in: one string without breaks.
void json_out_bytes(const value_form&, std::string_view text, std::string& out) {
    std::string_view groups = text.substr(1, text.size() - 2);
    if (!groups.empty() && groups[0] == '^') groups.remove_prefix(1);
    // In one line, or with no padded group before the last, the groups are
    // that string already (the checker saw the unused bits zero).
    const std::size_t pad = groups.find('=');
    if (pad == std::string_view::npos || pad + 2 >= groups.size()) {
        out += '"';
        out.append(groups);
        out += '"';
        return;
    }
    std::string bytes;
    // The checker read the groups: each decodes, padded ones too.
    for (std::size_t i = 0; i + 4 <= groups.size(); i += 4) {
        std::string part;
        base64_decode(groups.substr(i, 4), part);
        bytes += part;
    }
    out += '"';
    out += base64_encode(bytes);
    out += '"';
}
bool json_in_bytes(const value_form& f, const document& d, const node& n, bool, std::string& text,
                   std::string& why) {
    if (!want_string(n, "Base64 data", why)) return false;
    return with_string(d, n, [&](std::string_view s) {
        if (!canonical_base64(s)) {
            why =
                "expected Base64 data (RFC 4648: groups of four, padded with \"=\", unused bits "
                "zero)";
            return false;
        }
        text += '[';
        if (f.any_lines) text += '^';
        text += s;
        text += ']';
        return true;
    });
}
void json_schema_bytes(const value_form& f, std::string& out) {
    out += "{\"type\":\"string\",\"pattern\":";
    append_string(out, "^([A-Za-z0-9+/]{4})*([A-Za-z0-9+/]{2}==|[A-Za-z0-9+/]{3}=)?$");
    if (f.counted) {
        // n bytes take 4 * ceil(n / 3) characters.
        if (f.min > 0) put_number(out, "minLength", 4 * ((f.min + 2) / 3));
        if (f.max != no_limit) put_number(out, "maxLength", 4 * ((f.max + 2) / 3));
        // Exact where the least is one more than a multiple of three and the
        // most a multiple.
        if (!((f.min == 0 || f.min % 3 == 1) && (f.max == no_limit || f.max % 3 == 0))) {
            put_text(
                out, "$comment",
                "the data decodes to " + std::to_string(f.min) + " to " +
                    (f.max == no_limit ? std::string("any number of") : std::to_string(f.max)) +
                    " bytes; the lengths say it to the group of three");
        }
    }
}

// ---- constants, addresses, dates -----------------------------------------

void json_out_constant(const value_form& f, std::string_view, std::string& out) {
    append_string(out, f.text);
}
bool json_in_constant(const value_form& f, const document& d, const node& n, bool,
                      std::string& text, std::string& why) {
    if (n.type() != node_type::string || d.string_of(n) != f.text) {
        std::string quoted;
        append_string(quoted, f.text);
        why = "expected the constant " + quoted;
        return false;
    }
    text += f.text;
    return true;
}
void json_schema_constant(const value_form& f, std::string& out) {
    out += "{\"const\":";
    append_string(out, f.text);
}

void json_out_oid(const value_form&, std::string_view text, std::string& out) {
    append_string(out, text);
}
bool json_in_oid(const value_form&, const document& d, const node& n, bool, std::string& text,
                 std::string& why) {
    return plain_string(d, n, "an object identifier", text, why);
}
void json_schema_oid(const value_form&, std::string& out) {
    string_schema(out, "^(0*[01]~0*[1-3]?[0-9]|0*2~[0-9]+)(~[0-9]+)*$");
}

void json_out_ipv4(const value_form&, std::string_view text, std::string& out) {
    append_string(out, text);
}
bool json_in_ipv4(const value_form&, const document& d, const node& n, bool, std::string& text,
                  std::string& why) {
    return plain_string(d, n, "an IPv4 address", text, why);
}
void json_schema_ipv4(const value_form&, std::string& out) {
    const std::string octet = "(25[0-5]|2[0-4][0-9]|[01][0-9][0-9]|[0-9][0-9]?)";
    string_schema(out, "^(" + octet + "\\.){3}" + octet + "$");
}

void json_out_ipv6(const value_form&, std::string_view text, std::string& out) {
    append_string(out, text);
}
bool json_in_ipv6(const value_form&, const document& d, const node& n, bool, std::string& text,
                  std::string& why) {
    return plain_string(d, n, "an IPv6 address", text, why);
}
void json_schema_ipv6(const value_form&, std::string& out) {
    const std::string h = "[0-9A-Fa-f]{1,4}";
    const std::string pattern = "^((" + h + ":){7}" + h + "|(" + h + ":){1,7}:|(" + h +
                                ":){1,6}:" + h + "|(" + h + ":){1,5}(:" + h + "){1,2}|(" + h +
                                ":){1,4}(:" + h + "){1,3}|(" + h + ":){1,3}(:" + h + "){1,4}|(" +
                                h + ":){1,2}(:" + h + "){1,5}|" + h + ":(:" + h +
                                "){1,6}|:((:" + h + "){1,7}|:))$";
    string_schema(out, pattern);
}

void json_out_date(const value_form&, std::string_view text, std::string& out) {
    append_string(out, text);
}
bool json_in_date(const value_form&, const document& d, const node& n, bool, std::string& text,
                  std::string& why) {
    return plain_string(d, n, "a date", text, why);
}
void json_schema_date(const value_form&, std::string& out) {
    string_schema(out, "^[0-9]{4}-(0[1-9]|1[0-2])-(0[1-9]|[12][0-9]|3[01])$");
    put_text(out, "$comment",
             "whether the day exists in its month and year (no 2023-02-29) is checked by the "
             "converter, not by this schema");
}

void json_out_time(const value_form&, std::string_view text, std::string& out) {
    append_string(out, text);
}
bool json_in_time(const value_form&, const document& d, const node& n, bool, std::string& text,
                  std::string& why) {
    return plain_string(d, n, "a time", text, why);
}
void json_schema_time(const value_form&, std::string& out) {
    string_schema(out, "^([01][0-9]|2[0-3]):[0-5][0-9]:([0-5][0-9]|60)$");
}

const form_functions functions[] = {
#define QRV_FORM(form, ...) {&json_out_##form, &json_in_##form, &json_schema_##form},
#include "encoding/kinds.def"
#undef QRV_FORM
};
static_assert(sizeof functions / sizeof functions[0] == form_count);

}  // namespace

const form_functions& functions_of(value_kind k) { return functions[static_cast<std::size_t>(k)]; }

std::string base64_encode(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const auto v = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i]) << 16 |
                                                  static_cast<unsigned char>(bytes[i + 1]) << 8 |
                                                  static_cast<unsigned char>(bytes[i + 2]));
        out += base64_alphabet[v >> 18];
        out += base64_alphabet[(v >> 12) & 63];
        out += base64_alphabet[(v >> 6) & 63];
        out += base64_alphabet[v & 63];
    }
    const std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        std::uint32_t v = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
        if (rest == 2)
            v |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
        out += base64_alphabet[v >> 18];
        out += base64_alphabet[(v >> 12) & 63];
        out += rest == 2 ? base64_alphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

bool base64_decode(std::string_view text, std::string& bytes) {
    if (text.size() % 4 != 0) return false;
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        const int pads = text[i + 3] == '=' ? (text[i + 2] == '=' ? 2 : 1) : 0;
        if (pads > 0 && !last) return false;
        std::uint32_t v = 0;
        for (int k = 0; k < 4 - pads; ++k) {
            const int b = base64_value(text[i + static_cast<std::size_t>(k)]);
            if (b < 0) return false;
            v = v << 6 | static_cast<std::uint32_t>(b);
        }
        v <<= 6 * pads;
        bytes += static_cast<char>(v >> 16);
        if (pads < 2) bytes += static_cast<char>((v >> 8) & 0xFF);
        if (pads < 1) bytes += static_cast<char>(v & 0xFF);
    }
    return true;
}

}  // namespace qrv::json
