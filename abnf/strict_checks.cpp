// The checks of the strict grammar mode, run before anything is written.
// Each finding is a counted error at the file and line where the element
// concerned was declared:
//
// - a reversed cardinality, a reversed range, a negative size;
// - a structure that contains itself through required members only (no
//   finite message exists);
// - a union that can begin with itself through untagged alternatives (left
//   recursion, which recursive-descent parsers cannot take);
// - untagged members the encoding cannot tell apart, and untagged void
//   members (the default generator's notes, counted here);
// - kinds without a form: a member of a combination that is not an
//   integer, a constant or an unquoted ASCII text, and a reference that was
//   never resolved.
//
// Every member chain is walked once, from an explicit stack; the two
// recursion checks look for cycles among member chains with one iterative
// pass over the strongly connected components. Everything is linear in the
// number of elements.
#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <utility>
#include <vector>

#include "abnf/strict_grammar.h"
#include "encoding/encoding.h"
#include "encoding/finite_messages.h"
#include "postparse/schema_checks.h"
#include "support/diagnostics.h"

namespace qrv {

namespace {

using node_id = chain_graph::node_id;
using edge_list = chain_graph::edge_list;

// One member chain: the element that declared it and where.
struct chain_node {
    const element* owner = nullptr;
    const char* file = nullptr;
};

const char* path_of(const module_record* m) { return m != nullptr ? m->path.c_str() : nullptr; }

bool is_size_kind(element_kind k) { return row_of(k).bounds == bounds_kind::size; }

bool is_combi_member_kind(element_kind k) { return row_of(k).combination; }

std::int64_t signed_bound(std::uint32_t magnitude, bool negative) {
    return negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
}

class strict_checker {
public:
    strict_checker(const run_context& run, diagnostics& diag) : run_(run), diag_(diag) {}

    int check() {
        const std::int64_t before = diag_.error_count;
        // Two rules of one name: no grammar can have both.
        report_duplicate_definitions(run_, diag_);
        const std::vector<const module_record*> modules = declaring_modules(run_);
        std::size_t i = 0;
        for (const element* p = run_.elements; p != nullptr; p = p->next(), ++i) {
            const char* file = path_of(i < modules.size() ? modules[i] : p->module());
            check_element(*p, file);
            if (p->children() != nullptr && !p->has_link()) walk_from(p, file);
        }
        // The finite-message answer the example writer relies on too.
        report_cycles(find_finite_messages(nodes_.size(), std::move(required_)).on_cycle,
                      "%s contains itself through required members only: no finite "
                      "message exists");
        report_cycles(left_.empty() ? std::vector<bool>() : on_cycle(nodes_.size(), left_),
                      "%s can begin with itself through untagged union alternatives "
                      "(left recursion)");
        return static_cast<int>(diag_.error_count - before);
    }

private:
    node_id node_of(const element* chain) {
        if (const std::int32_t* id = chains_.find(chain)) return static_cast<node_id>(*id);
        chains_.insert(chain, static_cast<std::int32_t>(nodes_.size()));
        nodes_.emplace_back();
        return static_cast<node_id>(nodes_.size() - 1);
    }

    // Claims the chain of `owner` for the walk; false when it was walked.
    bool claim(const element* owner, const char* file, node_id* id) {
        *id = node_of(owner->children());
        chain_node& n = nodes_[*id];
        if (n.owner != nullptr) return false;
        n.owner = owner;
        n.file = file;
        walk_order_.push_back(*id);
        return true;
    }

    void walk_from(const element* top, const char* file) {
        node_id id;
        if (!claim(top, file, &id)) return;
        std::vector<node_id> stack{id};
        while (!stack.empty()) {
            const node_id at = stack.back();
            stack.pop_back();
            check_members(at, stack);
        }
    }

    void error(const char* file, const element& e, const char* format, ...) QRV_PRINTF(4, 5) {
        std::va_list args;
        va_start(args, format);
        if (!diag_.file_positions) {
            vreport_at(diag_, file, e.line(), SEV_ERROR, format, args);
            va_end(args);
            return;
        }
        char text[512];
        std::vsnprintf(text, sizeof text, format, args);
        va_end(args);
        report_place(diag_, place_of(run_, diag_, e, e.name().view(), file), SEV_ERROR, text);
    }

    // What is wrong with an element on its own: its cardinality, its range
    // and whether its kind has a form.
    void check_element(const element& e, const char* file) {
        const char* name = e.name().c_str();
        if (e.has_cardinality && !e.cardinality_unbounded &&
            e.cardinality_min > e.cardinality_max) {
            report_place_f(diag_, place_of(run_, diag_, e, name, file), SEV_ERROR, {},
                           "Reversed cardinality [%u..%u] of %s", e.cardinality_min,
                           e.cardinality_max, name);
        }
        if (e.constrained && row_of(e.kind).bounds != bounds_kind::none) {
            const char* lo_sign = e.min_negative ? "-" : "";
            const char* hi_sign = e.max_negative ? "-" : "";
            if (is_size_kind(e.kind) && (e.min_negative || e.max_negative)) {
                report_place_f(diag_, place_of(run_, diag_, e, name, file), SEV_ERROR, {},
                               "Negative size <%s%u..%s%u> of %s", lo_sign, e.min, hi_sign, e.max,
                               name);
            } else if (signed_bound(e.min, e.min_negative) > signed_bound(e.max, e.max_negative)) {
                report_place_f(diag_, place_of(run_, diag_, e, name, file), SEV_ERROR, {},
                               "Reversed range <%s%u..%s%u> of %s", lo_sign, e.min, hi_sign, e.max,
                               name);
            }
        }
        if (e.kind == ET_LINK) {
            const char* link = !e.has_link() ? name : e.link().c_str();
            report_place_f(diag_, place_of(run_, diag_, e, link, file), SEV_ERROR, {},
                           "Unable to find definition for: %s", link);
        } else if (e.kind > ET_LINK) {
            report_place_f(diag_, place_of(run_, diag_, e, name, file), SEV_ERROR, {},
                           "Encountered unexpected type (%u): %s", static_cast<unsigned>(e.kind),
                           name);
        }
    }

    // The members of one chain: each on its own, the rules of its body, and
    // the edges of the two recursion graphs. Bodies declared in place below
    // go on the stack.
    void check_members(node_id at, std::vector<node_id>& stack) {
        const element& body = *nodes_[at].owner;
        const char* body_file = nodes_[at].file;
        const element_kind kind = body.kind;
        bool integer_seen = false;       // an untagged integer alternative
        bool optional_untagged = false;  // an untagged optional member
        for (const element* m = body.children(); m != nullptr; m = m->next()) {
            // Plugged copies were declared in the plug statement's file.
            const char* file = m->is_copy ? path_of(m->module()) : body_file;
            const char* name = m->name().c_str();
            const bool untagged = !m->has_tag();
            check_element(*m, file);

            if (kind == ET_COMBINED) {
                if (!is_combi_member_kind(m->kind) && m->kind != ET_LINK) {
                    error(file, *m, "Type of %s not allowed in constructed type", name);
                }
            } else if (kind == ET_UNION) {
                if (untagged && m->kind != ET_INTEGER) {
                    error(file, *m, "Only an integer can be untagged in a union: %s", name);
                } else if (untagged && integer_seen) {
                    error(file, *m, "Only one INTEGER can be untagged in a CHOICE: %s", name);
                } else if (untagged) {
                    integer_seen = true;
                }
            } else {
                if (untagged && m->has_cardinality) optional_untagged = true;
                if (optional_untagged && !m->has_cardinality) {
                    error(file, *m,
                          "All parameters following untagged optional parameter must also be "
                          "OPTIONAL: %s",
                          name);
                }
            }
            if (kind != ET_COMBINED && untagged && m->kind == ET_NULL) {
                error(file, *m, "void types can not be untagged: %s", name);
            }

            if (m->children() == nullptr) continue;
            if (in_every_value(kind, *m)) {
                required_.emplace_back(at, node_of(m->children()));
            }
            if (kind == ET_UNION && untagged && m->kind == ET_UNION) {
                left_.emplace_back(at, node_of(m->children()));
            }
            node_id below;
            if (!m->has_link() && claim(m, file, &below)) stack.push_back(below);
        }
    }

    void report_cycles(const std::vector<bool>& cyclic, const char* format) {
        if (cyclic.empty()) return;
        for (node_id id : walk_order_) {
            if (!cyclic[id]) continue;
            const chain_node& n = nodes_[id];
            error(n.file, *n.owner, format, n.owner->name().c_str());
        }
    }

    const run_context& run_;
    diagnostics& diag_;
    chain_marks chains_;
    std::vector<chain_node> nodes_;
    std::vector<node_id> walk_order_;
    edge_list required_;
    edge_list left_;
};

}  // namespace

int check_strict_grammar(const run_context& run, diagnostics& diag) {
    strict_checker checker(run, diag);
    return checker.check();
}

}  // namespace qrv
