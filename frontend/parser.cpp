// The body loop of the parser and the statements it handles itself: the
// module header, import and extends, plug ... into, version brackets,
// endmodule and the end of a body. Declarations are started here and
// continued by the steps of declarations.cpp and declaration_suffix.cpp.
#include "frontend/parser.h"

#include <deque>

#include "frontend/lexer.h"
#include "frontend/parser_steps.h"
#include "support/diagnostics.h"

namespace qrv {

namespace parser_steps {

namespace {

const char unexpected_end[] = "Unexpected end of file encountered";

// `module` name `;`. A later module statement replaces the name.
void parse_module_statement(parse_state& ps) {
    token_text name;
    if (next_raw_word(ps, name.s) == TK_END) {
        parse_report(ps, SEV_ERROR, unexpected_end);
        ps.step = STEP_END_BODY;
        return;
    }
    if (is_module_name(name.s)) {
        ps.module->name = make_text(*ps.run, name.s);
    } else {
        parse_report(ps, SEV_ERROR, "Illegal module name: %s", name.s);
    }
    token_text tok;
    if (next_token(ps, tok.s) != TK_SEMICOLON) {
        parse_report(ps, SEV_ERROR, "Expected ; after module name");
    }
    ps.step = STEP_STATEMENT;
}

// `import` or `extends` name [`as` alias] `;`. An error ends the statement
// where it is found; nothing is recorded then. The name and the alias are
// held apart from the token text, so a message about a token that turned
// out to be the end of the file shows the token read before it.
void parse_module_ref(parse_state& ps, bool is_import) {
    ps.step = STEP_STATEMENT;
    token_text name;
    if (next_raw_word(ps, name.s) == TK_END) {
        parse_report(ps, SEV_ERROR, unexpected_end);
        ps.step = STEP_END_BODY;
        return;
    }
    if (!is_module_name(name.s)) {
        parse_report(ps, SEV_ERROR, "Illegal module name: %s", name.s);
        ps.step = STEP_SKIP;
        return;
    }
    const std::int64_t line = ps.line;  // of the module's name
    token_text tok;
    token_text alias;
    const char* alias_text = " ";
    const int code = next_token(ps, tok.s);
    if (code == TK_AS) {
        if (next_raw_word(ps, alias.s) == TK_END) {
            parse_report(ps, SEV_ERROR, unexpected_end);
            ps.step = STEP_END_BODY;
            return;
        }
        if (next_token(ps, tok.s) != TK_SEMICOLON) {
            if (is_import) {
                parse_report(ps, SEV_ERROR, "Expected ; after import statement. Got: '%s'", tok.s);
            } else {
                parse_report(ps, SEV_ERROR, "Expected ; after extends statement. Got: '%s'", tok.s);
            }
            ps.step = STEP_SKIP;
            return;
        }
        alias_text = alias.s;
    } else if (code != TK_SEMICOLON) {
        if (is_import) {
            parse_report(ps, SEV_ERROR, "Expected 'as' after import module name. Got: '%s'", tok.s);
        } else {
            parse_report(ps, SEV_ERROR, "Expected 'as' after extends module name. Got: '%s'",
                         tok.s);
        }
        ps.step = STEP_SKIP;
        return;
    }
    module_ref* ref = new_module_ref(*ps.run);
    ref->alias = make_text(*ps.run, alias_text);
    ref->module_name = make_text(*ps.run, name.s);
    ref->line = line;
    module_ref*& list = is_import ? ps.module->imports : ps.module->extends;
    ref->next = list;
    list = ref;
}

// `plug` body statements `into` names `;`: a plug body has no braces.
// Returns the plug whose body the body loop reads next, or null.
plug_record* parse_plug(parse_state& ps) {
    if (ps.depth != 1) {
        parse_report(ps, SEV_ERROR, "Plug extensions not allowed within other constructs");
    }
    if (ps.plug_level != 0) parse_report(ps, SEV_ERROR, "Illegal nested plug extension");
    if (ps.depth >= max_body_depth) {
        // Its body would nest too deep: no plug is recorded and no body opened.
        parse_report(ps, SEV_ERROR, "Nesting exceeds %d levels", max_body_depth);
        ps.step = STEP_SKIP;
        return nullptr;
    }
    plug_record* plug = new_plug_record(*ps.run);
    if (ps.plug != nullptr) {
        ps.plug->next = plug;
    } else {
        ps.module->plugs = plug;
    }
    ps.plug = plug;
    ps.plug_level = 1;
    return plug;
}

// The names after `into`, newest first in the plug's list. The step is
// STEP_END_BODY on entry and stays so when the list ends with `;`.
void parse_into_list(parse_state& ps) {
    token_text name;
    token_text tok;
    for (;;) {
        if (next_raw_word(ps, name.s) == TK_END) {
            parse_report(ps, SEV_ERROR, unexpected_end);
            return;
        }
        if (!is_letter(static_cast<unsigned char>(name.s[0]))) {
            parse_report(ps, SEV_ERROR, "Illegal name in 'into' list: %s", name.s);
            ps.step = STEP_SKIP;
            return;
        }
        into_entry* entry = new_into_entry(*ps.run);
        entry->target = make_text(*ps.run, name.s);
        entry->line = ps.line;
        entry->next = ps.plug->into;
        ps.plug->into = entry;

        const int code = next_token(ps, tok.s);
        if (code == TK_SEMICOLON) return;
        if (code != TK_COMMA) {
            parse_report(ps, SEV_ERROR, "Illegal separator in 'into' list: %s", tok.s);
            ps.step = STEP_SKIP;
            return;
        }
    }
}

// `into` ends a plug body; only the top level of a plug body at module
// level may hold it.
void parse_into(parse_state& ps) {
    ps.step = STEP_END_BODY;
    if (ps.depth == 2 && ps.plug_level != 0 && ps.plug != nullptr) {
        parse_into_list(ps);
    } else {
        parse_report(ps, SEV_ERROR, "Unexpected 'into' keyword found");
        ps.step = STEP_SKIP;
    }
    ps.plug_level = 0;
}

// Reads one statement start; returns the element of a declaration, or null.
// A plug statement leaves its record in `plug` for its body to be read.
element* parse_statement(parse_state& ps, plug_record*& plug) {
    token_text tok;
    const int code = next_statement_token(ps, tok.s);
    body_frame& frame = *ps.frame;
    switch (code) {
        case TK_PAVEX:
            if (!ps.in_header) return begin_declaration(ps, code, tok.s);
            if (next_token(ps, tok.s) == TK_MODULE) {
                parse_module_statement(ps);
            } else {
                parse_report(ps, SEV_ERROR, "Expected keyword 'module'.  Got '%s'", tok.s);
                ps.step = STEP_SKIP;
            }
            return nullptr;
        case TK_MODULE:
            if (!ps.in_header) {
                parse_report(ps, SEV_ERROR,
                             "Illegal module statement within main body of definition");
            }
            parse_module_statement(ps);
            return nullptr;
        case TK_IMPORT:
            if (!ps.in_header) {
                parse_report(ps, SEV_ERROR,
                             "Illegal import statement within main body of definition");
            }
            parse_module_ref(ps, true);
            return nullptr;
        case TK_EXTENDS:
            if (!ps.in_header) {
                parse_report(ps, SEV_ERROR,
                             "Illegal mxtends statement within main body of definition");
            }
            parse_module_ref(ps, false);
            return nullptr;
        case TK_PLUG: plug = parse_plug(ps); return nullptr;
        case TK_INTO: parse_into(ps); return nullptr;
        case TK_RBRACE: ps.step = STEP_END_BODY; return nullptr;
        case TK_ENDMODULE: {
            // Only white space, not even a comment, may stand before the `;`.
            int c = read_char(ps);
            while (is_space(c)) c = read_char(ps);
            if (c == ';') {
                ps.step = STEP_END_BODY;
                ps.last_module = false;
                if (ps.depth > 1) parse_report(ps, SEV_ERROR, premature_end);
                return nullptr;
            }
            unread_char(ps, c);
            return begin_declaration(ps, code, "endmodule");
        }
        case TK_LBRACKET:
            if (frame.in_brackets)
                parse_report(ps, SEV_ERROR, "Illegal nesting of version brackets");
            frame.in_brackets = true;
            frame.brackets_seen = true;
            return nullptr;
        case TK_RBRACKET:
            if (!frame.in_brackets) {
                parse_report(ps, SEV_ERROR, "Unexpected closing version brackets");
            }
            frame.in_brackets = false;
            return nullptr;
        case TK_END:
            ps.step = STEP_END_BODY;
            if (ps.depth > 1) parse_report(ps, SEV_ERROR, premature_end);
            return nullptr;
        default: return begin_declaration(ps, code, tok.s);
    }
}

}  // namespace

element* begin_declaration(parse_state& ps, int code, const char* text) {
    ps.in_header = false;
    if (ps.frame->brackets_seen && !ps.frame->in_brackets) {
        parse_report(ps, SEV_ERROR, "Extension outside of version brackets");
    }
    element* e = new_element(ps);
    set_element_type(ps, *e, code, text);
    return e;
}

void end_body_at_premature_end(parse_state& ps) {
    parse_report(ps, SEV_ERROR, premature_end);
    ps.step = STEP_END_BODY;
}

void skip_to_statement_end(parse_state& ps) {
    token_text tok;
    for (;;) {
        switch (next_token(ps, tok.s)) {
            case TK_SEMICOLON: ps.step = STEP_STATEMENT; return;
            case TK_RBRACE: ps.step = STEP_END_BODY; return;
            case TK_END: end_body_at_premature_end(ps); return;
            default: break;
        }
    }
}

namespace {

// One body being read: its frame, where its statements append, the
// declaration it works on, and what closes it.
struct open_body {
    enum opened_by { caller, member_body, plug_body };
    body_frame frame;
    body_frame* outer_frame = nullptr;
    chain_head head{nullptr};
    element** tail = nullptr;
    element* own_tail = nullptr;  // the tail of a plug body
    declaration current;
    opened_by why = caller;
};

void enter(parse_state& ps, std::deque<open_body>& bodies, chain_head head, element** tail,
           open_body::opened_by why) {
    open_body& b = bodies.emplace_back();
    b.frame.tagged_seen = ps.plug_level == 1;  // every item of a plug body is tagged
    b.outer_frame = ps.frame;
    b.head = head;
    b.tail = tail != nullptr ? tail : &b.own_tail;
    b.why = why;
    ps.frame = &b.frame;
    ps.step = STEP_STATEMENT;
    ++ps.depth;
    if (ps.plug_level > 0) ++ps.plug_level;
}

void leave(parse_state& ps, std::deque<open_body>& bodies) {
    const open_body::opened_by why = bodies.back().why;
    ps.frame = bodies.back().outer_frame;
    bodies.pop_back();
    --ps.depth;
    if (ps.plug_level > 0) --ps.plug_level;
    if (why == open_body::member_body) {
        ps.step = STEP_AFTER_TAG;
    } else if (why == open_body::plug_body) {
        ps.plug_level = 0;
        ps.step = STEP_STATEMENT;
    }
}

// One step of the innermost body.
void step(parse_state& ps, std::deque<open_body>& bodies) {
    open_body& b = bodies.back();
    if (ps.step == STEP_STATEMENT) {
        // A new statement: the error held for the one before is written.
        if (ps.pending.active) flush_pending_error(ps);
        plug_record* plug = nullptr;
        const declaration plain = read_plain_statement(ps);
        element* e = plain.e != nullptr ? plain.e : parse_statement(ps, plug);
        b.current = declaration{e, nullptr};
        if (e != nullptr) {
            if (*b.tail != nullptr) {
                (*b.tail)->set_next(e);
            } else {
                b.head.set(e);
            }
            *b.tail = e;
        }
        if (plug != nullptr) {
            enter(ps, bodies, chain_head(&plug->elements), nullptr, open_body::plug_body);
        } else if (plain.opens_body) {
            enter(ps, bodies, chain_head::members_of(*e), &b.current.children_tail,
                  open_body::member_body);
        }
        return;
    }
    if (ps.step == STEP_SKIP || b.current.e == nullptr) {
        skip_to_statement_end(ps);
        return;
    }
    element& e = *b.current.e;
    switch (ps.step) {
        case STEP_CONSTRAINT_OR_NAME: parse_constraint_or_name(ps, e); break;
        case STEP_CONSTRAINT: parse_constraint(ps, e); break;
        case STEP_NAME: parse_name(ps, e); break;
        case STEP_AFTER_NAME: parse_after_name(ps, b.current); break;
        case STEP_CARDINALITY: parse_cardinality(ps, e); break;
        case STEP_AFTER_CARDINALITY: parse_after_cardinality(ps, b.current); break;
        case STEP_TAG: parse_tag(ps, e); break;
        case STEP_AFTER_TAG: parse_after_tag(ps, b.current); break;
        default: skip_to_statement_end(ps); break;
    }
    if (b.current.opens_body) {
        b.current.opens_body = false;
        enter(ps, bodies, chain_head::members_of(e), &b.current.children_tail,
              open_body::member_body);
    }
}

}  // namespace

void parse_body_into(parse_state& ps, chain_head head, element*& tail) {
    // The open bodies, innermost last; a deque keeps each frame in place
    // while further bodies open.
    std::deque<open_body> bodies;
    enter(ps, bodies, head, &tail, open_body::caller);
    while (!bodies.empty()) {
        if (ps.step == STEP_END_BODY) {
            leave(ps, bodies);
        } else {
            step(ps, bodies);
        }
    }
}

}  // namespace parser_steps

void parse_body(parse_state& ps, element** head) {
    element* tail = *head;
    while (tail != nullptr && tail->next() != nullptr) tail = tail->next();
    parser_steps::parse_body_into(ps, chain_head(head), tail);
}

}  // namespace qrv
