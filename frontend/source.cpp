// Source files: a file is read whole, leading text up to a `pavex*/`
// marker line is skipped, and the modules of the file are parsed one after
// another. Then the file's directive file (the path with "cfg" appended)
// sets flags and prefixes on what was read.
#include "frontend/source.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "frontend/doc_comments.h"
#include "frontend/lexer.h"
#include "frontend/parser.h"
#include "support/diagnostics.h"
#include "support/read_file.h"
#include "support/source_positions.h"

namespace qrv {

namespace {

// The end of the line that starts at `pos`: after its line feed, or at the
// end of the text. Lines have any length.
std::size_t line_end(std::string_view data, std::size_t pos) {
    const std::size_t feed = data.find('\n', pos);
    return feed == std::string_view::npos ? data.size() : feed + 1;
}

bool is_blank(char c) { return c != '\n' && is_space(static_cast<unsigned char>(c)); }

// Where the definitions begin: after the first line whose first non-blank
// characters are `pavex*/`, or at the start when there is none. The text
// may be looked at in pieces; only the places where `pavex*/` stands are
// looked at closely.
class marker_search {
public:
    static constexpr std::string_view marker = "pavex*/";
    // Bytes kept from one piece for the next, so that a marker across two
    // pieces is found.
    static constexpr std::size_t carry_max = marker.size() - 1;

    // `data` holds the `carried` last bytes of the piece before and then
    // the new ones (none at the end of the text); `base` is the offset of
    // data[0]. True when the start is known: then it is in *start.
    bool look(std::string_view data, std::size_t carried, std::uint64_t base, bool at_end,
              std::uint64_t* start) {
        if (in_marker_line_ || at_end) {
            const std::size_t feed = data.find('\n', carried);
            if (!at_end && feed == std::string_view::npos) return false;
            *start = !in_marker_line_                 ? 0
                     : feed == std::string_view::npos ? base + data.size()
                                                      : base + feed + 1;
            return true;
        }
        for (std::size_t at = find_marker(data, 0); at != std::string_view::npos;
             at = find_marker(data, at + 1)) {
            std::size_t i = at;
            while (i > 0 && is_blank(data[i - 1])) --i;
            if (i == 0 ? !blank_before_ : data[i - 1] != '\n') continue;
            const std::size_t feed = data.find('\n', at);
            if (feed != std::string_view::npos) {
                *start = base + feed + 1;
                return true;
            }
            in_marker_line_ = true;
            return false;
        }
        // Whether only blanks stand since the last line feed before the
        // bytes carried into the next piece.
        std::size_t i = data.size() - std::min(carry_max, data.size());
        while (i > 0 && is_blank(data[i - 1])) --i;
        blank_before_ = i == 0 ? blank_before_ : data[i - 1] == '\n';
        return false;
    }

private:
    // The first marker at or after `from`. Its last character, '/', is
    // rare in a source (the first, 'p', is not): it is looked for first.
    static std::size_t find_marker(std::string_view data, std::size_t from) {
        constexpr std::size_t last = marker.size() - 1;
        for (std::size_t j = from + last; j < data.size(); ++j) {
            const void* slash = std::memchr(data.data() + j, '/', data.size() - j);
            if (slash == nullptr) break;
            j = static_cast<std::size_t>(static_cast<const char*>(slash) - data.data());
            if (data.compare(j - last, marker.size(), marker) == 0) return j - last;
        }
        return std::string_view::npos;
    }

    bool blank_before_ = true;     // only blanks since the last line feed before data[0]
    bool in_marker_line_ = false;  // a marker line was found; its end is sought
};

std::size_t skip_leading_text(std::string_view data) {
    marker_search search;
    std::uint64_t start = 0;
    if (!search.look(data, 0, 0, false, &start)) {
        const std::size_t carried = std::min(marker_search::carry_max, data.size());
        search.look(data.substr(data.size() - carried), carried, data.size() - carried, true,
                    &start);
    }
    return static_cast<std::size_t>(start);
}

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

namespace {

// The last module of the run's list: where the last file read left it
// while the list is the same, else found by a walk.
module_record* last_module(run_context& run) {
    if (run.modules == nullptr) return nullptr;
    module_record* last = run.modules;
    if (run.last_module != nullptr && run.last_module_of == run.modules) last = run.last_module;
    while (last->next != nullptr) last = last->next;
    return last;
}

void apply_directives(run_context& run, diagnostics& diag, module_record* first,
                      const char* source_path, const char* directive_path, std::string_view text);

// The lines of the file before its definitions start at `start`: the
// leading text up to its marker line (with file positions only; 0 when the
// text cannot be read again).
std::int64_t lines_before(diagnostics& diag, const char* path, std::uint64_t start) {
    if (!diag.file_positions || diag.sources == nullptr) return 0;
    std::int64_t lines = 0;
    return diag.sources->lines_before(path, start, &lines) ? lines : 0;
}

std::int64_t read_modules(run_context& run, diagnostics& diag, const char* path,
                          source_stream& stream, const std::string_view* directives) {
    const text path_text = make_text(run, path);
    // Where the counting of each module's lines starts in the file.
    std::int64_t line_offset = lines_before(diag, path, stream.base + stream.pos);
    module_record* last = last_module(run);
    module_record* first_read = nullptr;  // the first module of this file

    std::int64_t last_errors = 0;
    bool more = true;
    // A documentation run: where each module starts in the file.
    std::vector<module_lines> documented;
    std::int64_t doc_lines = 0;
    const std::size_t doc_start = stream.pos;
    if (run.docs != nullptr) {
        const auto begin = stream.data + stream.pos;
        doc_lines = std::count(stream.data, begin, '\n');
    }
    while (more) {
        module_record* module = new_module_record(run);
        module->name = text{};
        module->path = path_text;

        parse_state ps;
        ps.path = path;
        ps.line = 1;
        ps.line_offset = line_offset;
        ps.stream = &stream;
        ps.run = &run;
        ps.diag = &diag;
        ps.module = module;
        parse_body(ps, &module->elements);
        flush_pending_error(ps);
        if (diag.file_positions) run.module_line_offsets[module] = line_offset;
        if (run.docs != nullptr) documented.push_back({module, doc_lines});
        // The next module's first line is the one this module ended on.
        line_offset += ps.line - 1;
        doc_lines += ps.line - 1;

        // A module that yields no element and no plug statement leaves no
        // trace; one of plug statements alone is kept, for its plugs.
        if (module->elements != nullptr || module->plugs != nullptr) {
            (last == nullptr ? run.modules : last->next) = module;
            last = module;
            run.last_module = last;
            run.last_module_of = run.modules;
            if (first_read == nullptr) first_read = module;
        }
        last_errors = ps.error_count;
        more = !ps.last_module;
    }
    if (run.docs != nullptr) {
        const std::string_view whole(reinterpret_cast<const char*>(stream.data), stream.size);
        keep_doc_texts(run, path, whole, doc_start, documented);
    }

    if (directives != nullptr) {
        const std::string directive_path = std::string(path) + "cfg";
        apply_directives(run, diag, first_read, path, directive_path.c_str(), *directives);
    }
    return last_errors;
}

// A directive file that is missing, unreadable or not a regular file (a
// folder, a FIFO, a device) is absent.
bool read_directive_file(const char* path, std::string& text) {
    const std::string directive_path = std::string(path) + "cfg";
    return read_whole_file(directive_path.c_str(), text, file_kinds::regular_only);
}

}  // namespace

namespace {

// `keep`: the text cannot be read again (standard input, a FIFO) and is kept
// for the positions of its diagnostics.
std::int64_t read_text(run_context& run, diagnostics& diag, const char* path,
                       std::string_view source, const std::string_view* directives, bool keep) {
    if (keep && diag.file_positions && diag.sources != nullptr) diag.sources->keep(path, source);
    source_stream stream;
    stream.data = reinterpret_cast<const unsigned char*>(source.data());
    stream.size = source.size();
    stream.pos = skip_leading_text(source);
    return read_modules(run, diag, path, stream, directives);
}

}  // namespace

std::int64_t read_source_text(run_context& run, diagnostics& diag, const char* path,
                              std::string_view source, const std::string_view* directives) {
    return read_text(run, diag, path, source, directives, true);
}

std::int64_t read_source_file(run_context& run, diagnostics& diag, const char* path) {
    std::string source;
    if (!read_whole_file(path, source)) {
        report(diag, SEV_ERROR, "Unable to open file: %s", path);
        return 1;
    }
    // A regular file is read again, a line at a time, when a diagnostic
    // shows one: it is not kept.
    struct stat info {};
    const bool keep = ::stat(path, &info) != 0 || !S_ISREG(info.st_mode);
    std::string directives;
    const bool has_directives = read_directive_file(path, directives);
    const std::string_view text(directives);
    return read_text(run, diag, path, source, has_directives ? &text : nullptr, keep);
}

void read_directives_text(run_context& run, diagnostics& diag, const char* source_path,
                          const char* directive_path, std::string_view text) {
    apply_directives(run, diag, run.modules, source_path, directive_path, text);
}

namespace {

source_place directive_place(const char* path, std::int64_t line, std::string_view word) {
    source_place place;
    place.file = path;
    place.line = line;
    place.token = word;
    return place;
}

// The close names of a directive's item `path` that names nothing: the
// definitions of the module, or the members of the definition before the
// last '.'.
std::string item_help(run_context& run, diagnostics& diag, const module_record* module,
                      std::string_view path) {
    std::vector<std::string> names;
    const std::size_t dot = path.rfind('.');
    const element* chain = module != nullptr ? module->elements : nullptr;
    std::string prefix;
    if (dot != std::string_view::npos) {
        const element* parent = find_element(run, module, path.substr(0, dot));
        chain = parent != nullptr ? parent->children() : nullptr;
        prefix = std::string(path.substr(0, dot + 1));
    }
    for (const element* e = chain; e != nullptr; e = e->next()) {
        names.push_back(prefix + std::string(e->name().view()));
    }
    if (!may_suggest(diag, names.size())) return {};
    const std::vector<std::string_view> views(names.begin(), names.end());
    return did_you_mean(close_names(path, views));
}

// The directives of `text` for the modules of `source_path` from `first`
// on: those of the file just read start there (not at the start of the
// run's list, so that reading many files stays linear).
void apply_directives(run_context& run, diagnostics& diag, module_record* first,
                      const char* source_path, const char* directive_path, std::string_view text) {
    // The modules of this source file by name, the first of each name.
    const std::string_view path(source_path);
    std::unordered_map<std::string_view, module_record*> modules;
    module_record* current = nullptr;
    for (module_record* m = first; m != nullptr; m = m->next) {
        if (m->path.view() != path) continue;
        if (current == nullptr) current = m;
        modules.try_emplace(m->name.view(), m);
    }

    std::int64_t line = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        // A whole line is one directive; a zero byte ends its text.
        const std::size_t end = line_end(text, pos);
        std::string_view content = text.substr(pos, end - pos);
        content = content.substr(0, content.find('\0'));
        const std::vector<std::string_view> words = split_words(content);
        pos = end;
        ++line;
        if (words.empty() || words[0][0] == '#') continue;

        const std::string first(words[0]);
        if (first == "module") {
            // A line without a name names no module.
            const std::string name = words.size() > 1 ? std::string(words[1]) : std::string();
            auto found = words.size() > 1 ? modules.find(name) : modules.end();
            if (found == modules.end()) {
                std::string help;
                if (may_suggest(diag, modules.size())) {
                    std::vector<std::string_view> names;
                    for (const auto& [module_name, m] : modules) names.push_back(module_name);
                    help = did_you_mean(close_names(name, names));
                }
                report_place_f(diag, directive_place(directive_path, line, name), SEV_ERROR, help,
                               "Unable to locate module: %s", name.c_str());
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
                report_place_f(diag, directive_place(directive_path, line, first), SEV_WARNING, {},
                               "Incomplete directive specification: %s", first.c_str());
                continue;
            }
            element* item = find_element(run, current, words[0]);
            for (std::size_t i = 1; i < words.size(); ++i) {
                const std::string word(words[i]);
                if (item == nullptr) {
                    const std::string help = diag.file_positions && diag.suggestions_left > 0
                                                 ? item_help(run, diag, current, first)
                                                 : std::string();
                    report_place_f(diag, directive_place(directive_path, line, first), SEV_WARNING,
                                   help, "Unable to locate item: %s", first.c_str());
                } else if (word == "list") {
                    item->listed = true;
                } else if (word == "dynamic") {
                    item->dynamic = true;
                } else {
                    const std::vector<std::string_view> known = {"list", "dynamic"};
                    report_place_f(diag, directive_place(directive_path, line, word), SEV_WARNING,
                                   may_suggest(diag, known.size())
                                       ? did_you_mean(close_names(word, known))
                                       : std::string(),
                                   "Unrecognised configuration directive: %s", word.c_str());
                }
            }
        }
    }
}

}  // namespace

}  // namespace qrv
