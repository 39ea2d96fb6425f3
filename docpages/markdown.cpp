// The reference as GitHub-flavoured Markdown: the same sections as the
// page, without diagrams, the examples in fenced blocks.
#include <string>

#include "docpages/docpages.h"

namespace qrv {

namespace {

// Text in a Markdown paragraph or table cell: the characters that would
// start markup are escaped, and a cell keeps to one line.
void md_text(std::string& out, std::string_view s, bool cell) {
    for (char c : s) {
        switch (c) {
            case '\\':
            case '`':
            case '*':
            case '_':
            case '[':
            case ']':
            case '<':
            case '>':
            case '#':
            case '|':
                out += '\\';
                out += c;
                break;
            case '\n': out += cell ? " " : "\n"; break;
            default: out += c;
        }
    }
}

std::string fence_for(std::string_view text) {
    // Longer than any run of backticks in the text.
    std::size_t longest = 0;
    std::size_t run = 0;
    for (char c : text) {
        run = c == '`' ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return std::string(std::max<std::size_t>(3, longest + 1), '`');
}

class markdown {
public:
    markdown(const doc_reference& ref, std::FILE* file) : ref_(ref), file_(file) {}

    // The text so far goes to the file once there is enough of it.
    void flush_some(std::size_t at_least = 1 << 20) {
        if (out_.size() < at_least) return;
        std::fwrite(out_.data(), 1, out_.size(), file_);
        out_.clear();
    }

    void write() {
        put("# ");
        text(ref_.title);
        put("\n\n");
        put(std::to_string(ref_.definitions.size()) + " definitions in " +
            std::to_string(ref_.modules.size()) + " modules.\n\n");
        if (!ref_.notice.empty()) {
            put("> ");
            text(ref_.notice);
            put("\n\n");
        }
        put("## Modules\n\n");
        for (const doc_file& f : ref_.files) {
            if (f.modules.empty() && f.description.empty()) continue;
            put("### ");
            text(f.path);
            put("\n\n");
            paragraphs_of(f.description);
            for (int mi : f.modules) {
                const doc_module& m = ref_.modules[static_cast<std::size_t>(mi)];
                put("- ");
                link(m.id, m.name);
                put(": ");
                if (m.definitions.empty()) put("no definitions");
                bool first = true;
                for (int di : m.definitions) {
                    const doc_definition& d = ref_.definitions[static_cast<std::size_t>(di)];
                    if (!first) put(", ");
                    first = false;
                    link(d.anchor, d.name);
                }
                put("\n");
            }
            put("\n");
        }
        for (const doc_module& m : ref_.modules) module(m);
    }

private:
    void put(std::string_view s) { out_.append(s); }
    void text(std::string_view s) { md_text(out_, s, false); }
    void cell(std::string_view s) { md_text(out_, s, true); }
    void link(std::string_view id, std::string_view label) {
        put("[");
        cell(label);
        put("](#");
        put(id);
        put(")");
    }
    void anchor(std::string_view id) {
        put("<a id=\"");
        put(id);
        put("\"></a>\n\n");
    }
    void paragraphs_of(const std::string& c) {
        for (const std::string& p : paragraphs(c)) {
            text(p);
            put("\n\n");
        }
    }

    void module(const doc_module& m) {
        anchor(m.id);
        put("## Module ");
        text(m.name);
        put("\n\nFile: `");
        put(m.file);
        put("`\n\n");
        for (int di : m.definitions) definition(ref_.definitions[static_cast<std::size_t>(di)]);
    }

    void definition(const doc_definition& d) {
        anchor(d.anchor);
        put("### ");
        text(d.kind);
        put(" ");
        text(d.qualified);
        put("\n\n");
        paragraphs_of(d.comment);
        if (d.target >= 0) {
            const doc_definition& t = ref_.definitions[static_cast<std::size_t>(d.target)];
            put("Stands for ");
            link(t.anchor, t.qualified);
            put(".\n\n");
        }
        if (!d.bounds.empty()) {
            put("Value: ");
            text(d.bounds);
            put(".\n\n");
        }
        if (!d.members.empty()) members(d);
        if (!d.example.empty()) {
            put("Example:\n\n");
            const std::string fence = fence_for(d.example);
            put(fence + "text\n");
            put(d.example);
            if (d.example.back() != '\n') put("\n");
            put(fence + "\n\n");
        } else {
            put("*");
            text(d.no_example);
            put("*\n\n");
        }
        put("Used by: ");
        if (d.used_by.empty()) put("none");
        for (std::size_t i = 0; i < d.used_by.size(); ++i) {
            const doc_definition& by = ref_.definitions[static_cast<std::size_t>(d.used_by[i])];
            if (i > 0) put(", ");
            link(by.anchor, by.qualified);
        }
        put("\n\n");
        flush_some();
    }

    void members(const doc_definition& d) {
        put("| Member | Tag | Type | Range or size | Cardinality | Optional / extension | "
            "Description |\n|---|---|---|---|---|---|---|\n");
        for (const doc_member& m : d.members) {
            put("| ");
            for (int i = 0; i < m.depth; ++i) put("&nbsp;&nbsp;");
            put("`");
            put(m.name);
            put("` | ");
            if (m.tag.empty()) {
                put("*untagged*");
            } else {
                put("`");
                put(m.tag);
                put("`");
            }
            put(" | ");
            if (m.target >= 0) {
                link(ref_.definitions[static_cast<std::size_t>(m.target)].anchor, m.type);
            } else {
                cell(m.type);
            }
            put(" | ");
            cell(m.bounds);
            put(" | ");
            cell(m.cardinality);
            put(" | ");
            std::string flags;
            if (m.optional) flags += "optional";
            if (m.extension) flags += flags.empty() ? "extension" : ", extension";
            if (!m.plugged_by.empty()) {
                flags += (flags.empty() ? "plugged by " : ", plugged by ") + m.plugged_by;
            }
            cell(flags);
            put(" | ");
            const std::vector<std::string> ps = paragraphs(m.comment);
            for (std::size_t i = 0; i < ps.size(); ++i) {
                if (i > 0) put("<br>");
                cell(ps[i]);
            }
            put(" |\n");
        }
        put("\n");
    }

    const doc_reference& ref_;
    std::FILE* file_;
    std::string out_;
};

}  // namespace

void write_markdown(const doc_reference& ref, std::FILE* out) {
    markdown m(ref, out);
    m.write();
    m.flush_some(0);
}

}  // namespace qrv
