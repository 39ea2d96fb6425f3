// What follows a declaration's name up to its `;`: modifiers, the
// cardinality, the tag, the member body; and at the `;` the member rules
// (untagged items first, the fixed-format members of a combi).
#include <string>
#include <string_view>

#include "frontend/lexer.h"
#include "frontend/parser_steps.h"
#include "support/diagnostics.h"

namespace qrv::parser_steps {

namespace {

const char illegal_cardinality[] = "Illegal cardinality format";
const char negative_cardinality[] = "Illegal negative value in cardinality";

enum class after { name, cardinality, tag };

// The order of a declaration, for the help of a misplaced part.
const char declaration_order[] = "type<constraint> name [cardinality] as tag modifiers ;";

// A negative count; with one report per mistake the statement ends.
void report_negative_cardinality(parse_state& ps) {
    parse_report(ps, SEV_ERROR, negative_cardinality);
    if (ps.diag->one_per_mistake) ps.step = STEP_SKIP;
}

// An illegal cardinality, at the token `text` that breaks it. The original
// reads on as if a new cardinality began at the next token, which turns the
// rest of the body into errors; with one report per mistake the statement
// ends instead, at its `;` (or at the `}` that closes the body).
void report_cardinality(parse_state& ps, const char* text) {
    parse_report(ps, SEV_ERROR, illegal_cardinality);
    parse_help(ps, "a cardinality is [n], [n..m], [n..*], [?], [*] or [+]");
    if (!ps.diag->one_per_mistake) return;
    const int code = classify_token(text);
    ps.step = code == TK_SEMICOLON ? STEP_STATEMENT : code == TK_RBRACE ? STEP_END_BODY : STEP_SKIP;
}

// Whether a token can only begin the next declaration (or end the body):
// then the `;` before it is missing.
bool begins_declaration(int code) {
    return (code >= TK_STRUCT && code <= TK_TIME && code != TK_LBRACE) || code == TK_WORD;
}

// A body that would nest too deep is read over without messages, counting
// braces up to the one that closes it.
void skip_over_deep_body(parse_state& ps) {
    token_text tok;
    long open = 1;
    for (;;) {
        const int code = next_token(ps, tok.s);
        if (code == TK_LBRACE) {
            ++open;
        } else if (code == TK_RBRACE) {
            if (--open == 0) break;
        } else if (code == TK_END) {
            parse_report(ps, SEV_ERROR, premature_end);
            break;
        }
    }
}

// `{` members `}` of a struct, union or combi.
void parse_member_body(parse_state& ps, declaration& d) {
    element& e = *d.e;
    if (e.kind != ET_STRUCT && e.kind != ET_UNION && e.kind != ET_COMBINED) {
        parse_report(ps, SEV_ERROR, "Illegal opening { character");
        return;
    }
    if (ps.depth >= max_body_depth) {
        parse_report(ps, SEV_ERROR, "Nesting exceeds %d levels", max_body_depth);
        skip_over_deep_body(ps);
        ps.step = STEP_AFTER_TAG;
    } else {
        d.opens_body = true;  // the body loop reads it, then goes on after it
    }
}

void parse_after(parse_state& ps, declaration& d, after where) {
    token_text tok;
    switch (next_token(ps, tok.s)) {
        case TK_LBRACE: parse_member_body(ps, d); return;
        case TK_LBRACKET:
            if (where != after::name) break;
            ps.step = STEP_CARDINALITY;
            return;
        case TK_AS:
            if (where == after::tag) break;
            ps.step = STEP_TAG;
            return;
        case TK_PLUGIN: d.e->plugin = true; return;
        case TK_PLUGGABLE:
        case TK_SMARK:
        case TK_EMARK:
        case TK_EXEC: return;
        case TK_SEMICOLON:
            check_member_rules(ps, *d.e);
            ps.step = STEP_STATEMENT;
            return;
        case TK_END: end_body_at_premature_end(ps); return;
        default: break;
    }
    // The step stays: the following tokens are examined the same way.
    const int code = classify_token(tok.s);
    if (where == after::name) {
        parse_report(ps, SEV_ERROR, "Unexpected token: %s", tok.s);
    } else {
        parse_report(ps, SEV_ERROR, "Unexpected token %s", tok.s);
    }
    if (!ps.pending.active) return;
    const std::string name(d.e->name().view());
    if (begins_declaration(code) || code == TK_RBRACE) {
        parse_help(ps, "add the missing ';' at the end of the declaration of '" + name + "'");
    } else if (code == TK_LBRACKET && where != after::name) {
        parse_help(ps, std::string("the cardinality goes before 'as': ") + declaration_order);
    } else if (code == TK_LANGLE) {
        parse_help(ps,
                   std::string("the constraint goes right after the type: ") + declaration_order);
    }
}

}  // namespace

void parse_after_name(parse_state& ps, declaration& d) { parse_after(ps, d, after::name); }
void parse_after_cardinality(parse_state& ps, declaration& d) {
    parse_after(ps, d, after::cardinality);
}
void parse_after_tag(parse_state& ps, declaration& d) { parse_after(ps, d, after::tag); }

// After `[`. An error leaves the step here, so the next token starts a new
// cardinality; only the ?, * and + forms move on to the skip step. With one
// report per mistake every error ends the statement.
void parse_cardinality(parse_state& ps, element& e) {
    const bool extension = ps.frame->brackets_seen;
    e.has_cardinality = true;
    e.cardinality_min = 0;
    e.cardinality_max = 0;
    e.cardinality_unbounded = true;

    token_text tok;
    const int code = next_token(ps, tok.s);
    if (code == TK_QUESTION || code == TK_STAR || code == TK_PLUS) {
        e.cardinality_min = code == TK_PLUS && !extension ? 1 : 0;
        e.cardinality_max = code == TK_QUESTION ? 1 : 0;
        e.cardinality_unbounded = code != TK_QUESTION;
        if (next_token(ps, tok.s) == TK_RBRACKET) {
            ps.step = STEP_AFTER_CARDINALITY;
        } else {
            report_cardinality(ps, tok.s);
            if (!ps.diag->one_per_mistake) ps.step = STEP_SKIP;
        }
        return;
    }
    if (code == TK_END) {
        end_body_at_premature_end(ps);
        return;
    }
    if (code != TK_NUMBER) {
        report_cardinality(ps, tok.s);
        return;
    }
    if (tok.s[0] == '-') {
        report_negative_cardinality(ps);
        return;
    }
    const std::uint32_t n = number_value(*ps.diag, tok.s);
    e.cardinality_min = extension ? 0 : n;

    switch (next_token(ps, tok.s)) {
        case TK_RBRACKET:
            e.cardinality_max = n;
            e.cardinality_unbounded = false;
            ps.step = STEP_AFTER_CARDINALITY;
            return;
        case TK_DOTDOT: break;
        case TK_END: end_body_at_premature_end(ps); return;
        default: report_cardinality(ps, tok.s); return;
    }

    // n `..` followed by `*` or a number, then `]`.
    switch (next_token(ps, tok.s)) {
        case TK_STAR:
            if (next_token(ps, tok.s) == TK_RBRACKET) {
                e.cardinality_unbounded = true;
                ps.step = STEP_AFTER_CARDINALITY;
            } else {
                report_cardinality(ps, tok.s);
            }
            return;
        case TK_NUMBER:
            if (tok.s[0] == '-') {
                report_negative_cardinality(ps);
                return;
            }
            e.cardinality_max = number_value(*ps.diag, tok.s);
            e.cardinality_unbounded = false;
            if (next_token(ps, tok.s) == TK_RBRACKET) {
                ps.step = STEP_AFTER_CARDINALITY;
            } else {
                report_cardinality(ps, tok.s);
            }
            return;
        case TK_END: end_body_at_premature_end(ps); return;
        default: report_cardinality(ps, tok.s); return;
    }
}

// After `as`: one raw word; `?` alone leaves the element untagged.
void parse_tag(parse_state& ps, element& e) {
    token_text word;
    if (next_raw_word(ps, word.s) == TK_END) {
        end_body_at_premature_end(ps);
        return;
    }
    const std::string_view tag(word.s);
    if (tag.empty()) {
        // Nothing stands here but `,` or `;`: reading again would find the
        // same empty word, so the statement is skipped.
        parse_report(ps, SEV_ERROR, "Illegal tag format");
        ps.step = STEP_SKIP;
        return;
    }
    if (!is_tag_text(tag)) {
        parse_report(ps, SEV_ERROR, "Illegal tag format");
        return;
    }
    if (tag.size() > max_name_length) {
        parse_report(ps, SEV_ERROR, "Identifier name exceeds %d characters: %s",
                     static_cast<int>(max_name_length), word.s);
        return;
    }
    e.set_tag(make_text(*ps.run, tag[0] == '?' ? tag.substr(1) : tag));
    ps.step = STEP_AFTER_TAG;
}

void check_member_rules(parse_state& ps, element& e) {
    body_frame& frame = *ps.frame;
    if (frame.tagged_seen && !e.has_tag()) {
        parse_report(ps, SEV_ERROR, "Illegal untagged item after tagged items");
    }
    if (e.has_tag()) frame.tagged_seen = true;
    if (e.kind != ET_COMBINED) return;

    // The members of a combi are untagged and of fixed format.
    for (element* m = e.children(); m != nullptr; m = m->next()) {
        m->set_tag(text{});
        if (m->kind != ET_INTEGER && m->kind != ET_CONST && m->kind != ET_UNQUOTED_ASCII) {
            parse_report(ps, SEV_ERROR, "Type of %s not allowed in constructed type",
                         m->name().c_str());
        }
        if (m->kind == ET_CONST && is_digit(static_cast<unsigned char>(m->const_value()[0]))) {
            parse_report(ps, SEV_ERROR,
                         "Const '%s' must begin with non-numerical value in constructed type",
                         m->name().c_str());
        }
        if (m->kind == ET_UNQUOTED_ASCII && (!m->constrained || m->min != m->max)) {
            parse_report(ps, SEV_ERROR, "unquoted ascii '%s' must have a fixed length",
                         m->name().c_str());
        }
    }
}

}  // namespace qrv::parser_steps
