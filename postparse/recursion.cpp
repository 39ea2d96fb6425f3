// Step 7: members whose member chain encloses them are marked recursive.
//
// The walk starts at the member chain of every top-level element and
// descends into every member that has members, carrying the chains of the
// current path; a member whose chain is on the path is marked, and a marked
// member is not descended into. Chains are identified by their first
// element.
//
// A chain is walked only the first time the walk comes to it. Coming to it
// again can mark nothing new: every member the second walk could descend
// through was unmarked during the first walk as well, so the first walk went
// the same way; a member it reaches that points to a chain on the second
// walk's path either pointed into the first walk's path too (and was marked
// then), or led the first walk into that chain, from which the way back to
// the repeated chain, then on the first walk's path, was marked. Marks are
// the walk's only effect, so the marks are those of walking every path.
#include <vector>

#include "postparse/post_parse.h"

namespace qrv {

void mark_recursive(element* first) {
    constexpr std::int32_t on_path = 1;
    constexpr std::int32_t left = 2;
    chain_marks walked;
    struct frame {
        element* chain;
        element* at;
    };
    std::vector<frame> stack;

    for (element* p = first; p != nullptr; p = p->next) {
        if (p->children == nullptr || !walked.insert(p->children, on_path)) continue;
        stack.push_back({p->children, p->children});
        while (!stack.empty()) {
            frame& f = stack.back();
            element* q = f.at;
            if (q == nullptr) {
                *walked.find(f.chain) = left;
                stack.pop_back();
                continue;
            }
            f.at = q->next;
            element* members = q->children;
            if (members == nullptr) continue;
            const std::int32_t* state = walked.find(members);
            if (state != nullptr && *state == on_path) q->recursive = true;
            if (q->recursive || state != nullptr) continue;
            walked.insert(members, on_path);
            stack.push_back({members, members});
        }
    }
}

}  // namespace qrv
