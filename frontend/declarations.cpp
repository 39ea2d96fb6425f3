// Declarations up to the element's name: the type keyword or reference, the
// text of a const, the constraint in angle brackets (ranges with the z
// suffix, float kinds, patterns, the parenthesised text of embedded) and the
// name itself.
#include <string>
#include <string_view>

#include "frontend/lexer.h"
#include "frontend/parser_steps.h"
#include "support/diagnostics.h"

namespace qrv::parser_steps {

namespace {

const char invalid_constraint[] = "Invalid type constraint";

// `<` text `>` after `const`. Comments are not recognised inside the text.
void parse_const_text(parse_state& ps, element& e) {
    int c = read_significant_char(ps);
    while (is_space(c)) c = read_char(ps);
    if (c == end_of_file) {
        end_body_at_premature_end(ps);
        return;
    }
    if (c != '<') {
        // The character is dropped; the next token is read as the name.
        const char symbol[2] = {static_cast<char>(c), '\0'};
        parse_report(ps, SEV_ERROR, "Unexpected symbol after const keyword: %s", symbol);
        return;
    }
    // A zero byte ends the text, as in a zero-terminated field: the rest up
    // to the `>` is read and dropped.
    std::string value;
    bool ended = false;
    for (c = read_char(ps); c != end_of_file && c != '>'; c = read_char(ps)) {
        if (c == '\0') ended = true;
        if (!ended) value.push_back(static_cast<char>(c));
    }
    if (!is_const_text(value)) {
        parse_report(ps, SEV_ERROR, "Illegal const expression: %s", value.c_str());
    } else if (value.size() > max_name_length) {
        parse_report(ps, SEV_ERROR, "Const name exceeds %d characters: %s",
                     static_cast<int>(max_name_length), value.c_str());
    } else {
        e.set_const_value(make_text(*ps.run, value));
    }
    if (c == end_of_file) {
        end_body_at_premature_end(ps);
    }
}

// Checks a name and stores it as name, tag and C name. A rejected name
// leaves the step as it is, so the next token is examined again.
void take_name(parse_state& ps, element& e, const char* text) {
    const std::string_view name(text);
    if (!is_identifier(name)) {
        parse_report(ps, SEV_ERROR, "Invalid format for an identifier: %s", text);
        return;
    }
    if (name.size() > max_name_length) {
        parse_report(ps, SEV_ERROR, "Identifier name exceeds %d characters: %s",
                     static_cast<int>(max_name_length), text);
        return;
    }
    e.set_name(make_text(*ps.run, name));
    e.set_tag(e.name());
    // An identifier has no '.' or ':'; without a '-' the C name is the name.
    e.set_c_name(name.find('-') == std::string_view::npos ? e.name()
                                                          : make_text(*ps.run, to_c_name(name)));
    ps.step = STEP_AFTER_NAME;
}

int skip_blanks(parse_state& ps, int c) {
    while (is_space(c)) c = read_significant_char(ps);
    return c;
}

// number [`..` number]; a lone bound gives both bounds. The `>` after a lone
// bound is pushed back for the constraint step.
void parse_range(parse_state& ps, element& e) {
    token_text tok;
    if (next_token(ps, tok.s) != TK_NUMBER) {
        parse_report(ps, SEV_ERROR, invalid_constraint);
        return;
    }
    e.min_negative = tok.s[0] == '-';
    e.min = number_value(*ps.diag, tok.s);
    const int code = next_token(ps, tok.s);
    if (code == TK_RANGLE) {
        e.max = e.min;
        e.max_negative = e.min_negative;
        e.constrained = true;
        unread_char(ps, '>');
        return;
    }
    if (code == TK_DOTDOT && next_token(ps, tok.s) == TK_NUMBER) {
        e.max_negative = tok.s[0] == '-';
        e.max = number_value(*ps.diag, tok.s);
        e.constrained = true;
        return;
    }
    parse_report(ps, SEV_ERROR, invalid_constraint);
}

// `single` or `double`, then `>`.
bool parse_float_constraint(parse_state& ps, element& e) {
    token_text tok;
    const int code = next_token(ps, tok.s);
    if (code == TK_SINGLE) {
        e.kind = ET_SINGLE;
    } else if (code == TK_DOUBLE) {
        e.kind = ET_DOUBLE;
    } else {
        parse_report(ps, SEV_ERROR, "Unrecognised float constraint: %s", tok.s);
        return false;
    }
    if (next_token(ps, tok.s) != TK_RANGLE) {
        parse_report(ps, SEV_ERROR, invalid_constraint);
        return false;
    }
    return true;
}

// Up to and including the slash that ends a pattern, after the opening
// one; the pattern is not kept (nothing enforces it). A backslash escapes
// the character after it; a `/` inside a bracket class does not end the
// pattern.
void skip_pattern(parse_state& ps) {
    bool in_class = false;
    for (;;) {
        int c = read_significant_char(ps);
        if (c == end_of_file) break;
        if (c == '\\') {
            if (read_significant_char(ps) == end_of_file) break;
            continue;
        }
        if (c == '/' && !in_class) break;
        if (c == '[') {
            in_class = true;
        } else if (c == ']') {
            in_class = false;
        }
    }
}

// Up to and including the next `)`; the text is not kept.
void skip_parenthesised(parse_state& ps) {
    int c;
    do {
        c = read_significant_char(ps);
    } while (c != ')' && c != end_of_file);
}

bool is_string_kind(element_kind kind) {
    return kind == ET_ASCII || kind == ET_UNQUOTED_ASCII || kind == ET_UNICODE;
}

}  // namespace

bool find_type_keyword(int code, type_keyword& out) {
    switch (code) {
        case TK_STRUCT: out = {ET_STRUCT, STEP_NAME}; return true;
        case TK_UNION: out = {ET_UNION, STEP_NAME}; return true;
        case TK_COMBI: out = {ET_COMBINED, STEP_NAME}; return true;
        case TK_VOID: out = {ET_NULL, STEP_NAME}; return true;
        case TK_BOOL: out = {ET_BOOLEAN, STEP_NAME}; return true;
        case TK_INT: out = {ET_INTEGER, STEP_CONSTRAINT_OR_NAME}; return true;
        case TK_FLOAT: out = {ET_SINGLE, STEP_CONSTRAINT_OR_NAME}; return true;
        case TK_OID: out = {ET_OID, STEP_NAME}; return true;
        case TK_ASCII: out = {ET_ASCII, STEP_CONSTRAINT_OR_NAME}; return true;
        case TK_UNQUOTED_ASCII: out = {ET_UNQUOTED_ASCII, STEP_CONSTRAINT_OR_NAME}; return true;
        case TK_UNICODE: out = {ET_UNICODE, STEP_CONSTRAINT_OR_NAME}; return true;
        case TK_BYTES: out = {ET_BYTES, STEP_CONSTRAINT_OR_NAME}; return true;
        case TK_EMBEDDED: out = {ET_EMBEDDED, STEP_CONSTRAINT_OR_NAME}; return true;
        case TK_CONST: out = {ET_CONST, STEP_NAME}; return true;
        case TK_IPV4: out = {ET_IPV4, STEP_NAME}; return true;
        case TK_IPV6: out = {ET_IPV6, STEP_NAME}; return true;
        case TK_DATE: out = {ET_DATE, STEP_NAME}; return true;
        case TK_TIME: out = {ET_TIME, STEP_NAME}; return true;
        default: return false;
    }
}

void set_element_type(parse_state& ps, element& e, int code, const char* text) {
    type_keyword type{};
    if (find_type_keyword(code, type)) {
        e.kind = type.kind;
        ps.step = type.step;
        if (code == TK_CONST) parse_const_text(ps, e);
        return;
    }
    // Any other token names a type defined elsewhere. After an error the
    // element stays in its body with an empty link, and the next token
    // starts a new statement.
    e.kind = ET_LINK;
    const std::string_view name(text);
    if (!is_reference_name(name)) {
        parse_report(ps, SEV_ERROR, "Illegal reference name: %s", text);
    } else if (name.size() > max_reference_length) {
        parse_report(ps, SEV_ERROR, "Reference name exceeds %d characters: %s",
                     static_cast<int>(max_reference_length), text);
    } else {
        e.set_link(make_text(*ps.run, name));
        ps.step = STEP_NAME;
    }
}

void parse_constraint_or_name(parse_state& ps, element& e) {
    token_text tok;
    const int code = next_token(ps, tok.s);
    if (code == TK_LANGLE) {
        ps.step = STEP_CONSTRAINT;
        return;
    }
    if (code == TK_END) {
        end_body_at_premature_end(ps);
        return;
    }
    if (e.kind == ET_INTEGER) parse_report(ps, SEV_ERROR, "Integer '%s' missing constraint", tok.s);
    take_name(ps, e, tok.s);
}

void parse_constraint(parse_state& ps, element& e) {
    // Every path that does not reach the closing `>` skips the statement.
    ps.step = STEP_SKIP;
    if (e.kind == ET_SINGLE) {
        if (parse_float_constraint(ps, e)) ps.step = STEP_NAME;
        return;
    }
    // The order is fixed: range, then z, pattern or parenthesised text.
    int c = skip_blanks(ps, read_significant_char(ps));
    if (is_digit(c) || c == '-') {
        unread_char(ps, c);
        parse_range(ps, e);
        c = skip_blanks(ps, read_significant_char(ps));
        if (e.kind == ET_INTEGER && (c == 'z' || c == 'Z')) {
            e.z_suffix = true;
            c = read_significant_char(ps);
        }
    }
    if (is_string_kind(e.kind) && c == '/') {
        skip_pattern(ps);
        e.has_pattern = true;
        c = read_significant_char(ps);
    } else if (e.kind == ET_EMBEDDED && c == '(') {
        skip_parenthesised(ps);
        c = read_significant_char(ps);
    }
    c = skip_blanks(ps, c);
    if (c == '>') {
        ps.step = STEP_NAME;
    } else {
        parse_report(ps, SEV_ERROR, invalid_constraint);
    }
}

void parse_name(parse_state& ps, element& e) {
    token_text tok;
    if (next_token(ps, tok.s) == TK_END) {
        end_body_at_premature_end(ps);
        return;
    }
    take_name(ps, e, tok.s);
}

}  // namespace qrv::parser_steps
