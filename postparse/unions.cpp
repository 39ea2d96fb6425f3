// Step 6: one chain of the distinct members of all unions.
#include <string_view>
#include <unordered_set>
#include <vector>

#include "postparse/lookup.h"
#include "postparse/post_parse.h"

namespace qrv {

// The walk enters the members of structures and unions in order, never a
// member chain that is on its current path, and never one it has walked
// completely before: everything such a chain reaches was walked already or
// lies on the path, so walking it again would add no member.
element* collect_union_members(run_context& run, element* tail, element* chain) {
    std::unordered_set<std::string_view> seen;
    for (element* u = run.union_members; u != nullptr; u = u->next_union_member) {
        seen.insert(u->c_name.view());
    }
    constexpr std::int32_t on_path = 1;
    constexpr std::int32_t left = 2;
    chain_table walked;           // chains on the path or walked completely
    chain_table collected;        // member chains of unions taken already
    std::vector<element*> stack;  // the next element of each chain on the path
    std::vector<element*> heads;

    auto enter = [&](element* members) {
        walked.insert(members, on_path);
        heads.push_back(members);
        stack.push_back(members);
    };
    if (chain != nullptr) enter(chain);

    while (!stack.empty()) {
        element* p = stack.back();
        if (p == nullptr) {
            *walked.find(heads.back()) = left;
            heads.pop_back();
            stack.pop_back();
            continue;
        }
        stack.back() = p->next;
        if (!p->link.empty()) continue;  // its members belong to its target
        if (p->kind == ET_UNION && p->children != nullptr && collected.insert(p->children, 1)) {
            for (element* u = p->children; u != nullptr; u = u->next) {
                if (!seen.insert(u->c_name.view()).second) continue;
                if (tail == nullptr) {
                    run.union_members = u;
                } else {
                    tail->next_union_member = u;
                }
                u->next_union_member = nullptr;
                tail = u;
            }
        }
        if (p->kind == ET_STRUCT || p->kind == ET_UNION) {
            element* members = p->children;
            if (members != nullptr && walked.find(members) == nullptr) {
                enter(members);
            }
        }
    }
    return tail;
}

void collect_union_members(run_context& run) { collect_union_members(run, nullptr, run.elements); }

}  // namespace qrv
