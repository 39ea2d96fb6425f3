// Step 9: qualified names, the parent's qualified name, "_" and the c_name.
// They are names for generated code, and no output reads them: what the
// step does is the check that can fail, that no name exceeds 255
// characters.
//
// Member chains shared by plug copies stand in several places, and walking
// every such place would repeat work without end, so the check works in two
// phases:
//   1. for every chain, the length its deepest name adds to a parent name
//      (unbounded when the chain reaches itself);
//   2. if any name would exceed 255 characters, the walk in source order
//      goes straight to the first such name and stops the run there.
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

}  // namespace

void build_qualified_names(run_context& run, diagnostics& diag) {
    depth_table depths(run.element_count);
    for (element* p = run.elements; p != nullptr; p = p->next()) {
        if (p->children() != nullptr && names_members(p)) depths.measure(p->children());
    }
    for (element* p = run.elements; p != nullptr; p = p->next()) {
        if (p->children() == nullptr || !names_members(p)) continue;
        if (static_cast<int>(p->c_name().size()) + depths.of(p->children()) >
            static_cast<int>(max_reference_length)) {
            stop_at_first_overflow(diag, depths, std::string(p->c_name().view()), p->children());
        }
    }
}

}  // namespace qrv
