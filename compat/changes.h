// The structural comparison of two versions of the definitions: what
// changed between the old and the new definition of each qualified name,
// and, for each direction, whether the change keeps every message (decided
// from the encoding), loses some (a witness message shows it) or depends on
// more than the structure says (a witness is searched for).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/model.h"

namespace qrv::compat {

enum class verdict : std::uint8_t {
    keeps,    // every message of the one version is a message of the other
    loses,    // some is not: a witness is built from the hints below
    depends,  // the structure alone does not tell: a witness is searched for
};

// Where a witness of one version is to show the change: the members that
// stand on the way to it, and what the last of them takes. Elements are
// those of that version's run.
struct witness_hints {
    std::vector<const element*> path;  // from the root's member down
    std::optional<std::uint64_t> count;
    std::optional<std::int64_t> integer;
    std::optional<std::uint64_t> length;
    // A member of the other version that this one lacks (or whose tag it
    // lacks): an extension parameter with its tag, in the body of
    // `extension_in` (a member on `path`; null: the definition), where
    // that member would stand.
    std::string extension_tag;
    const element* extension_in = nullptr;
};

struct change {
    const element* old_definition = nullptr;
    const element* new_definition = nullptr;  // null: the definition was removed
    std::string path;                         // OrderRequest.items.qty
    std::string words;                        // range narrowed from 1..100 to 1..50
    // Where it is reported: an element of the new version, or of the old
    // one for a definition removed.
    const element* place = nullptr;
    bool place_in_old = false;
    // Backward: the old version's messages under the new one; forward:
    // the new version's under the old one.
    verdict backward = verdict::keeps;
    verdict forward = verdict::keeps;
    witness_hints old_hints;  // for a backward witness, a message of the old version
    witness_hints new_hints;  // for a forward one
};

// The changes from `old_run` to `new_run`, both after a successful
// post-parse: of every top-level definition of the old version in its
// order (or of those `only` reaches, a definition of the old version), then
// the definitions added. One pass over both versions.
std::vector<change> find_changes(const run_context& old_run, const run_context& new_run,
                                 const element* only = nullptr);

}  // namespace qrv::compat
