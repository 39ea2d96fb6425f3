// Step 9: qualified names, the parent's qualified name, "_" and the c_name.
//
// Member chains shared by plug copies are named once for each place they
// stand, and the last naming stays. Walking every such place would repeat
// work without end on shared chains, so the step works in three phases with
// the same result:
//   1. for every chain, the length its deepest name adds to a parent name
//      (unbounded when the chain reaches itself);
//   2. if any name would exceed 255 characters, the walk in source order
//      goes straight to the first such name and stops the run there;
//   3. otherwise the chains form no cycle, and the last place a chain is
//      reached in source order is the first place it is reached when every
//      chain is walked back to front; each chain is named once, there.
// Nothing the run writes reads the names, so phase 3 waits until a name is
// first asked for (qualified_name).
#include <algorithm>
#include <string>
#include <vector>

#include "frontend/lexer.h"
#include "model/chain_walker.h"
#include "postparse/post_parse.h"
#include "support/diagnostics.h"

namespace qrv {

namespace {

constexpr int unbounded = 1 << 20;

// The C name of the definition a resolved reference names: the name part
// of its link ("Customer" of "cmn::Customer") with '-' as '_'. Resolution
// found the definition by that name, and a definition's C name is its name
// so changed until reserved words are renamed, after resolution.
std::string reference_c_name(std::string_view link) {
    std::string_view name = link;
    const std::size_t colon = link.find("::");
    if (colon != std::string_view::npos) {
        name = link.substr(colon + 2);
        name = name.substr(0, name.find(':'));
    }
    return to_c_name(name);
}

bool names_members(const element* q) { return !q->has_link(); }

int added_length(const element* q) { return 1 + static_cast<int>(q->c_name().size()); }

// Phase 1: the longest text a chain adds below a parent name.
class depth_table {
public:
    explicit depth_table(std::size_t ids) : length_(ids) {}
    int of(const element* chain) { return *length_.find(chain); }

    void measure(element* root) {
        if (!length_.insert(root, open)) return;
        struct lengths {
            int longest;
            int pending;  // what the member being measured adds itself
        };
        chain_walker<lengths> walk;
        walk.enter(root, {0, 0});
        while (!walk.empty()) {
            element* q = walk.next();
            if (q == nullptr) {
                const auto done = walk.leave();
                int longest = std::min(done.data.longest, unbounded);
                *length_.find(done.chain) = longest;
                if (!walk.empty()) {
                    lengths& parent = walk.innermost().data;
                    parent.longest = std::max(parent.longest, parent.pending + longest);
                }
                continue;
            }
            if (!names_members(q)) continue;
            lengths& f = walk.innermost().data;
            int own = added_length(q);
            element* members = q->children();
            if (members == nullptr) {
                f.longest = std::max(f.longest, own);
            } else if (const std::int32_t* known = length_.find(members)) {
                // A chain still open reaches itself: its names never end.
                f.longest = *known == open ? unbounded : std::max(f.longest, own + *known);
            } else {
                f.pending = own;
                length_.insert(members, open);
                walk.enter(members, {0, 0});
            }
        }
    }

private:
    static constexpr std::int32_t open = -1;
    chain_marks length_;
};

// Phase 2: from a parent whose names overflow somewhere below, follow the
// first overflowing member in source order and stop the run there.
[[noreturn]] void stop_at_first_overflow(diagnostics& diag, depth_table& depths, std::string parent,
                                         const element* chain) {
    const int limit = static_cast<int>(max_reference_length);
    for (;;) {
        const element* next = nullptr;
        for (const element* q = chain; q != nullptr; q = q->next()) {
            if (!names_members(q)) continue;
            int length = static_cast<int>(parent.size()) + added_length(q);
            if (length > limit) {
                note(diag, "FATAL: Constructed type name is too long: %s_%s\n", parent.c_str(),
                     q->c_name().c_str());
                throw fatal_stop{1};
            }
            if (q->children() != nullptr && length + depths.of(q->children()) > limit) {
                next = q;
                break;
            }
        }
        if (next == nullptr) throw fatal_stop{1};  // not reached: the table said so
        parent += '_';
        parent += next->c_name().view();
        chain = next->children();
    }
}

// Phase 3: every chain named from the last place it is reached. The stack
// holds members still to be named, so that a chain's members come off it
// back to front and each member's own chain is named before its earlier
// siblings.
void name_members(run_context& run, chain_marks& named, const element* parent, element* chain) {
    struct pending {
        element* member;
        const element* parent;
    };
    std::vector<pending> stack;
    auto push_chain = [&](element* first, const element* named_by) {
        for (element* q = first; q != nullptr; q = q->next()) stack.push_back({q, named_by});
    };
    push_chain(chain, parent);
    while (!stack.empty()) {
        pending top = stack.back();
        stack.pop_back();
        element* q = top.member;
        if (!names_members(q)) continue;
        q->set_qualified_form(element::QUALIFIED_MEMBER);
        run.naming_parents[q->id] = top.parent;
        if (q->children() != nullptr && named.insert(q->children(), 1)) {
            push_chain(q->children(), q);
        }
    }
}

}  // namespace

void build_qualified_names(run_context& run, diagnostics& diag) {
    depth_table depths(run.element_count);
    for (element* p = run.elements; p != nullptr; p = next_ahead(p)) {
        p->set_qualified_form(element::QUALIFIED_OWN);
        if (p->children() != nullptr && names_members(p)) depths.measure(p->children());
    }
    for (element* p = run.elements; p != nullptr; p = next_ahead(p)) {
        if (p->children() == nullptr || !names_members(p)) continue;
        if (static_cast<int>(p->c_name().size()) + depths.of(p->children()) >
            static_cast<int>(max_reference_length)) {
            stop_at_first_overflow(diag, depths, std::string(p->c_name().view()), p->children());
        }
    }
    run.qualified_names_due = true;
}

std::string qualified_name(run_context& run, const element& e) {
    if (run.qualified_names_due) {
        run.qualified_names_due = false;
        name_all_members(run);
    }
    // The elements from `e` up to the one whose qualified name is not made
    // from a parent's; their names joined by "_" from the top down.
    std::vector<const element*> path;
    const element* at = &e;
    while (at->qualified_form() == element::QUALIFIED_MEMBER) {
        path.push_back(at);
        at = run.naming_parents[at->id];
    }
    std::string name;
    switch (at->qualified_form()) {
        case element::QUALIFIED_OWN: name = at->c_name().view(); break;
        case element::QUALIFIED_REFERENCE: name = reference_c_name(at->link().view()); break;
        default: name = text{uninitialised_marker}.view(); break;
    }
    for (auto it = path.rbegin(); it != path.rend(); ++it) {
        name += '_';
        name += (*it)->c_name().view();
    }
    return name;
}

void name_all_members(run_context& run) {
    std::vector<element*> top;
    for (element* p = run.elements; p != nullptr; p = next_ahead(p)) top.push_back(p);
    run.naming_parents.assign(run.element_count, nullptr);
    chain_marks named(run.element_count);
    for (auto it = top.rbegin(); it != top.rend(); ++it) {
        element* p = *it;
        if (p->children() == nullptr || !names_members(p)) continue;
        if (named.insert(p->children(), 1)) name_members(run, named, p, p->children());
    }
}

}  // namespace qrv
