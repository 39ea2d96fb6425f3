#include "depfile/depfile.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_set>

#include "support/atomic_file.h"
#include "support/diagnostics.h"

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
            case '#':
            case ':': out += '\\'; break;
            case '$': out += '$'; break;
            default: break;
        }
        out += c;
        backslashes = c == '\\' ? backslashes + 1 : 0;
    }
    return out;
}

depfile_name depfile_name_check(std::string_view name) {
    if (name.find_first_of("\r\n") != std::string_view::npos) return depfile_name::line_break;
    if (name.empty() || name.front() == '~') return depfile_name::unreadable;
    // A blank before the line's continuation is taken into it by make; a
    // ':' at the end ends the target to Ninja; a ')' at the end closes an
    // archive member to make, and a '(' in another name opens one.
    const char last = name.back();
    if (last == ' ' || last == ':' || last == ')' || last == '\\') return depfile_name::unreadable;
    bool bracket_open = false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (c < 0x20 || c == 0x7f) return depfile_name::unreadable;
        if (std::strchr("\"&'*;<>?^`|%=", c) != nullptr) return depfile_name::unreadable;
        if (c == '\\' && i + 1 < name.size() && std::strchr("#:$", name[i + 1]) != nullptr) {
            return depfile_name::unreadable;
        }
        if (c == '[') bracket_open = true;
        if (c == ']' && bracket_open) return depfile_name::unreadable;
    }
    return depfile_name::writable;
}

std::optional<std::string> depfile_text(std::string_view target,
                                        const std::vector<std::string>& prerequisites) {
    if (depfile_name_check(target) != depfile_name::writable) return std::nullopt;

    std::vector<std::string> listed;
    std::unordered_set<std::string_view> seen;
    for (const std::string& p : prerequisites) {
        if (depfile_name_check(p) != depfile_name::writable) return std::nullopt;
        if (seen.insert(p).second) listed.push_back(make_escaped(p));
    }

    std::string text = make_escaped(target) + ":";
    for (const std::string& p : listed) text += " \\\n  " + p;
    text += "\n";
    for (const std::string& p : listed) text += "\n" + p + ":\n";
    return text;
}

bool depfile_names_writable(diagnostics& diag, std::string_view target,
                            const std::vector<std::string>& prerequisites) {
    const auto check = [&diag](std::string_view name) {
        switch (depfile_name_check(name)) {
            case depfile_name::writable: return true;
            case depfile_name::line_break:
                error_note(diag,
                           "error: A file name with a line break cannot stand in a dependency "
                           "file\n");
                return false;
            case depfile_name::unreadable:
                error_note(diag,
                           "error: make and Ninja cannot both read this file name in a "
                           "dependency file: %s\n",
                           std::string(name).c_str());
                return false;
        }
        return false;
    };
    if (!check(target)) return false;
    for (const std::string& p : prerequisites) {
        if (!check(p)) return false;
    }
    return true;
}

bool write_depfile(diagnostics& diag, const char* path, std::string_view target,
                   const std::vector<std::string>& prerequisites) {
    if (!depfile_names_writable(diag, target, prerequisites)) return false;
    const std::optional<std::string> text = depfile_text(target, prerequisites);
    // Replaced whole or not at all, like the grammar.
    atomic_file file;
    bool ok = text && file.open(path) &&
              std::fwrite(text->data(), 1, text->size(), file.stream()) == text->size();
    ok = ok && file.commit();
    if (!ok) {
        error_note(diag, "error: Unable to write dependency file: %s\n", path);
    }
    return ok;
}

}  // namespace qrv
