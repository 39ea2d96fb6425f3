#include "support/source_positions.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "support/read_file.h"
#include "support/utf8.h"

namespace qrv {

namespace {

bool is_name_char(char c) {
    const auto u = static_cast<unsigned char>(c);
    return std::isalnum(u) != 0 || c == '-' || c == '_' || c == '.' || c == ':';
}

// Whether the '.' at `at` is one of two dots in a row (a range).
bool is_range_dots(std::string_view line, std::size_t at) {
    if (line[at] != '.') return false;
    return (at > 0 && line[at - 1] == '.') || (at + 1 < line.size() && line[at + 1] == '.');
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

// The length of the character at the start of `s` (not empty).
std::size_t char_length(std::string_view s) {
    if (static_cast<unsigned char>(s[0]) < 0x80) return 1;
    const std::size_t n = utf8_sequence_at(s).length;
    return n > 0 ? n : 1;
}

char fold(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

}  // namespace

std::int64_t column_of(std::string_view line, std::size_t offset) {
    return width_of(line.substr(0, std::min(offset, line.size()))) + 1;
}

std::int64_t width_of(std::string_view text) {
    std::int64_t chars = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        i += char_length(text.substr(i));
        ++chars;
    }
    return chars;
}

std::size_t find_token(std::string_view line, std::string_view token, std::size_t from) {
    if (token.empty()) return std::string_view::npos;
    for (std::size_t at = line.find(token, from); at != std::string_view::npos;
         at = line.find(token, at + 1)) {
        const bool starts = at == 0 || !is_name_char(line[at - 1]);
        const std::size_t end = at + token.size();
        const bool ends = end >= line.size() || !is_name_char(line[end]);
        if (starts && ends) return at;
    }
    return std::string_view::npos;
}

std::size_t token_start_before(std::string_view line, std::size_t offset) {
    offset = std::min(offset, line.size());
    if (offset == 0 || is_blank(line[offset - 1])) {
        std::size_t at = offset;
        while (at < line.size() && is_blank(line[at])) ++at;
        return at < line.size() ? at : offset;
    }
    std::size_t at = offset - 1;
    if (line[at] == '.' && at > 0 && line[at - 1] == '.') {
        // ".." and "...", one token.
        while (at > 0 && line[at - 1] == '.') --at;
        return at;
    }
    if (is_name_char(line[at])) {
        // A name or a number; ".." between two numbers parts them.
        while (at > 0 && is_name_char(line[at - 1]) && !is_range_dots(line, at - 1)) --at;
    }
    return at;
}

std::size_t token_length_at(std::string_view line, std::size_t at) {
    if (at >= line.size()) return 1;
    std::size_t end = at;
    if (line[at] == '.' && end + 1 < line.size() && line[at + 1] == '.') {
        while (end < line.size() && line[end] == '.') ++end;
        return end - at;
    }
    if (is_name_char(line[at])) {
        while (end < line.size() && is_name_char(line[end]) && !is_range_dots(line, end)) ++end;
        return std::max<std::size_t>(end - at, 1);
    }
    return char_length(line.substr(at));
}

std::size_t edit_distance(std::string_view a, std::string_view b) {
    // Optimal string alignment over three rows.
    const std::size_t n = b.size();
    std::vector<std::size_t> before(n + 1), previous(n + 1), current(n + 1);
    for (std::size_t j = 0; j <= n; ++j) previous[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        current[0] = i;
        for (std::size_t j = 1; j <= n; ++j) {
            const std::size_t cost = fold(a[i - 1]) == fold(b[j - 1]) ? 0 : 1;
            std::size_t best =
                std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + cost});
            if (i > 1 && j > 1 && fold(a[i - 1]) == fold(b[j - 2]) &&
                fold(a[i - 2]) == fold(b[j - 1])) {
                best = std::min(best, before[j - 2] + 1);
            }
            current[j] = best;
        }
        std::swap(before, previous);
        std::swap(previous, current);
    }
    std::size_t d = previous[n];
    // A name that differs in case only is one edit away, not none.
    if (d == 0 && a != b) d = 1;
    return d;
}

std::vector<std::string> close_names(std::string_view name,
                                     const std::vector<std::string_view>& candidates,
                                     std::size_t most) {
    std::vector<std::pair<std::size_t, std::string_view>> found;
    for (std::string_view c : candidates) {
        if (c == name || c.empty()) continue;
        const std::size_t longer = std::max(name.size(), c.size());
        const std::size_t limit = std::clamp<std::size_t>(longer / 3, 1, 3);
        // Lengths too far apart cannot be close: no table is filled.
        const std::size_t gap =
            name.size() > c.size() ? name.size() - c.size() : c.size() - name.size();
        if (gap > limit) continue;
        const std::size_t d = edit_distance(name, c);
        if (d <= limit) found.emplace_back(d, c);
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const auto& x, const auto& y) { return x.first < y.first; });
    std::vector<std::string> names;
    for (const auto& [d, c] : found) {
        if (std::find(names.begin(), names.end(), c) != names.end()) continue;
        names.emplace_back(c);
        if (names.size() == most) break;
    }
    return names;
}

std::string did_you_mean(const std::vector<std::string>& names) {
    if (names.empty()) return {};
    std::string text = "did you mean ";
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) text += i + 1 == names.size() ? " or " : ", ";
        text += '\'';
        text += names[i];
        text += '\'';
    }
    text += '?';
    return text;
}

void source_texts::keep(std::string_view path, std::string_view text) {
    source& s = sources_[std::string(path)];
    s.readable = true;
    s.text.assign(text);
    s.starts.clear();
    index(s);
}

source_texts::source* source_texts::find(std::string_view path) {
    auto at = sources_.find(path);
    if (at == sources_.end()) {
        source& s = sources_[std::string(path)];
        const std::string name(path);
        // Only a regular file is read again: a FIFO or a device would give
        // other bytes, or block.
        struct stat info {};
        s.readable = ::stat(name.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
                     read_whole_file(name.c_str(), s.text);
        if (s.readable) index(s);
        at = sources_.find(path);
    }
    return at->second.readable ? &at->second : nullptr;
}

void source_texts::index(source& s) {
    s.starts.push_back(0);
    for (std::size_t i = s.text.find('\n'); i != std::string::npos; i = s.text.find('\n', i + 1)) {
        s.starts.push_back(i + 1);
    }
}

bool source_texts::line(std::string_view path, std::int64_t line, std::string_view* text) {
    source* s = find(path);
    if (s == nullptr || line < 1 || static_cast<std::uint64_t>(line) > s->starts.size()) {
        return false;
    }
    const std::size_t begin = s->starts[static_cast<std::size_t>(line - 1)];
    std::size_t end = static_cast<std::size_t>(line) < s->starts.size()
                          ? s->starts[static_cast<std::size_t>(line)] - 1
                          : s->text.size();
    if (end > begin && s->text[end - 1] == '\r') --end;
    *text = std::string_view(s->text).substr(begin, end - begin);
    return true;
}

bool source_texts::locate(std::string_view path, std::uint64_t offset, std::int64_t* line,
                          std::size_t* byte) {
    source* s = find(path);
    if (s == nullptr || offset > s->text.size()) return false;
    const auto after =
        std::upper_bound(s->starts.begin(), s->starts.end(), static_cast<std::size_t>(offset));
    const auto index = static_cast<std::size_t>(after - s->starts.begin()) - 1;
    *line = static_cast<std::int64_t>(index) + 1;
    *byte = static_cast<std::size_t>(offset) - s->starts[index];
    return true;
}

}  // namespace qrv

namespace qrv {

bool source_texts::lines_before(std::string_view path, std::uint64_t offset, std::int64_t* count) {
    const auto known = sources_.find(path);
    if (known != sources_.end()) {
        std::size_t byte = 0;
        return locate(path, offset, count, &byte) && (--*count, true);
    }
    const std::string name(path);
    struct stat info {};
    if (::stat(name.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    std::FILE* f = std::fopen(name.c_str(), "rb");
    if (f == nullptr) return false;
    char buffer[16384];
    std::uint64_t left = offset;
    std::int64_t lines = 0;
    while (left > 0) {
        const std::size_t n =
            std::fread(buffer, 1, std::min<std::uint64_t>(left, sizeof buffer), f);
        if (n == 0) break;
        lines += std::count(buffer, buffer + n, '\n');
        left -= n;
    }
    std::fclose(f);
    if (left > 0) return false;
    *count = lines;
    return true;
}

}  // namespace qrv
