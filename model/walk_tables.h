// Side tables of the walks over member chains: each walk keeps its
// visit-once marks in a table of its own, keyed by element, so that nothing
// is written into the elements and two walks never share marks.
#pragma once

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "model/records.h"
#include "model/storage.h"

namespace qrv {

// Marks of one walk over member chains, a chain known by its first
// element: a side table owned by the walk, keyed by element number. Each
// walk has its own; nothing is kept in the elements.
class chain_marks {
public:
    chain_marks() = default;
    // Room for the elements numbered below `ids` at once (a walk of every
    // chain of the run), so that the table is not copied as it grows.
    explicit chain_marks(std::size_t ids) : values_(ids, absent) {}

    // The value stored for `chain`, or null.
    std::int32_t* find(const element* chain) {
        return chain->id < values_.size() && values_[chain->id] != absent ? &values_[chain->id]
                                                                          : nullptr;
    }
    const std::int32_t* find(const element* chain) const {
        return chain->id < values_.size() && values_[chain->id] != absent ? &values_[chain->id]
                                                                          : nullptr;
    }
    // Stores `value` for `chain` unless it has a value; true when stored.
    bool insert(const element* chain, std::int32_t value) {
        if (chain->id >= values_.size()) grow(chain->id);
        std::int32_t& v = values_[chain->id];
        if (v != absent) return false;
        v = value;
        return true;
    }
    void erase(const element* chain) {
        if (chain->id < values_.size()) values_[chain->id] = absent;
    }

private:
    static constexpr std::int32_t absent = INT32_MIN;
    void grow(std::uint32_t id) {
        std::size_t size = values_.size() < 1024 ? 1024 : values_.size();
        while (size <= id) size *= 2;
        values_.resize(size, absent);
    }
    std::vector<std::int32_t> values_;
};

// The same for walks that need only a few states: a state from 1 to 3 per
// chain (0: none), four chains to a byte, so that the table of a large run
// stays in the processor's cache. A chain is known by where its first
// element lies in the storage, so that its state is found without reading
// the element. The table makes room for every element of the storage when
// a state is first set, and grows if the storage does.
class chain_states {
public:
    explicit chain_states(const model_storage& storage) : storage_(&storage) {}

    unsigned get(const element* chain) const {
        const std::size_t k = key(chain);
        return k / 4 < bits_.size() ? (bits_[k / 4] >> (k % 4 * 2)) & 3u : 0u;
    }
    void set(const element* chain, unsigned state) {
        const std::size_t k = key(chain);
        if (k / 4 >= bits_.size()) {
            if (state == 0) return;
            bits_.resize(std::max(k / 4 + 1 + bits_.size() / 2, all_bytes()), 0);
        }
        std::uint8_t& b = bits_[k / 4];
        const unsigned shift = k % 4 * 2;
        b = static_cast<std::uint8_t>((b & ~(3u << shift)) | ((state & 3u) << shift));
    }

private:
    // Elements are cut from the storage on their own cache lines: the
    // number of the line an element begins on is its key.
    std::size_t key(const element* chain) const {
        return (storage_->place_of(chain) - 1) / (sizeof(element) / 8);
    }
    std::size_t all_bytes() const { return storage_->used() / (4 * sizeof(element)) + 1; }
    const model_storage* storage_;
    std::vector<std::uint8_t> bits_;
};

}  // namespace qrv
