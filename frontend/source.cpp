// Source files: the whole file is read into memory, leading text up to a
// `pavex*/` marker line is skipped, and the modules of the file are parsed
// one after another. Then the file's directive file (the path with "cfg"
// appended) sets flags and prefixes on what was read.
#include "frontend/source.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "frontend/lexer.h"
#include "frontend/parser.h"
#include "qrvutil/diagnostics.h"

namespace qrv {

namespace {

// Lines are examined in pieces of at most this many characters.
constexpr std::size_t max_line_piece = 255;

// Reads a whole file; false when it cannot be opened or read (a folder
// included).
bool read_whole_file(const char* path, std::string& out) {
    std::FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return false;
    out.clear();
    // Room for the whole of a regular file at once; the reads below go on
    // to the real end in any case.
    struct stat info {};
    if (::fstat(::fileno(f), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
        out.reserve(static_cast<std::size_t>(info.st_size));
    }
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out.append(buffer, n);
    const bool ok = std::ferror(f) == 0;
    std::fclose(f);
    return ok;
}

// The end of the line piece that starts at `pos`: at most 255 characters,
// ending after a line feed.
std::size_t piece_end(std::string_view data, std::size_t pos) {
    const std::size_t limit = std::min(data.size(), pos + max_line_piece);
    const void* feed = std::memchr(data.data() + pos, '\n', limit - pos);
    if (feed == nullptr) return limit;
    return static_cast<std::size_t>(static_cast<const char*>(feed) - data.data()) + 1;
}

// Where the definitions begin: after the whole line holding the first
// piece whose first non-blank characters are `pavex*/`, or at the start
// when there is none.
std::size_t skip_leading_text(std::string_view data) {
    std::size_t pos = 0;
    while (pos < data.size()) {
        const std::size_t end = piece_end(data, pos);
        std::size_t i = pos;
        while (i < end && is_space(static_cast<unsigned char>(data[i]))) ++i;
        if (data.substr(i, end - i).starts_with("pavex*/")) {
            std::size_t next = end;
            if (data[end - 1] != '\n') {
                const std::size_t feed = data.find('\n', end);
                next = feed == std::string_view::npos ? data.size() : feed + 1;
            }
            return next;
        }
        pos = end;
    }
    return 0;
}

// Lookups of the directive file: names in one member chain, hashed once per
// chain, with the results find_element gives.
class item_index {
public:
    element* find(module_record* module, std::string_view path) {
        if (module == nullptr) return nullptr;
        element* chain = module->elements;
        if (path.empty()) return chain;
        std::size_t pos = 0;
        for (;;) {
            const std::size_t dot = path.find('.', pos);
            const std::string_view name = path.substr(
                pos, dot == std::string_view::npos ? std::string_view::npos : dot - pos);
            if (name.size() > max_reference_length) return nullptr;
            element* found = lookup(chain, name);
            if (found == nullptr) return nullptr;
            if (dot == std::string_view::npos) return found;
            chain = found->children;
            pos = dot + 1;
            if (pos == path.size()) return chain;  // a trailing "." names the first member
        }
    }

private:
    element* lookup(element* chain, std::string_view name) {
        if (chain == nullptr) return nullptr;
        auto [it, added] = chains_.try_emplace(chain);
        if (added) {
            for (element* e = chain; e != nullptr; e = e->next)
                it->second.try_emplace(e->name.view(), e);
        }
        auto hit = it->second.find(name);
        return hit == it->second.end() ? nullptr : hit->second;
    }

    std::unordered_map<element*, std::unordered_map<std::string_view, element*>> chains_;
};

std::vector<std::string_view> split_words(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t i = 0;
    auto separator = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (i < line.size()) {
        while (i < line.size() && separator(line[i])) ++i;
        const std::size_t start = i;
        while (i < line.size() && !separator(line[i])) ++i;
        if (i > start) words.push_back(line.substr(start, i - start));
    }
    return words;
}

}  // namespace

int read_source_text(run_context& run, const char* path, std::string_view source,
                     const std::string_view* directives) {
    source_stream stream;
    stream.data = reinterpret_cast<const unsigned char*>(source.data());
    stream.size = source.size();
    stream.pos = skip_leading_text(source);

    const text path_text = make_text(run, path);
    module_record** tail = &run.modules;
    while (*tail != nullptr) tail = &(*tail)->next;

    int last_errors = 0;
    bool more = true;
    while (more) {
        module_record* module = new_module_record(run);
        module->name = text{};
        module->path = path_text;

        parse_state ps;
        ps.path = path;
        ps.line = 1;
        ps.stream = &stream;
        ps.run = &run;
        ps.module = module;
        parse_body(ps, &module->elements);

        // A module that yields no element leaves no trace.
        if (module->elements != nullptr) {
            *tail = module;
            tail = &module->next;
        }
        last_errors = ps.error_count;
        more = !ps.last_module;
    }

    if (directives != nullptr) {
        const std::string directive_path = std::string(path) + "cfg";
        read_directives_text(run, path, directive_path.c_str(), *directives);
    }
    return last_errors;
}

int read_source_file(run_context& run, const char* path) {
    std::string source;
    if (!read_whole_file(path, source)) {
        report(run, SEV_ERROR, "Unable to open file: %s", path);
        return 1;
    }
    // A directive file that is missing, a folder or unreadable is absent.
    std::string directives;
    const std::string directive_path = std::string(path) + "cfg";
    if (read_whole_file(directive_path.c_str(), directives)) {
        const std::string_view text(directives);
        return read_source_text(run, path, source, &text);
    }
    return read_source_text(run, path, source, nullptr);
}

void read_directives(run_context& run, const char* source_path) {
    std::string directives;
    const std::string directive_path = std::string(source_path) + "cfg";
    if (!read_whole_file(directive_path.c_str(), directives)) return;
    read_directives_text(run, source_path, directive_path.c_str(), directives);
}

void read_directives_text(run_context& run, const char* source_path, const char* directive_path,
                          std::string_view text) {
    // The modules of this source file by name, the first of each name.
    const std::string_view path(source_path);
    std::unordered_map<std::string_view, module_record*> modules;
    module_record* current = nullptr;
    for (module_record* m = run.modules; m != nullptr; m = m->next) {
        if (m->path.view() != path) continue;
        if (current == nullptr) current = m;
        modules.try_emplace(m->name.view(), m);
    }

    item_index items;
    int line = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = piece_end(text, pos);
        const std::vector<std::string_view> words = split_words(text.substr(pos, end - pos));
        pos = end;
        ++line;
        if (words.empty() || words[0][0] == '#') continue;

        const std::string first(words[0]);
        if (first == "module") {
            // A line without a name names no module.
            const std::string name = words.size() > 1 ? std::string(words[1]) : std::string();
            auto found = words.size() > 1 ? modules.find(name) : modules.end();
            if (found == modules.end()) {
                report_at(run, directive_path, line, SEV_ERROR, "Unable to locate module: %s",
                          name.c_str());
                return;
            }
            current = found->second;
        } else if (first == "-prefix") {
            if (current != nullptr && words.size() > 1 &&
                is_letter(static_cast<unsigned char>(words[1][0]))) {
                current->prefix = make_text(run, words[1]);
                current->has_prefix = true;
            }
        } else if (is_letter(static_cast<unsigned char>(first[0]))) {
            if (words.size() == 1) {
                report_at(run, directive_path, line, SEV_WARNING,
                          "Incomplete directive specification: %s", first.c_str());
                continue;
            }
            element* item = items.find(current, words[0]);
            for (std::size_t i = 1; i < words.size(); ++i) {
                const std::string word(words[i]);
                if (item == nullptr) {
                    report_at(run, directive_path, line, SEV_WARNING, "Unable to locate item: %s",
                              first.c_str());
                } else if (word == "list") {
                    item->listed = true;
                } else if (word == "dynamic") {
                    item->dynamic = true;
                } else {
                    report_at(run, directive_path, line, SEV_WARNING,
                              "Unrecognised configuration directive: %s", word.c_str());
                }
            }
        }
    }
}

}  // namespace qrv
