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
#include "model/chain_walker.h"
#include "postparse/post_parse.h"

namespace qrv {

void mark_recursive(element* first) {
    constexpr std::int32_t on_path = 1;
    constexpr std::int32_t left = 2;
    chain_marks walked;
    chain_walker<> walk;

    for (element* p = first; p != nullptr; p = p->next()) {
        if (p->children() == nullptr || !walked.insert(p->children(), on_path)) continue;
        walk.enter(p->children());
        while (!walk.empty()) {
            element* q = walk.next();
            if (q == nullptr) {
                *walked.find(walk.leave().chain) = left;
                continue;
            }
            element* members = q->children();
            if (members == nullptr) continue;
            const std::int32_t* state = walked.find(members);
            if (state != nullptr && *state == on_path) q->recursive = true;
            if (q->recursive || state != nullptr) continue;
            walked.insert(members, on_path);
            walk.enter(members);
        }
    }
}

}  // namespace qrv
