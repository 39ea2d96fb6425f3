// The steps of the parser's step machine, shared by the three parts of the
// parser: statements and bodies (parser.cpp), declarations and constraints
// (declarations.cpp), and declaration suffixes with the member rules
// (declaration_suffix.cpp). Internal to the front end.
#pragma once

#include "frontend/lexer.h"
#include "frontend/parse_state.h"

namespace qrv::parser_steps {

// The declaration a body is working on: its element and the last element of
// its member list, so that a further member body appends without a walk.
// A step that meets the `{` of a member body sets `opens_body`; the body
// loop then reads the body (bodies are read by one loop, not by recursion,
// so that 1000 levels of them need little stack).
struct declaration {
    element* e = nullptr;
    element* children_tail = nullptr;
    bool opens_body = false;
};

// A token text buffer of the size the token readers need; it starts as the
// empty text (only the terminator is set: the buffer is made for every token).
struct token_text {
    token_text() { s[0] = '\0'; }
    char s[token_text_capacity];
};

// The text of the error for a file that ends inside a body or a statement.
inline constexpr const char premature_end[] = "Encountered premature end of file";

// Reports that the file ended too early and ends the current body.
void end_body_at_premature_end(parse_state& ps);

// Bodies and statements: reads the body that begins here and every body
// nested in it, appending what its statements create after `tail`.
void parse_body_into(parse_state& ps, chain_head head, element*& tail);
element* begin_declaration(parse_state& ps, int code, const char* text);
void skip_to_statement_end(parse_state& ps);

// The common statements read in one pass: a member (a simple or referenced
// type, a decimal range, the name, a cardinality, `;`), or `struct`,
// `union` or `combi`, the name and `{`. Gives the element made, which the
// caller appends (and whose body it opens when `opens_body` is set), or no
// element and nothing read, when the statement is to be read step by step.
declaration read_plain_statement(parse_state& ps);

// What a type keyword declares: the element's kind and the step that reads
// on (STEP_NAME, or STEP_CONSTRAINT_OR_NAME where a constraint may come
// first); false for any other token, which names a type defined elsewhere.
struct type_keyword {
    element_kind kind;
    int step;
};
bool find_type_keyword(int code, type_keyword& out);

// Type, constraint and name of a declaration.
void set_element_type(parse_state& ps, element& e, int code, const char* text);
void parse_constraint_or_name(parse_state& ps, element& e);
void parse_constraint(parse_state& ps, element& e);
void parse_name(parse_state& ps, element& e);

// What follows the name.
void parse_after_name(parse_state& ps, declaration& d);
void parse_after_cardinality(parse_state& ps, declaration& d);
void parse_after_tag(parse_state& ps, declaration& d);
void parse_cardinality(parse_state& ps, element& e);
void parse_tag(parse_state& ps, element& e);
void check_member_rules(parse_state& ps, element& e);

}  // namespace qrv::parser_steps
