// The most common statements of a body, read in one pass over the source
// block: a member of a simple or referenced type with an optional decimal
// range, its name, an optional cardinality and the `;`, such as
//
//     int<0..65535> count [0..*];
//
// and the start of a structure, union or combination, `struct Name {`.
//
// The pass only reads the source (scan_plain_statement); what it found is
// made into an element where the parser stands (read_plain_statement). Whatever
// the pass does not take (a comment, a tag, a keyword other than these
// types, a number in another form, a statement that would be reported,
// the end of the block) leaves the source as it was, and the step machine
// reads the statement token by token. Taken or not, the model, the line
// count and the position afterwards are those of the step machine.
#include "frontend/plain_statement.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "frontend/lexer.h"
#include "frontend/parser_steps.h"

namespace qrv {

namespace {

// Where the pass stands in the block, and the line feeds it passed.
struct cursor {
    const unsigned char* base;  // the start of the block
    const unsigned char* p;
    const unsigned char* end;
    std::uint32_t lines = 0;

    bool at_end() const { return p >= end; }
    std::uint32_t offset_of(const char* at) const {
        return static_cast<std::uint32_t>(reinterpret_cast<const unsigned char*>(at) - base);
    }
};

// Skips white space; false at what may begin a comment or at the end of
// the block.
bool skip_blanks(cursor& c) {
    for (; c.p < c.end; ++c.p) {
        const unsigned char ch = *c.p;
        if ((char_classes[ch] & CC_SPACE) == 0) return ch != '/';
        if (ch == '\n') ++c.lines;
    }
    return false;
}

// A word as the lexer reads it (the caller checks that it did not end at
// the end of the block), whether all of it may continue an identifier, and
// whether it holds a '-'.
struct scanned_word {
    std::string_view text;
    bool name_chars = true;
    bool dash = false;
};

scanned_word word(cursor& c) {
    const unsigned char* start = c.p;
    std::uint8_t all = CC_NAME;
    bool dash = false;
    for (; c.p < c.end; ++c.p) {
        const std::uint8_t k = char_classes[*c.p];
        if ((k & CC_WORD) == 0) break;
        all &= k;
        dash = dash || *c.p == '-';
    }
    return {{reinterpret_cast<const char*>(start), static_cast<std::size_t>(c.p - start)},
            all != 0,
            dash};
}

// A decimal number as the lexer reads it and its value as number_value
// gives it; false for any other form (hexadecimal, a bit count, a number
// too long to be sure of).
bool decimal(cursor& c, std::uint32_t& value, bool& negative) {
    constexpr std::uint64_t max_value = 4294967295u;
    constexpr int max_digits = 20;
    negative = false;
    if (!c.at_end() && *c.p == '-') {
        negative = true;
        ++c.p;
    }
    if (c.at_end() || !is_digit(*c.p)) return false;
    if (*c.p == '0' && c.end - c.p > 1 && (c.p[1] == 'x' || c.p[1] == 'X')) return false;
    std::uint64_t v = 0;
    int digits = 0;
    for (; c.p < c.end && is_digit(*c.p); ++c.p, ++digits) {
        // Past the largest value it stays past it: number_value gives the
        // largest value then.
        if (v <= max_value) v = v * 10 + static_cast<unsigned>(*c.p - '0');
    }
    if (c.at_end() || digits > max_digits || *c.p == 'b' || *c.p == 'B') return false;
    value = static_cast<std::uint32_t>(v > max_value ? max_value : v);
    return true;
}

// `..` (not `...`).
bool two_dots(cursor& c) {
    if (c.end - c.p < 3 || c.p[0] != '.' || c.p[1] != '.' || c.p[2] == '.') return false;
    c.p += 2;
    return true;
}

// The type word: a simple type (`constrainable` when a range may follow)
// or a reference.
bool read_type(cursor& c, plain_statement& m, bool& constrainable) {
    if (!is_letter(*c.p)) return false;
    const std::string_view type = word(c).text;
    if (c.at_end() || type.size() > token_max_chars) return false;
    const int code = classify_token(type);
    if (code == TK_WORD) {
        if (!is_reference_name(type) || type.size() > max_reference_length) return false;
        m.kind = ET_LINK;
        m.link_offset = c.offset_of(type.data());
        m.link_size = static_cast<std::uint8_t>(type.size());
        m.link_hash = text_hash(type);
        constrainable = false;
        return true;
    }
    // A float's constraint, a const's text and embedded's parentheses are
    // read step by step; other keywords are no type at all.
    parser_steps::type_keyword keyword{};
    if (code == TK_FLOAT || code == TK_CONST || code == TK_EMBEDDED ||
        !parser_steps::find_type_keyword(code, keyword)) {
        return false;
    }
    m.kind = keyword.kind;
    m.opens_body = m.kind == ET_STRUCT || m.kind == ET_UNION || m.kind == ET_COMBINED;
    constrainable = keyword.step == STEP_CONSTRAINT_OR_NAME;
    return true;
}

// `<` lo [`..` hi] `>` with decimal bounds, the `<` read.
bool read_range(cursor& c, plain_statement& m) {
    bool negative = false;
    if (!skip_blanks(c) || !decimal(c, m.min, negative) || !skip_blanks(c)) return false;
    m.min_negative = negative;
    if (*c.p == '>') {
        m.max = m.min;
        m.max_negative = m.min_negative;
    } else if (!two_dots(c) || !skip_blanks(c) || !decimal(c, m.max, negative) || !skip_blanks(c) ||
               *c.p != '>') {
        return false;
    } else {
        m.max_negative = negative;
    }
    ++c.p;
    m.constrained = true;
    return true;
}

// `[` ... `]`, the `[` read: `?`, `*`, `+`, n, n `..` `*` or n `..` m.
bool read_cardinality(cursor& c, plain_statement& m) {
    m.has_cardinality = true;
    m.unbounded = true;
    if (!skip_blanks(c)) return false;
    const unsigned char k = *c.p;
    if (k == '?' || k == '*' || k == '+') {
        ++c.p;
        m.cardinality_min = k == '+' ? 1 : 0;
        m.cardinality_max = k == '?' ? 1 : 0;
        m.unbounded = k != '?';
    } else {
        bool negative = false;
        if (k == '-' || !decimal(c, m.cardinality_min, negative) || !skip_blanks(c)) return false;
        if (*c.p == ']') {
            m.cardinality_max = m.cardinality_min;
            m.unbounded = false;
        } else {
            if (!two_dots(c) || !skip_blanks(c)) return false;
            if (*c.p == '*') {
                ++c.p;
            } else if (*c.p == '-' || !decimal(c, m.cardinality_max, negative)) {
                return false;
            } else {
                m.unbounded = false;
            }
        }
    }
    if (!skip_blanks(c) || *c.p != ']') return false;
    ++c.p;
    return true;
}

bool read_statement(cursor& c, plain_statement& m) {
    if (!skip_blanks(c)) return false;
    m.lines_before = c.lines;
    bool constrainable = false;
    if (!read_type(c, m, constrainable) || !skip_blanks(c)) return false;
    if (constrainable && *c.p == '<') {
        ++c.p;
        if (!read_range(c, m) || !skip_blanks(c)) return false;
    } else if (m.kind == ET_INTEGER) {
        return false;  // the missing range is reported token by token
    }
    // An identifier: a letter, then letters, digits, '-' and '_'.
    if (!is_letter(*c.p)) return false;
    const scanned_word name = word(c);
    if (c.at_end() || name.text.size() > max_name_length || !name.name_chars) return false;
    m.name_offset = c.offset_of(name.text.data());
    m.name_size = static_cast<std::uint8_t>(name.text.size());
    m.name_dash = name.dash;
    m.name_hash = text_hash(name.text);
    if (!skip_blanks(c)) return false;
    if (m.opens_body) {
        // The body's statements are read from here on.
        if (*c.p != '{') return false;
        ++c.p;
        return true;
    }
    if (*c.p == '[') {
        ++c.p;
        if (!read_cardinality(c, m) || !skip_blanks(c)) return false;
    }
    if (*c.p != ';') return false;
    ++c.p;
    return true;
}

}  // namespace

bool scan_plain_statement(const unsigned char* block, std::size_t size, std::size_t pos,
                          plain_statement& out) {
    // Offsets and line counts are 32 bits: a statement that does not end
    // within 4 GiB is read step by step.
    constexpr std::size_t most = UINT32_MAX;
    if (pos >= size || pos >= most) return false;
    cursor c{block, block + pos, block + std::min(size, most)};
    out = plain_statement{};
    out.start = static_cast<std::uint32_t>(pos);
    if (!read_statement(c, out)) return false;
    out.end = c.offset_of(reinterpret_cast<const char*>(c.p));
    out.lines = c.lines;
    return true;
}

namespace parser_steps {

declaration read_plain_statement(parse_state& ps) {
    source_stream& s = *ps.stream;
    // Version brackets and plug bodies change what a member means; pushed
    // back characters are not in the block; a body nested too deep is
    // reported.
    if (s.pushed_count != 0 || ps.frame == nullptr || ps.frame->brackets_seen ||
        ps.plug_level != 0 || ps.depth >= max_body_depth) {
        return {};
    }
    // Offsets within a statement are 32 bits: the pass reads from where the
    // parser stands, so a source larger than that is read as any other.
    const unsigned char* block = s.data + s.pos;
    plain_statement found;
    if (!scan_plain_statement(block, s.size - s.pos, 0, found)) return {};
    const plain_statement* m = &found;

    // The same changes, in the same order, as the steps make.
    ps.in_header = false;
    const std::int64_t line_after = ps.line + m->lines;
    ps.line += m->lines_before;
    element* e = new_element(ps);
    ps.line = line_after;
    s.pos += m->end - m->start;
    e->kind = m->kind;
    if (m->kind == ET_LINK) e->set_link(ps.run->texts.copy(m->link(block), m->link_hash));
    if (m->constrained) {
        e->min_negative = m->min_negative;
        e->min = m->min;
        e->max = m->max;
        e->max_negative = m->max_negative;
        e->constrained = true;
    }
    e->set_name(ps.run->texts.copy(m->name(block), m->name_hash));
    e->set_tag(e->name());
    e->set_c_name(!m->name_dash ? e->name() : make_text(*ps.run, to_c_name(m->name(block))));
    if (m->has_cardinality) {
        e->has_cardinality = true;
        e->cardinality_min = m->cardinality_min;
        e->cardinality_max = m->cardinality_max;
        e->cardinality_unbounded = m->unbounded;
    }
    if (m->opens_body) return declaration{e, nullptr, true};
    // The member is tagged with its name (check_member_rules).
    ps.frame->tagged_seen = true;
    return declaration{e, nullptr, false};
}

}  // namespace parser_steps

}  // namespace qrv
