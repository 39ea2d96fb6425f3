#include "json/json_text.h"

#include <algorithm>
#include <tuple>

#include "support/utf8.h"

namespace qrv::json {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The four hex digits at `at`, or -1.
long hex4(std::string_view s, std::size_t at) {
    if (at + 4 > s.size()) return -1;
    long v = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        const int h = hex_value(s[at + i]);
        if (h < 0) return -1;
        v = v * 16 + h;
    }
    return v;
}

void append_utf8(std::string& out, unsigned long cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// The length of the number at `at`, 0 when none stands there.
std::size_t number_length(std::string_view s, std::size_t at) {
    std::size_t p = at;
    if (p < s.size() && s[p] == '-') ++p;
    if (p >= s.size() || !is_digit(s[p])) return 0;
    if (s[p] == '0') {
        ++p;
    } else {
        while (p < s.size() && is_digit(s[p])) ++p;
    }
    if (p < s.size() && s[p] == '.') {
        if (p + 1 >= s.size() || !is_digit(s[p + 1])) return 0;
        p += 2;
        while (p < s.size() && is_digit(s[p])) ++p;
    }
    if (p < s.size() && (s[p] == 'e' || s[p] == 'E')) {
        std::size_t q = p + 1;
        if (q < s.size() && (s[q] == '+' || s[q] == '-')) ++q;
        if (q >= s.size() || !is_digit(s[q])) return 0;
        while (q < s.size() && is_digit(s[q])) ++q;
        p = q;
    }
    return p - at;
}

class reader {
public:
    reader(std::string_view text, std::vector<node>& nodes, read_error& error, const limits& l)
        : s_(text), nodes_(nodes), error_(error), limits_(l) {}

    bool read() {
        if (s_.size() > limits_.bytes) {
            return fail(0,
                        "the JSON text is larger than " + std::to_string(limits_.bytes) + " bytes");
        }
        // A value, then what may follow it in the innermost open array or
        // object.
        bool want_value = true;
        for (;;) {
            if (want_value) {
                skip();
                opened_ = false;
                if (!value()) return false;
                // A value opened an array or object that holds one: its
                // first value follows.
                want_value = opened_;
                continue;
            }
            if (open_.empty()) break;
            skip();
            const std::uint32_t c = open_.back().index;
            const bool object = nodes_[c].type() == node_type::object;
            if (pos_ < s_.size() && s_[pos_] == ',') {
                ++pos_;
                if (object && !key()) return false;
                want_value = true;
                continue;
            }
            if (pos_ < s_.size() && s_[pos_] == (object ? '}' : ']')) {
                ++pos_;
                open_.pop_back();
                continue;
            }
            return fail(pos_, object ? "expected \",\" or \"}\"" : "expected \",\" or \"]\"");
        }
        skip();
        if (pos_ < s_.size()) return fail(pos_, "expected the end of the JSON text");
        return true;
    }

private:
    struct container {
        std::uint32_t index;
        std::uint32_t last = 0;
    };

    bool fail(std::size_t at, std::string message) {
        error_.offset = at;
        error_.message = std::move(message);
        return false;
    }

    void skip() {
        while (pos_ < s_.size() && is_blank(s_[pos_])) ++pos_;
    }

    // One more member or element of `c`.
    bool count_one(node& c) {
        if (c.count() == node::most) return fail(pos_, "an array or object too large to keep");
        c.add_one();
        return true;
    }

    std::uint32_t add(node n) {
        const auto index = static_cast<std::uint32_t>(nodes_.size());
        nodes_.push_back(n);
        if (!open_.empty()) {
            container& c = open_.back();
            if (c.last == 0) {
                nodes_[c.index].first = index;
            } else {
                nodes_[c.last].next = index;
            }
            c.last = index;
        }
        return index;
    }

    // A key and its ":" in the innermost object.
    bool key() {
        skip();
        if (pos_ >= s_.size() || s_[pos_] != '"')
            return fail(pos_, "expected a member name in \"...\"");
        node n;
        if (!string(n)) return false;
        add(n);
        if (!count_one(nodes_[open_.back().index])) return false;
        skip();
        if (pos_ >= s_.size() || s_[pos_] != ':') return fail(pos_, "expected \":\"");
        ++pos_;
        return true;
    }

    bool value() {
        if (pos_ >= s_.size())
            return fail(pos_, "expected a JSON value, found the end of the text");
        node n;
        n.offset = static_cast<std::uint32_t>(pos_);
        const char c = s_[pos_];
        if (!open_.empty() && nodes_[open_.back().index].type() == node_type::array &&
            !count_one(nodes_[open_.back().index])) {
            return false;
        }
        if (c == '{' || c == '[') {
            if (open_.size() >= limits_.depth) {
                return fail(pos_, "the JSON text nests deeper than " +
                                      std::to_string(limits_.depth) + " arrays and objects");
            }
            const bool object = c == '{';
            n.set_type(object ? node_type::object : node_type::array);
            const std::uint32_t index = add(n);
            ++pos_;
            open_.push_back({index});
            skip();
            if (pos_ < s_.size() && s_[pos_] == (object ? '}' : ']')) {
                ++pos_;
                open_.pop_back();
                return true;
            }
            opened_ = true;
            return !object || key();
        }
        if (c == '"') {
            if (!string(n)) return false;
            add(n);
            return true;
        }
        for (const auto& [word, type, truth] :
             {std::tuple{std::string_view("true"), node_type::boolean, true},
              std::tuple{std::string_view("false"), node_type::boolean, false},
              std::tuple{std::string_view("null"), node_type::null, false}}) {
            if (s_.substr(pos_, word.size()) == word) {
                n.set_type(type);
                n.set_truth(truth);
                n.set_length(static_cast<std::uint32_t>(word.size()));
                pos_ += word.size();
                add(n);
                return true;
            }
        }
        const std::size_t length = number_length(s_, pos_);
        if (length == 0) return fail(pos_, "expected a JSON value");
        if (length > node::most) return fail(pos_, "a number too long to keep");
        n.set_type(node_type::number);
        n.set_length(static_cast<std::uint32_t>(length));
        pos_ += length;
        add(n);
        return true;
    }

    // A string at the position (its opening quote).
    bool string(node& n) {
        n.set_type(node_type::string);
        n.offset = static_cast<std::uint32_t>(pos_);
        const std::size_t start = ++pos_;
        for (;;) {
            if (pos_ >= s_.size()) return fail(n.offset, "a string that does not end");
            const auto c = static_cast<unsigned char>(s_[pos_]);
            if (c == '"') break;
            if (c < 0x20)
                return fail(pos_, "a control character in a string (write it as \\u00XX)");
            if (c == '\\') {
                n.set_escaped();
                const char e = pos_ + 1 < s_.size() ? s_[pos_ + 1] : '\0';
                if (e == 'u') {
                    const long u = hex4(s_, pos_ + 2);
                    if (u < 0) return fail(pos_, "expected four hex digits after \\u");
                    if (u >= 0xDC00 && u <= 0xDFFF) {
                        return fail(pos_,
                                    "a low surrogate \\u escape without a high one before it");
                    }
                    if (u >= 0xD800 && u <= 0xDBFF) {
                        const long low = s_.substr(pos_ + 6, 2) == "\\u" ? hex4(s_, pos_ + 8) : -1;
                        if (low < 0xDC00 || low > 0xDFFF) {
                            return fail(pos_,
                                        "a high surrogate \\u escape without a low one after it");
                        }
                        pos_ += 6;
                    }
                    pos_ += 6;
                    continue;
                }
                if (e != '"' && e != '\\' && e != '/' && e != 'b' && e != 'f' && e != 'n' &&
                    e != 'r' && e != 't') {
                    return fail(pos_, "an escape JSON does not know");
                }
                pos_ += 2;
                continue;
            }
            if (c < 0x80) {
                ++pos_;
                continue;
            }
            const utf8_sequence u = utf8_sequence_at(s_.substr(pos_));
            if (u.length == 0) return fail(pos_ + u.bad_at, "a string that is not UTF-8");
            pos_ += u.length;
        }
        if (pos_ - start > node::most) return fail(n.offset, "a string too long to keep");
        n.set_length(static_cast<std::uint32_t>(pos_ - start));
        ++pos_;
        return true;
    }

    std::string_view s_;
    std::vector<node>& nodes_;
    read_error& error_;
    const limits& limits_;
    std::vector<container> open_;
    std::size_t pos_ = 0;
    bool opened_ = false;
};

}  // namespace

bool document::read(std::string_view text, read_error& error, const limits& limits) {
    text_ = text;
    nodes_.clear();
    // A node follows each of these outside strings, and one stands first:
    // counted, the nodes are kept without growing.
    if (text.size() <= limits.bytes) {
        std::size_t most = 1;
        for (std::size_t i = 0; i < text.size(); ++i) {
            const char c = text[i];
            if (c == '"') {
                for (++i; i < text.size() && text[i] != '"'; ++i) i += text[i] == '\\' ? 1 : 0;
            } else if (c == ',' || c == ':' || c == '[' || c == '{') {
                ++most;
            }
        }
        nodes_.reserve(most);
    }
    reader r(text, nodes_, error, limits);
    if (!r.read()) {
        nodes_.clear();
        return false;
    }
    return true;
}

std::string document::string_of(const node& n) const {
    const std::string_view s = raw(n);
    if (!n.escaped()) return std::string(s);
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\') {
            out += s[i];
            continue;
        }
        const char e = s[++i];
        switch (e) {
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                unsigned long cp = static_cast<unsigned long>(hex4(s, i + 1));
                i += 4;
                if (cp >= 0xD800 && cp <= 0xDBFF) {
                    const auto low = static_cast<unsigned long>(hex4(s, i + 3));
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    i += 6;
                }
                append_utf8(out, cp);
                break;
            }
            default: out += e; break;  // " \ /
        }
    }
    return out;
}

void position_of(std::string_view text, std::size_t offset, std::int64_t& line,
                 std::int64_t& column) {
    line = 1;
    std::size_t line_start = 0;
    const std::size_t end = std::min(offset, text.size());
    for (std::size_t i = 0; i < end; ++i) {
        if (text[i] == '\n') {
            ++line;
            line_start = i + 1;
        }
    }
    column = static_cast<std::int64_t>(end - line_start) + 1;
}

void append_string(std::string& out, std::string_view s) {
    static constexpr char hex[] = "0123456789abcdef";
    out += '"';
    std::size_t plain = 0;  // the start of the run not yet appended
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c >= 0x20 && c != '"' && c != '\\') continue;
        out.append(s.substr(plain, i - plain));
        plain = i + 1;
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            default:
                out += "\\u00";
                out += hex[c >> 4];
                out += hex[c & 0xF];
        }
    }
    out.append(s.substr(plain));
    out += '"';
}

std::string indented(std::string_view compact) {
    std::string out;
    out.reserve(compact.size() * 2);
    std::size_t depth = 0;
    const auto line = [&] {
        out += '\n';
        out.append(2 * depth, ' ');
    };
    for (std::size_t i = 0; i < compact.size(); ++i) {
        const char c = compact[i];
        if (c == '"') {
            // A string whole, its escapes with it.
            std::size_t j = i + 1;
            while (j < compact.size() && compact[j] != '"') j += compact[j] == '\\' ? 2 : 1;
            out.append(compact.substr(i, j + 1 - i));
            i = j;
        } else if (c == '{' || c == '[') {
            out += c;
            if (i + 1 < compact.size() && (compact[i + 1] == '}' || compact[i + 1] == ']')) {
                out += compact[++i];
                continue;
            }
            ++depth;
            line();
        } else if (c == '}' || c == ']') {
            --depth;
            line();
            out += c;
        } else if (c == ',') {
            out += c;
            line();
        } else if (c == ':') {
            out += ": ";
        } else {
            out += c;
        }
    }
    return out;
}

bool is_number(std::string_view s) { return !s.empty() && number_length(s, 0) == s.size(); }

bool hand_on(std::string& text, std::FILE* sink, bool& failed) {
    if (sink == nullptr) return true;
    if (!failed && std::fwrite(text.data(), 1, text.size(), sink) != text.size()) failed = true;
    text.clear();
    return !failed;
}

}  // namespace qrv::json
