// Steps 7 and 8 in one walk: members whose member chain encloses them are
// marked recursive, and identifiers that equal reserved words are renamed.
// The ordinals of step 8 are given when one is first asked for
// (ordinal_of): nothing the run writes reads them.
//
// The walk starts at the top chain and descends into every member that has
// members, carrying the chains of the current path; a member whose chain is
// on the path is marked, and a marked member is not descended into. Chains
// are identified by their first element; the top chain is no element's
// member chain.
//
// A chain is walked only the first time the walk comes to it. Coming to it
// again can mark nothing new: every member the second walk could descend
// through was unmarked during the first walk as well, so the first walk went
// the same way; a member it reaches that points to a chain on the second
// walk's path either pointed into the first walk's path too (and was marked
// then), or led the first walk into that chain, from which the way back to
// the repeated chain, then on the first walk's path, was marked. So the
// marks are those of walking every path. Renaming walks each chain once in
// the same order (a chain reached again already holds its renamed
// identifiers), so both are done on the same visit.
#include "model/chain_walker.h"
#include "postparse/post_parse.h"

namespace qrv {

bool mark_recursive_and_rename(run_context& run, diagnostics& diag, element* top) {
    constexpr unsigned on_path = 1;
    constexpr unsigned left = 2;
    chain_states walked(run.storage);
    chain_walker<> walk;
    bool unions = false;
    // Every c_name is a text of the run: without a reserved word among
    // them, no name is read on the way.
    const bool renaming = has_reserved_text(run);
    if (top != nullptr) walk.enter(top);
    while (!walk.empty()) {
        element* p = walk.next();
        if (p == nullptr) {
            const element* done = walk.leave().chain;
            if (!walk.empty()) walked.set(done, left);
            continue;
        }
        if (renaming) rename_reserved(run, diag, p);

        element* members = p->children();
        if (members == nullptr) continue;
        if (p->kind == ET_UNION && !p->has_link()) unions = true;
        const unsigned state = walked.get(members);
        if (state == on_path) p->recursive = true;
        if (p->recursive || state != 0) continue;
        walked.set(members, on_path);
        walk.enter(members);
    }
    return unions;
}

}  // namespace qrv
