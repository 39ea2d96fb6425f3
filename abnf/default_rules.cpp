// The ABNF text of one element: its value, its repetition, the bodies of
// structures and unions with their members, the line comments and the
// counting of references.
#include <algorithm>
#include <charconv>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "abnf/default_grammar.h"
#include "abnf/rule_writer.h"
#include "support/diagnostics.h"
#include "support/output_writer.h"

namespace qrv {

namespace {

// Comments start at this column of a line, counted after the indentation.
constexpr std::int32_t comment_column = 60;

// Bodies nested deeper than the parser accepts are not written, so that
// the walk stays within a small stack (about 200 bytes a level). Post-parse
// stops much earlier in any case: every level adds at least two characters
// to a qualified name of at most 255.
constexpr int max_write_nesting = max_body_depth;

// One note of a line comment, added piece by piece; several notes are
// separated by ", ".
void begin_note(rule_writer& w) {
    if (!w.comment.empty()) w.comment += ", ";
}

void append_comment(rule_writer& w, std::string_view piece) {
    begin_note(w);
    w.comment += piece;
    w.comment_has_layout = true;
}

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    if (a.data() == b.data()) return true;  // the same text (a tag that is the name)
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// Whether a word written next would run into the last one on this line.
bool needs_blank(const rule_writer& w) {
    return w.out.open && line_column(w) > 0 && w.last != ' ' && w.last != '\t' && w.last != '\n';
}

bool has_layout_char(std::string_view s) {
    for (const char c : s) {
        if (is_layout_char(c)) return true;
    }
    return false;
}

// The text of an element without members. Kept out of line, like the other
// helpers of the body walk, so that each nesting level costs little stack.
[[gnu::noinline]] void write_simple(rule_writer& w, const element* e) {
    if (write_default_simple(w, simple_form(*e))) return;
    put(w, "TYPE??? ");
    error_note(w.diag, "ERROR: Encountered unexpected type (%u) at line: %lld\n",
               static_cast<unsigned>(e->kind), static_cast<long long>(e->line()));
}

}  // namespace

// The comments a member adds to its line: its name when neither its tag nor
// the rule it refers to shows it, and the bounds of its constraint.
[[gnu::noinline]] void comment_member(rule_writer& w, const element& m) {
    std::string& comment = w.comment;
    // A name is an identifier: it is never empty, and it holds no layout
    // character.
    const std::string_view name = m.name().view();
    if ((!m.has_link() || !equal_ignoring_case(name, link_name_part(m.link().view()))) &&
        !equal_ignoring_case(name, m.tag().view())) {
        begin_note(w);
        comment += name;
        comment += ' ';
    }
    if (!m.constrained) return;
    const form_row& row = row_of(m.kind);
    if (!row.noted) return;
    // The note is put together here and added in one piece.
    char note[64];
    char* out = note;
    const auto text = [&out](std::string_view s) {
        std::memcpy(out, s.data(), s.size());
        out += s.size();
    };
    const auto number = [&out](std::uint32_t value) {
        out = std::to_chars(out, out + 10, value).ptr;
    };
    if (row.bounds == bounds_kind::range) {
        text("Range = ");
        if (m.min_negative) text("-");
        number(m.min);
        text(" to ");
        if (m.max_negative) text("-");
        number(m.max);
    } else {
        text("Size = ");
        number(m.min);
        text(" to ");
        number(m.max);
    }
    text(" ");
    begin_note(w);
    comment.append(note, static_cast<std::size_t>(out - note));
}

namespace {

// The text in front of a member's value and after it: brackets for a
// repeated or optional member, parentheses for a constrained or tagged one.
struct member_frame {
    std::string_view open;
    std::string_view close;
    bool tagged;
    bool braced;  // a constrained member of a union is written in braces
};

member_frame frame_of(const element* m, bool is_union) {
    member_frame f{{}, {}, m->has_tag(), is_union && m->constrained};
    if (m->has_cardinality) {
        f.open = "[ ";
        f.close = "] ";
    } else if (m->constrained || (f.tagged && m->kind != ET_NULL)) {
        f.open = "( ";
        f.close = ") ";
    }
    return f;
}

bool repeats(const element* e) {
    return e->has_cardinality && (e->cardinality_unbounded || e->cardinality_max > 1);
}

// A body inside a body that is still being written would repeat forever;
// it is reported and left out, as is a body nested too deeply to write.
[[gnu::noinline]] bool enter_body(rule_writer& w, const element* e) {
    if (w.nesting >= max_write_nesting) {
        error_note(w.diag, "ERROR: Members nested too deeply to be written: %s (line: %lld)\n",
                   e->name().c_str(), static_cast<long long>(e->line()));
        return false;
    }
    if (e->children() != nullptr && w.open_chains.get(e->children()) != 0) {
        error_note(w.diag,
                   "ERROR: Members contain themselves and can not be written: %s (line: %lld)\n",
                   e->name().c_str(), static_cast<long long>(e->line()));
        return false;
    }
    if (e->children() != nullptr) w.open_chains.set(e->children(), 1);
    ++w.nesting;
    return true;
}

void leave_body(rule_writer& w, const element* e) {
    --w.nesting;
    if (e->children() != nullptr) w.open_chains.set(e->children(), 0);
}

using step = rule_step;
using task = rule_task;

void begin_body(rule_writer& w, std::vector<task>& tasks, const element* e) {
    if (!enter_body(w, e)) return;
    indent_more(w.out);
    const bool is_union = e->kind == ET_UNION;
    const bool several = e->children() != nullptr && e->children()->next() != nullptr;
    const bool root = e == w.model.elements;
    check_untagged(w.diag, *e);
    if (!is_union && e->children() == nullptr) {
        // A structure without members: the empty text as the root, else an
        // empty pair of braces that still admits extensions.
        if (root) {
            put(w, "\"\" ");
        } else {
            put(w, "LBRCE extension-params RBRCE");
        }
        indent_less(w.out);
        leave_body(w, e);
        return;
    }
    if (!root && is_union) put(w, "( ");
    if (!root && !is_union) put(w, "LBRCE ");
    if (several) end_line(w);
    tasks.push_back({step::body_end, e, nullptr});
    tasks.push_back({step::member, e->children(), e});
}

void end_body(rule_writer& w, const element* e) {
    const bool is_union = e->kind == ET_UNION;
    const bool several = e->children() != nullptr && e->children()->next() != nullptr;
    const bool root = e == w.model.elements;
    if (is_union) {
        if (root) {
            put(w, "extension-param ");
        } else {
            put(w, "extension-param ) ");
        }
    } else if (several && !root) {
        put_text(w, "extension-params\nRBRCE ");
    }
    indent_less(w.out);
    leave_body(w, e);
}

// The text in front of a member's value; false when no value follows (a
// tagged void).
bool open_member(rule_writer& w, const element* m, const member_frame& f) {
    if (m->has_link()) check_reference(w, *m);
    if (m->kind == ET_NULL && !f.tagged) {
        error_note(w.diag, "ERROR: void types can not be untagged (Line: %lld)\n",
                   static_cast<long long>(m->line()));
    }
    put_plain(w, f.open);
    if (f.tagged) {
        put(w, "\"");
        // A tag of its own may hold a brace; a tag that is the name holds
        // none (names are identifiers).
        const text tag = m->tag();
        if (tag.p == m->name().p) {
            put_plain(w, tag.view());
        } else {
            put_text(w, tag.view());
        }
        if (m->kind == ET_NULL) {
            put(w, "\"");
            return false;
        }
        put(w, "\" EQUAL ");
    }
    if (f.braced) put(w, "LBRCE ");
    return true;
}

void close_member(rule_writer& w, const element* m, const element* body, const member_frame& f) {
    const bool is_union = body->kind == ET_UNION;
    if (f.braced && !(f.tagged && m->kind == ET_NULL)) {
        if (needs_blank(w)) put(w, " ");
        put(w, "RBRCE ");
    }
    put_plain(w, f.close);
    const bool several = body->children()->next() != nullptr;
    const bool root = body == w.model.elements;
    if (!is_union && !several && !root) {
        // The one member of a structure closes it on the same line.
        if (needs_blank(w)) put(w, " ");
        put(w, "extension-params RBRCE");
    }
    if (is_union) put(w, "/ ");
    comment_member(w, *m);
    if (several) end_line(w);
}

// Whether writing the type of `e` opens a body of members.
bool opens_body(const element* e) {
    return !e->has_link() && (e->kind == ET_STRUCT || e->kind == ET_UNION);
}

// The type of `e` once: the name of the rule it refers to, a body (whose
// steps go on the stack), or the text of a simple type.
void write_type(rule_writer& w, std::vector<task>& tasks, const element* e) {
    if (e->has_link()) {
        // References, names and module names are checked when read: no
        // layout character is among their characters.
        put_plain(w, link_name_part(e->link().view()));
        put(w, " ");
    } else if (opens_body(e)) {
        begin_body(w, tasks, e);
    } else {
        write_simple(w, e);
    }
}

// The members of `body` from `m` on. A member whose value is written once
// without a body of its own is written here whole; at any other, its value
// goes on the stack with the rest of the members after it.
void write_members(rule_writer& w, std::vector<task>& tasks, const element* m,
                   const element* body) {
    for (; m != nullptr; m = m->next()) {
        const member_frame f = frame_of(m, body->kind == ET_UNION);
        if (!open_member(w, m, f)) {
            close_member(w, m, body, f);
            continue;
        }
        if (repeats(m) || opens_body(m)) {
            tasks.push_back({step::member_end, m, body});
            tasks.push_back({step::value, m, nullptr});
            return;
        }
        write_type(w, tasks, m);
        close_member(w, m, body, f);
    }
}

void write_value_steps(rule_writer& w, const element* top) {
    std::vector<task>& tasks = w.tasks;
    const std::size_t base = tasks.size();
    tasks.push_back({step::value, top, nullptr});
    while (tasks.size() > base) {
        const task t = tasks.back();
        tasks.pop_back();
        const element* e = t.e;
        switch (t.what) {
            case step::value:
                if (repeats(e)) tasks.push_back({step::repeat, e, nullptr});
                tasks.push_back({step::type, e, nullptr});
                break;
            case step::repeat:
                // The further occurrences on a line of their own, at the
                // next tab stop.
                put_text(w, "\n\t");
                if (e->cardinality_min >= 1) put_number(w, e->cardinality_min - 1);
                put(w, "*");
                if (!e->cardinality_unbounded) put_number(w, e->cardinality_max - 1);
                put(w, "( COMMA ");
                tasks.push_back({step::repeat_end, e, nullptr});
                tasks.push_back({step::type, e, nullptr});
                break;
            case step::repeat_end: put(w, ") "); break;
            case step::type: write_type(w, tasks, e); break;
            case step::member: write_members(w, tasks, e, t.body); break;
            case step::member_end:
                close_member(w, e, t.body, frame_of(e, t.body->kind == ET_UNION));
                write_members(w, tasks, e->next(), t.body);
                break;
            case step::body_end: end_body(w, e); break;
        }
    }
}

}  // namespace

void put_text(rule_writer& w, std::string_view s) {
    if (s.empty()) return;
    if (!has_layout_char(s)) {
        put_plain(w, s);
        return;
    }
    flush_pending(w);
    emit_text(w.out, s);
    w.last = s.back();
}

[[gnu::noinline]] void put_plain_long(rule_writer& w, std::string_view s) {
    flush_pending(w);
    if (s.size() > w.pending.size()) {
        emit_plain(w.out, s);
        w.last = s.back();
        return;
    }
    std::memcpy(w.pending.data(), s.data(), s.size());
    w.pending_size = s.size();
    w.last = s.back();
}

void flush_pending(rule_writer& w) {
    if (w.pending_size == 0) return;
    emit_plain(w.out, std::string_view(w.pending.data(), w.pending_size));
    w.pending_size = 0;
}

std::int32_t line_column(const rule_writer& w) {
    const std::int32_t written = w.out.open ? w.out.column : 0;
    return written + static_cast<std::int32_t>(w.pending_size);
}

std::string_view link_name_part(std::string_view link) {
    const std::size_t colon = link.find(':');
    if (colon == std::string_view::npos) return link;
    std::size_t start = colon + 1;
    if (start < link.size() && link[start] == ':') ++start;
    const std::size_t end = link.find(':', start);
    return link.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
}

[[gnu::noinline]] void check_untagged(diagnostics& diag, const element& body) {
    if (body.kind == ET_UNION) {
        bool integer_seen = false;
        for (const element* m = body.children(); m != nullptr; m = m->next()) {
            if (m->has_tag()) continue;
            if (m->kind != ET_INTEGER) {
                error_note(diag,
                           "ERROR: Only an integer can be untagged in a union: %s (line: %lld)\n",
                           m->name().c_str(), static_cast<long long>(m->line()));
            } else if (integer_seen) {
                error_note(diag,
                           "ERROR: Only one INTEGER can be untagged in a CHOICE: %s (line: %lld)\n",
                           m->name().c_str(), static_cast<long long>(m->line()));
            } else {
                integer_seen = true;
            }
        }
        return;
    }
    bool optional_untagged = false;
    for (const element* m = body.children(); m != nullptr; m = m->next()) {
        if (!m->has_tag() && m->has_cardinality) optional_untagged = true;
        if (optional_untagged && !m->has_cardinality) {
            error_note(diag,
                       "ERROR: All parameters following untagged optional parameter must also be "
                       "OPTIONAL: %s (line: %lld)\n",
                       m->name().c_str(), static_cast<long long>(m->line()));
        }
    }
}

const element* referenced_definition(const run_context& run, const element& m) {
    const text link = m.link();
    const std::string_view name = link_name_part(link.view());
    // A link without a module part is itself the name.
    return name.size() == link.size() ? run.names.find_taken(run.elements, link)
                                      : run.names.find_taken(run.elements, name);
}

[[gnu::noinline]] void check_reference(rule_writer& w, const element& m) {
    if (referenced_definition(w.model, m) == nullptr) {
        note(w.diag, "WARNING: Unable to find definition for: %s (line: %lld)\n", m.link().c_str(),
             static_cast<long long>(m.line()));
    }
}

void write_value(rule_writer& w, const element* e) { write_value_steps(w, e); }

void write_rule(rule_writer& w, const element* e) {
    put_plain(w, e->name().view());
    put(w, " = ");
    indent_more(w.out);
    // A definition that stands for another one refers to it.
    if (e->has_link()) check_reference(w, *e);
    write_value(w, e);
    indent_less(w.out);
    end_line(w);
    end_line(w);
}

[[gnu::noinline]] void end_line(rule_writer& w) {
    if (!w.comment.empty() && w.out.open) {
        if (line_column(w) >= comment_column) new_line(w);
        const std::int32_t column = line_column(w);
        if (column < comment_column) {
            static constexpr std::string_view blanks(
                "                                                            ");
            static_assert(blanks.size() == comment_column);
            put_plain(w, blanks.substr(0, static_cast<std::size_t>(comment_column - column)));
        }
        flush_pending(w);
        emit_tab(w.out);
        put(w, "; ");
        if (w.comment_has_layout) {
            put_text(w, w.comment);
        } else {
            put_plain(w, w.comment);
        }
    }
    w.comment.clear();
    w.comment_has_layout = false;
    new_line(w);
}

void new_line(rule_writer& w) {
    flush_pending(w);
    emit_newline(w.out);
    w.last = '\n';
}

void add_comment(rule_writer& w, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (n < 0) {
        va_end(again);
        return;
    }
    std::string piece(static_cast<std::size_t>(n) + 1, '\0');
    std::vsnprintf(piece.data(), piece.size(), format, again);
    va_end(again);
    piece.resize(static_cast<std::size_t>(n));
    append_comment(w, piece);
}

}  // namespace qrv
