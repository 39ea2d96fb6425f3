#include "frontend/doc_comments.h"

#include <algorithm>

namespace qrv {

namespace {

bool is_blank_char(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view trim(std::string_view s) {
    while (!s.empty() && (is_blank_char(s.front()) || s.front() == '\n')) s.remove_prefix(1);
    while (!s.empty() && (is_blank_char(s.back()) || s.back() == '\n')) s.remove_suffix(1);
    return s;
}

// The text of a line comment after its "//": further slashes and one blank
// go.
std::string_view line_comment_text(std::string_view body) {
    while (!body.empty() && body.front() == '/') body.remove_prefix(1);
    if (!body.empty() && body.front() == ' ') body.remove_prefix(1);
    while (!body.empty() && (body.back() == '\r' || is_blank_char(body.back()))) {
        body.remove_suffix(1);
    }
    return body;
}

// The text between "/*" and "*/": each line without its indentation and a
// leading "*".
std::string block_comment_text(std::string_view body) {
    std::string out;
    std::size_t pos = 0;
    while (pos <= body.size()) {
        std::size_t end = body.find('\n', pos);
        if (end == std::string_view::npos) end = body.size();
        std::string_view line = body.substr(pos, end - pos);
        while (!line.empty() && is_blank_char(line.front())) line.remove_prefix(1);
        if (!line.empty() && line.front() == '*' && (line.size() == 1 || line[1] != '/')) {
            line.remove_prefix(1);
            if (!line.empty() && line.front() == ' ') line.remove_prefix(1);
        }
        while (!line.empty() && is_blank_char(line.back())) line.remove_suffix(1);
        if (!out.empty() || !line.empty()) {
            out.append(line);
            out += '\n';
        }
        pos = end + 1;
    }
    return std::string(trim(out));
}

// Where the block comment whose "/*" ends before `pos` ends (after its
// closing "/"), as the lexer reads it: "/**" ends only at "pavex*/";
// others nest, and "**/" ends them at any depth. The end of the text ends
// either.
std::size_t block_comment_end(std::string_view s, std::size_t pos, std::size_t* body_end) {
    if (pos < s.size() && s[pos] == '*') {
        const std::size_t at = s.find("pavex*/", pos + 1);
        if (at == std::string_view::npos) return *body_end = s.size();
        *body_end = at;
        return at + 7;
    }
    int depth = 1;
    std::size_t i = pos;
    while (i + 1 < s.size()) {
        if (s[i] == '/' && s[i + 1] == '*') {
            ++depth;
            i += 2;
        } else if (s[i] == '*' && s[i + 1] == '*' && i + 2 < s.size() && s[i + 2] == '/') {
            *body_end = i;
            return i + 3;
        } else if (s[i] == '*' && s[i + 1] == '/') {
            if (--depth == 0) {
                *body_end = i;
                return i + 2;
            }
            i += 2;
        } else {
            ++i;
        }
    }
    return *body_end = s.size();
}

}  // namespace

std::unordered_map<std::int64_t, std::string> comment_blocks(std::string_view s, std::size_t start,
                                                             std::int64_t first_line) {
    std::unordered_map<std::int64_t, std::string> blocks;
    std::int64_t line = first_line;
    bool code_on_line = false;  // something other than a comment stands before, on this line
    bool pending = false;       // a block is open
    std::int64_t pending_end = 0;
    std::string text;

    auto add = [&](std::string_view piece, std::int64_t began, std::int64_t ended) {
        if (code_on_line) return;  // a comment after code belongs to the code
        if (!pending || began > pending_end + 1) {
            text.clear();
            pending = true;
        } else if (!text.empty()) {
            text += '\n';  // an empty comment line stays: it parts paragraphs
        }
        text.append(piece);
        pending_end = ended;
    };

    std::size_t i = start;
    while (i < s.size()) {
        const char c = s[i];
        if (c == '\n') {
            ++line;
            code_on_line = false;
            if (pending && line > pending_end + 1) pending = false;
            ++i;
        } else if (is_blank_char(c)) {
            ++i;
        } else if (c == '/' && i + 1 < s.size() && s[i + 1] == '/') {
            std::size_t end = s.find('\n', i);
            if (end == std::string_view::npos) end = s.size();
            add(line_comment_text(s.substr(i + 2, end - i - 2)), line, line);
            i = end;
        } else if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') {
            std::size_t body_end = 0;
            const std::size_t end = block_comment_end(s, i + 2, &body_end);
            const std::int64_t began = line;
            const auto lines = std::count(s.begin() + static_cast<std::ptrdiff_t>(i),
                                          s.begin() + static_cast<std::ptrdiff_t>(end), '\n');
            line += lines;
            add(block_comment_text(s.substr(i + 2, body_end - i - 2)), began, line);
            i = end;
        } else {
            if (pending && !code_on_line && line <= pending_end + 1 && !text.empty()) {
                blocks.try_emplace(line, text);
            }
            pending = false;
            code_on_line = true;
            ++i;
        }
    }
    return blocks;
}

void keep_doc_texts(run_context& run, const char* path, std::string_view source, std::size_t start,
                    const std::vector<module_lines>& read) {
    doc_notes& docs = *run.docs;
    // The leading text without its marker line.
    std::string_view leading = source.substr(0, start);
    if (!leading.empty()) {
        leading.remove_suffix(1);  // the marker line's line feed
        const std::size_t feed = leading.rfind('\n');
        leading = feed == std::string_view::npos ? std::string_view() : leading.substr(0, feed);
    }
    docs.file_texts.emplace_back(path, std::string(trim(leading)));

    const std::int64_t lines_before_start =
        std::count(source.begin(), source.begin() + static_cast<std::ptrdiff_t>(start), '\n');
    std::unordered_map<std::int64_t, std::string> blocks =
        comment_blocks(source, start, lines_before_start + 1);
    if (blocks.empty()) return;

    // Every element in source order, a declaration before its members: the
    // first declaration on a line takes the comment before the line.
    std::vector<const element*> stack;
    for (const module_lines& m : read) {
        for (const plug_record* p = m.module->plugs; p != nullptr; p = p->next) {
            if (p->elements != nullptr) stack.push_back(p->elements);
        }
        if (m.module->elements != nullptr) stack.push_back(m.module->elements);
        while (!stack.empty()) {
            const element* e = stack.back();
            stack.pop_back();
            if (e->next() != nullptr) stack.push_back(e->next());
            if (e->children() != nullptr) stack.push_back(e->children());
            const auto found = blocks.find(m.lines_before + e->line());
            if (found == blocks.end()) continue;
            docs.comments.try_emplace(e->id, std::move(found->second));
            blocks.erase(found);
        }
    }
}

}  // namespace qrv
