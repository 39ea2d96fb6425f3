// The scanner's own reading: white space and comments, how failures are
// told, and extension parameters. The simple values are read in
// encoding/value_reader.cpp.
#include <algorithm>
#include <cstdint>

#include "encoding/message_bytes.h"
#include "encoding/value_reader.h"
#include "support/utf8.h"

namespace qrv {

using namespace message_bytes;

std::string quote_text(std::string_view text) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out = "\"";
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c >= 0x20 && c <= 0x7E) {
            out += ch;
        } else {
            out += "\\x";
            out += digits[c >> 4];
            out += digits[c & 0xF];
        }
    }
    out += '"';
    return out;
}

std::string join_alternatives(const std::vector<std::string>& items) {
    constexpr std::size_t handful = 5;
    std::string out;
    const std::size_t shown = std::min(items.size(), handful);
    for (std::size_t i = 0; i < shown; ++i) {
        if (i > 0) out += i + 1 == shown && items.size() <= handful ? " or " : ", ";
        out += items[i];
    }
    if (items.size() > handful) out += ", ...";
    return out;
}

// ---- white space and comments ------------------------------------------

std::size_t scanner::comment_end(std::size_t at) {
    if (at + 1 >= in_.size() || in_[at] != '/') return 0;
    const std::size_t from = at + 2;
    if (in_[at + 1] == '*') {
        // Any text up to the first "*/". A search that found it at q (or
        // nothing) answers every later search that starts at or before q.
        const bool cached =
            c_from_ != SIZE_MAX && from >= c_from_ && (c_end_ == SIZE_MAX || from + 2 <= c_end_);
        if (!cached) {
            const std::size_t q = in_.find("*/", from);
            c_from_ = from;
            c_end_ = q == std::string_view::npos ? SIZE_MAX : q + 2;
        }
        return c_end_ == SIZE_MAX ? 0 : c_end_;
    }
    if (in_[at + 1] == '/') {
        // Tabs and visible ASCII (and DEL) up to a CR or LF, which ends it.
        const bool cached = line_from_ != SIZE_MAX && from >= line_from_ && from <= line_stop_;
        if (!cached) {
            std::size_t p = from;
            while (p < in_.size()) {
                const auto c = static_cast<unsigned char>(in_[p]);
                if (c != '\t' && (c < 0x20 || c > 0x7F)) break;
                ++p;
            }
            line_from_ = from;
            line_stop_ = p;
            line_ok_ = p < in_.size() && (in_[p] == '\r' || in_[p] == '\n');
        }
        return line_ok_ ? line_stop_ + 1 : 0;
    }
    return 0;
}

bool scanner::skip_ows() {
    const std::size_t start = pos;
    if (const int c = peek(); !is_space(c) && c != '/') return false;
    const auto known = blank_ends_.find(start);
    if (known != blank_ends_.end()) {
        pos = known->second;
        blank_from_ = start;
        blank_to_ = pos;
        return pos != start;
    }
    for (;;) {
        const int c = peek();
        if (is_space(c)) {
            ++pos;
        } else if (c == '/') {
            const std::size_t end = comment_end(pos);
            if (end == 0) break;
            pos = end;
        } else {
            break;
        }
    }
    constexpr std::size_t worth_keeping = 16;
    if (pos - start >= worth_keeping) blank_ends_.emplace(start, pos);
    blank_from_ = start;
    blank_to_ = pos;
    return pos != start;
}

bool scanner::skip_wsnc() {
    const std::size_t start = pos;
    while (is_space(peek())) ++pos;
    return pos != start;
}

bool scanner::looks_at(std::string_view text) const { return looks_at_from(pos, text); }

bool scanner::looks_at_from(std::size_t at, std::string_view text) const {
    if (in_.size() - std::min(at, in_.size()) < text.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (fold_case(static_cast<unsigned char>(in_[at + i])) !=
            fold_case(static_cast<unsigned char>(text[i]))) {
            return false;
        }
    }
    return true;
}

std::size_t scanner::constant_at(std::string_view text) const {
    if (looks_at(text)) return pos;
    // A constant that begins with white space: the white space skipped
    // just before may be where it begins (the grammar lets either take
    // the blanks).
    if (text.empty() || !is_space(static_cast<unsigned char>(text[0])) || blank_to_ != pos) {
        return npos;
    }
    for (std::size_t at = blank_from_; at < pos; ++at) {
        if (looks_at_from(at, text)) return at;
    }
    return npos;
}

std::size_t scanner::digits_at(std::size_t at) const {
    std::size_t p = at;
    while (p < in_.size() && is_digit(static_cast<unsigned char>(in_[p]))) ++p;
    return p - at;
}

// ---- failures --------------------------------------------------------------

bool scanner::fail(std::size_t at, std::string message) {
    if (!failure) failure = scan_failure{at, std::move(message)};
    return false;
}

std::string scanner::found_at(std::size_t at) const {
    if (at >= in_.size()) return "end of message";
    const auto c = static_cast<unsigned char>(in_[at]);
    if (c >= 0x80 || (c < 0x20 && !is_space(c))) return hex_byte(c);
    std::size_t n = 1;
    if (is_safe(c)) {
        while (at + n < in_.size() && n < 16 && is_safe(static_cast<unsigned char>(in_[at + n]))) {
            ++n;
        }
    }
    std::string out = quote_text(in_.substr(at, n));
    if (n == 16 && at + n < in_.size() && is_safe(static_cast<unsigned char>(in_[at + n]))) {
        out.insert(out.size() - 1, "...");
    }
    return out;
}

bool scanner::fail_expected(std::size_t at, const std::vector<std::string>& expected) {
    return fail(at, "expected " + join_alternatives(expected) + ", found " + found_at(at));
}

// ---- extension parameters --------------------------------------------------

bool scanner::can_begin_extension() const {
    const int c = peek();
    return (c >= 0 && is_first_safe_char(static_cast<unsigned char>(c))) || c == '\'' || c == '"' ||
           c == '[' || c == '{' || c == '(';
}

bool scanner::read_extension_base64() {
    // "[" OWSNC base64-line *( WSNC base64-line ) OWSNC "]"
    ++pos;
    skip_wsnc();
    for (;;) {
        std::uint64_t groups = 0, pads = 0;
        bool padded = false;
        if (!is_b64(peek())) return fail_expected(pos, {"a Base64 group"});
        while (is_b64(peek()) && groups < base64_groups_per_line && !padded) {
            if (!read_base64_group(false, padded, pads)) return false;
            ++groups;
        }
        const bool spaced = skip_wsnc();
        if (peek() == ']') {
            ++pos;
            return true;
        }
        if (!spaced) return fail_expected(pos, {"white space", "\"]\""});
    }
}

bool scanner::read_extension_param() {
    param_starts_.clear();
    auto keep = [this](param_result r) {
        if (!remember_params_) return;
        for (std::size_t start : param_starts_) param_ends_.emplace(start, r);
    };
    for (;;) {
        if (remember_params_) {
            const auto known = param_ends_.find(pos);
            if (known != param_ends_.end()) {
                const param_result r = known->second;
                keep(r);
                if (r.end == SIZE_MAX) {
                    const scan_failure& f = param_failures_[r.failure];
                    return fail(f.offset, f.message);
                }
                pos = r.end;
                return true;
            }
            param_starts_.push_back(pos);
        }
        if (!read_extension_group()) {
            if (remember_params_ && failure) {
                param_failures_.push_back(*failure);
                keep({SIZE_MAX, param_failures_.size() - 1});
            }
            return false;
        }
        const std::size_t end = pos;
        skip_ows();
        if (peek() != ',') {
            pos = end;
            keep({end, 0});
            return true;
        }
        ++pos;
        skip_ows();
    }
}

bool scanner::read_extension_group() {
    // Each open brace or parenthesis of the group, innermost last.
    std::vector<char> closers;
    bool want_value = true;
    for (;;) {
        if (want_value) {
            // *( extension-tag EQUAL ) extension-any-value
            const int c = peek();
            if (c >= 0 && is_first_safe_char(static_cast<unsigned char>(c))) {
                const std::size_t word = pos;
                while (is_safe(peek())) ++pos;
                const std::size_t word_end = pos;
                skip_ows();
                if (peek() == '=') {
                    // The word was a tag.
                    if (!is_first_tag_char(static_cast<unsigned char>(in_[word])) ||
                        word_end - word > max_extension_tag) {
                        return fail(word,
                                    "expected an extension tag (63 characters at most, "
                                    "not starting with a digit or \"-\"), found " +
                                        found_at(word));
                    }
                    ++pos;
                    skip_ows();
                    continue;
                }
                pos = word_end;
            } else if (c == '\'' || c == '"') {
                std::uint64_t count = 0;
                if (!read_quoted(c, count)) return false;
            } else if (c == '[') {
                if (!read_extension_base64()) return false;
            } else if (c == '{' || c == '(') {
                closers.push_back(c == '{' ? '}' : ')');
                ++pos;
                skip_ows();
                continue;
            } else {
                return fail_expected(pos, {"an extension value"});
            }
            want_value = false;
        }
        // After a value: the end of the group outside braces; inside, a
        // comma and more, the end of a brace, or the next parameter.
        if (closers.empty()) return true;
        const bool spaced = skip_ows();
        if (peek() == ',') {
            ++pos;
            skip_ows();
            want_value = true;
            continue;
        }
        if (peek() == closers.back()) {
            ++pos;
            closers.pop_back();
            continue;
        }
        if (spaced && can_begin_extension()) {
            want_value = true;
            continue;
        }
        return fail_expected(
            pos, {"\",\"", quote_text(std::string(1, closers.back())), "an extension parameter"});
    }
}

}  // namespace qrv
