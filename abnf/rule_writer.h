// The state of one generator walk, shared by the rule writer and the file
// assembly.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "encoding/encoding.h"
#include "model/model.h"
#include "support/diagnostics.h"
#include "support/output_writer.h"

namespace qrv {

// The steps of writing a value, kept on an explicit stack so that nesting
// costs heap and not stack: a value is its type (once more for further
// occurrences), the type of a structure or union is its body, a body is its
// members, a member is its value between what it opens and closes.
enum class rule_step : std::uint8_t {
    value,       // e: its type, then its further occurrences
    repeat,      // e: the further occurrences
    repeat_end,  // e: after the type of the further occurrences
    type,        // e: its text once, a body for a structure or union
    member,      // e: the member to write next in `body`'s chain, or null
    member_end,  // e: after the member's value
    body_end,    // e: after the last member of the body e
};

struct rule_task {
    rule_step what;
    const element* e;
    const element* body;  // the body a member belongs to
};

struct rule_writer {
    rule_writer(const run_context& m, output_writer& o, diagnostics& d)
        : out(o), diag(d), model(m), open_chains(m.storage) {}

    // Where the text goes, and the notes and their counts.
    output_writer& out;
    diagnostics& diag;
    // Whose elements are written: the top chain and the name index (only
    // read, with the top chain taken into the index before writing).
    const run_context& model;
    // Member chains of the bodies being written.
    chain_states open_chains;
    int nesting = 0;
    // Last character this writer handed to the output.
    char last = '\n';
    // The notes of the line being written, for its line comment, and
    // whether they may hold a layout character (only add_comment's may).
    std::string comment;
    bool comment_has_layout = false;
    // Plain text (no line feed, tab or brace) not yet handed to the output,
    // so that a line is handed on in one piece rather than word by word;
    // anything else hands it on first.
    std::array<char, 4096> pending;
    std::size_t pending_size = 0;
    // The steps of the value being written (see write_value).
    std::vector<rule_task> tasks;
};

// A text known when compiling to hold no line feed, tab or brace: put
// copies it without looking at its characters.
struct plain_literal {
    template <std::size_t N>
    consteval plain_literal(const char (&s)[N]) : text(s, N - 1) {  // NOLINT: literals convert
        for (const char c : text) {
            if (is_layout_char(c)) throw "a layout character";
        }
    }
    std::string_view text;
};

// Hands the pending text to the output; put and end_line do this by
// themselves before a line ends.
void flush_pending(rule_writer& w);

// Appends text that holds no line feed, tab or brace.
void put_plain_long(rule_writer& w, std::string_view s);
inline void put_plain(rule_writer& w, std::string_view s) {
    if (s.empty()) return;
    if (s.size() > w.pending.size() - w.pending_size) {
        put_plain_long(w, s);
        return;
    }
    std::memcpy(w.pending.data() + w.pending_size, s.data(), s.size());
    w.pending_size += s.size();
    w.last = s.back();
}

inline void put(rule_writer& w, plain_literal s) { put_plain(w, s.text); }
// Any text: line feeds, tabs and braces go through the layout rules.
void put_text(rule_writer& w, std::string_view s);
// The column the next character lands in.
std::int32_t line_column(const rule_writer& w);
void write_value(rule_writer& w, const element* e);
// One top-level element's rule, with the blank line after it.
void write_rule(rule_writer& w, const element* e);
// The rules of every top-level element: in batches on `threads` threads
// when there are several batches of `batch_size` elements, with the text,
// notes of writing them one after another.
void write_rules(const run_context& run, output_writer& out, diagnostics& diag,
                 std::size_t batch_size, unsigned threads);
void end_line(rule_writer& w);
// A line feed, without the line comment (end_line writes that first).
void new_line(rule_writer& w);
// Notes a reference that names no top-level definition (the references
// the grammar makes are counted by abnf/references.h, not while writing).
void check_reference(rule_writer& w, const element& m);
// The top-level element a reference counts for: the first of the name its
// link ends in (the top chain must be taken into the name index).
const element* referenced_definition(const run_context& run, const element& m);

// The count in front of a repeated character rule of a text form: the
// fallback without a size, "n" for one size, else "min*max".
void write_count(rule_writer& w, const value_form& f, std::string_view fallback);
void put_number(rule_writer& w, std::uint64_t value);
// A tag or constant text as a quoted string of the strict grammar: as it
// stands when it is plain, else in %x form where needed (quoted_text).
void put_quoted(rule_writer& w, std::string_view s);
// The text of a simple value (abnf/simple_text.cpp, from the table of
// encoding/kinds.def): in the default grammar, false where it has none; in
// the strict grammar, `tagged` when the member's tag stands before it.
bool write_default_simple(rule_writer& w, const value_form& f);
void write_strict_simple(rule_writer& w, const value_form& f, bool tagged);
// The notes a member adds to its line comment: its name where neither its
// tag nor the rule it refers to shows it, and the bounds of its constraint.
void comment_member(rule_writer& w, const element& m);
// A note for the comment of the line being written; notes are joined with
// ", " and written by end_line.
void add_comment(rule_writer& w, const char* format, ...) QRV_PRINTF(2, 3);

}  // namespace qrv
