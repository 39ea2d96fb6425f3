// The one walk over member chains: an explicit stack of the chains on the
// current path, each with the member the walk stands on, so that nesting
// costs heap and not stack. What a pass does on the way, and which chains
// it enters (its visit-once marks, a chain_marks of its own), is the pass's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "model/model.h"

namespace qrv {

struct no_frame_data {};

template <class Data = no_frame_data>
class chain_walker {
public:
    struct frame {
        element* chain;  // the chain's first element: the chain's identity
        element* at;     // the member to take next
        Data data;       // what the pass keeps for the chain while it is open
    };

    // Opens `chain` below the chains on the path. A chain's members are
    // mostly cut from the storage one after another, and a walk mostly
    // enters a chain far from where it stood: the lines of the first eight
    // are asked for at once, instead of one by one as the walk reaches them
    // (the one read-ahead hint of the passes; see docs/design.md).
    void enter(element* chain, Data data = {}) {
        // Addresses, not pointers: the lines may lie past the storage's end.
        const auto at = reinterpret_cast<std::uintptr_t>(chain);
        for (std::size_t k = 0; chain != nullptr && k < lines_ahead; ++k) {
            __builtin_prefetch(reinterpret_cast<const void*>(at + k * sizeof(element)));
        }
        stack_.push_back(frame{chain, chain, data});
    }
    // The next member of the innermost chain, or null when that chain is
    // done; the walk stands after it. The innermost chain stays open until
    // leave().
    element* next() {
        frame& f = stack_.back();
        element* e = f.at;
        if (e != nullptr) f.at = e->next();
        return e;
    }
    // Closes the innermost chain and gives back its frame.
    frame leave() {
        frame f = stack_.back();
        stack_.pop_back();
        return f;
    }
    bool empty() const { return stack_.empty(); }
    std::size_t depth() const { return stack_.size(); }
    frame& innermost() { return stack_.back(); }

private:
    static constexpr std::size_t lines_ahead = 8;
    std::vector<frame> stack_;
};

}  // namespace qrv
