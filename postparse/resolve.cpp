// Step 4: references to named definitions take over what they name.
#include <algorithm>
#include <climits>
#include <cstdint>

#include "model/chain_walker.h"
#include "postparse/post_parse.h"
#include "support/diagnostics.h"

namespace qrv {

namespace {

constexpr int max_lookups = 10;

bool is_constructed(element_kind k) { return k == ET_STRUCT || k == ET_UNION || k == ET_COMBINED; }

// The cardinality of `t` goes to `e` unless `e` has one of its own.
void merge_cardinality(run_context& run, diagnostics& diag, const element* t, element* e) {
    if (!e->has_cardinality) {
        e->has_cardinality = t->has_cardinality;
        e->cardinality_min = t->cardinality_min;
        e->cardinality_max = t->cardinality_max;
        e->cardinality_unbounded = t->cardinality_unbounded;
    } else if (t->has_cardinality) {
        // At the reference (with file positions; without, at no place).
        source_place place;
        if (diag.file_positions) place = place_of(run, diag, *e, e->name().view());
        report_place_f(diag, place, SEV_ERROR, {},
                       "Illegal duplicate cardinality in original and target definitions of "
                       "linked type %s from %s\n",
                       t->name().c_str(), e->name().c_str());
    }
}

}  // namespace

int resolve_reference(run_context& run, diagnostics& diag, module_record* module, element* e) {
    module_record* current = module;
    const element* named = nullptr;  // what the reference itself names
    for (int attempt = 0; attempt < max_lookups; ++attempt) {
        module_record* found = nullptr;
        std::string_view name;
        const text link = e->link();
        if (!locate_module(run, current, current->imports, link.view(), &found, &name)) {
            return 0;
        }
        current = found;
        // A reference without a module part is itself the name.
        element* t = name.size() == link.size() ? run.names.find(current->elements, link)
                                                : run.names.find(current->elements, name);
        if (t == nullptr) continue;  // the next attempt looks again
        if (named == nullptr) named = t;
        if (t->kind == ET_LINK) {
            // Follow the chain: the next attempt resolves t's reference
            // relative to t's module.
            e->set_link(t->link());
            merge_cardinality(run, diag, t, e);
            continue;
        }
        e->kind = t->kind;
        e->constrained = t->constrained;
        e->min = t->min;
        e->max = t->max;
        e->min_negative = t->min_negative;
        e->max_negative = t->max_negative;
        // A const's text is its value: without it the member would match
        // only the empty text.
        e->set_const_value(t->const_value());
        e->set_children(t->children());
        if (diag.file_positions) run.declared_in.try_emplace(e, e->module());
        if (run.docs != nullptr)
            run.docs->references.try_emplace(e->id, doc_notes::resolved{named, e->module()});
        e->set_module(t->module());
        merge_cardinality(run, diag, t, e);
        // A reference to a type with members keeps its link: it stands
        // for that type's rule.
        if (!is_constructed(t->kind)) e->set_link(text{});
        return 1;
    }
    return 0;
}

namespace {

// What the walk keeps for each chain on its path.
struct chain_state {
    int depth;        // position on the current path
    int low_cut;      // shallowest path position the walk below was cut at
    bool may_change;  // walking it again could resolve or report something
};

}  // namespace

// The walk enters the members of structures and unions, never a member chain
// that is already on its path (a plug body plugged into itself, or shared by
// copies whose member refers back). A chain is settled, and not walked
// again, once a walk of it went through everything it reaches: no reference
// below it was resolved to a structure or union whose members that walk did
// not enter, and no chain outside that walk was met on the path. A reference
// that could not be resolved is reported and then left alone, so walking the
// chain again would resolve, report and enter nothing new.
void resolve_references(run_context& run, diagnostics& diag) {
    // Per chain: its depth while on the path, else left or settled.
    constexpr std::int32_t left = -1;
    constexpr std::int32_t settled = -2;
    chain_marks chains(run.element_count);
    chain_marks failed;  // references reported once
    chain_walker<chain_state> walk;

    for (module_record* m = run.modules; m != nullptr; m = m->next) {
        walk.enter(m->elements, {0, INT_MAX, false});
        if (m->elements != nullptr) chains.insert(m->elements, 0);
        while (!walk.empty()) {
            element* e = walk.next();
            if (e == nullptr) {
                const auto done = walk.leave();
                if (done.chain != nullptr) {
                    bool clean = !done.data.may_change && done.data.low_cut >= done.data.depth;
                    *chains.find(done.chain) = clean && !walk.empty() ? settled : left;
                }
                if (walk.empty()) break;
                chain_state& parent = walk.innermost().data;
                parent.may_change = parent.may_change || done.data.may_change;
                parent.low_cut = std::min(parent.low_cut, done.data.low_cut);
                continue;
            }
            chain_state& f = walk.innermost().data;
            element_kind kind = e->kind;
            if (kind == ET_STRUCT || kind == ET_UNION) {
                element* members = e->children();
                if (members == nullptr) continue;
                int depth = f.depth + 1;
                if (std::int32_t* state = chains.find(members)) {
                    if (*state == settled) continue;
                    if (*state >= 0) {
                        f.low_cut = std::min(f.low_cut, static_cast<int>(*state));
                        continue;
                    }
                    *state = depth;
                } else {
                    chains.insert(members, depth);
                }
                walk.enter(members, {depth, INT_MAX, false});
            } else if (kind == ET_LINK) {
                // An element that failed once is reported once: met again
                // through a chain shared by plug copies, it is passed over.
                if (failed.find(e) != nullptr) continue;
                if (resolve_reference(run, diag, m, e) == 1) {
                    // Now a structure or union, it is descended into when
                    // its chain is walked again: its members were not
                    // walked here.
                    if ((e->kind == ET_STRUCT || e->kind == ET_UNION) && e->children() != nullptr) {
                        f.may_change = true;
                    }
                } else {
                    failed.insert(e, 1);
                    report_unresolved(run, diag, m, e);
                }
            }
        }
    }
}

}  // namespace qrv
