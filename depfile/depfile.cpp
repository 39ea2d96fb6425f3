#include "depfile/depfile.h"

#include <cstdio>
#include <unordered_set>

#include "qrvutil/atomic_file.h"
#include "qrvutil/diagnostics.h"

namespace qrv {

std::string make_escaped(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    std::size_t backslashes = 0;  // directly before the current character
    for (const char c : name) {
        switch (c) {
            case ' ':
            case '\t':
                // 2N+1 backslashes before a blank stand for N backslashes
                // and the blank.
                out.append(backslashes + 1, '\\');
                break;
            case '#': out += '\\'; break;
            case '$': out += '$'; break;
            default: break;
        }
        out += c;
        backslashes = c == '\\' ? backslashes + 1 : 0;
    }
    return out;
}

std::optional<std::string> depfile_text(std::string_view target,
                                        const std::vector<std::string>& prerequisites) {
    const auto has_line_break = [](std::string_view s) {
        return s.find_first_of("\r\n") != std::string_view::npos;
    };
    if (has_line_break(target)) return std::nullopt;

    std::vector<std::string> listed;
    std::unordered_set<std::string_view> seen;
    for (const std::string& p : prerequisites) {
        if (has_line_break(p)) return std::nullopt;
        if (seen.insert(p).second) listed.push_back(make_escaped(p));
    }

    std::string text = make_escaped(target) + ":";
    for (const std::string& p : listed) text += " \\\n  " + p;
    text += "\n";
    for (const std::string& p : listed) text += "\n" + p + ":\n";
    return text;
}

bool write_depfile(run_context& run, const char* path, std::string_view target,
                   const std::vector<std::string>& prerequisites) {
    const std::optional<std::string> text = depfile_text(target, prerequisites);
    if (!text) {
        error_note(run, "error: A file name with a line break cannot stand in a dependency file\n");
        return false;
    }
    // Replaced whole or not at all, like the grammar.
    atomic_file file;
    bool ok = file.open(path) &&
              std::fwrite(text->data(), 1, text->size(), file.stream()) == text->size();
    ok = ok && file.commit();
    if (!ok) {
        error_note(run, "error: Unable to write dependency file: %s\n", path);
    }
    return ok;
}

}  // namespace qrv
