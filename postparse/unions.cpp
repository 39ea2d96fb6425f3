// Step 6: one chain of the distinct members of all unions.
#include <string_view>
#include <unordered_set>

#include "model/chain_walker.h"
#include "postparse/post_parse.h"

namespace qrv {

// The walk enters the members of structures and unions in order, never a
// member chain that is on its current path, and never one it has walked
// completely before: everything such a chain reaches was walked already or
// lies on the path, so walking it again would add no member.
void collect_union_members(run_context& run, element* chain) {
    std::unordered_set<std::string_view> seen;
    for (const element* u : run.union_members) seen.insert(u->c_name().view());
    // One mark per chain: on the path or walked completely, and whether it
    // is the member chain of a union whose members were taken already.
    constexpr std::int32_t on_path = 1;
    constexpr std::int32_t left = 2;
    constexpr std::int32_t collected = 4;
    chain_marks marks(run.element_count);
    auto state_of = [&marks](element* members) {
        const std::int32_t* state = marks.find(members);
        return state == nullptr ? 0 : *state;
    };
    auto set_state = [&marks](element* members, std::int32_t state) {
        if (!marks.insert(members, state)) *marks.find(members) = state;
    };
    chain_walker<> walk;

    auto enter = [&](element* members) {
        set_state(members, state_of(members) | on_path);
        walk.enter(members);
    };
    if (chain != nullptr) enter(chain);

    while (!walk.empty()) {
        element* p = walk.next();
        if (p == nullptr) {
            element* done = walk.leave().chain;
            set_state(done, (state_of(done) & ~on_path) | left);
            continue;
        }
        if (p->has_link()) continue;  // its members belong to its target
        if (p->kind == ET_UNION && p->children() != nullptr &&
            (state_of(p->children()) & collected) == 0) {
            set_state(p->children(), state_of(p->children()) | collected);
            for (element* u = p->children(); u != nullptr; u = u->next()) {
                if (seen.insert(u->c_name().view()).second) run.union_members.push_back(u);
            }
        }
        if (p->kind == ET_STRUCT || p->kind == ET_UNION) {
            element* members = p->children();
            if (members != nullptr && (state_of(members) & (on_path | left)) == 0) {
                enter(members);
            }
        }
    }
}

void collect_union_members(run_context& run) { collect_union_members(run, run.elements); }

}  // namespace qrv
