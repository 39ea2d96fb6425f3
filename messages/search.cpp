#include "messages/search.h"

namespace qrv {

bool fingerprint_set::contains(std::uint64_t key) const {
    if (slots_.empty()) return false;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = key & mask;; i = (i + 1) & mask) {
        if (slots_[i] == key) return true;
        if (slots_[i] == 0) return false;
    }
}

void fingerprint_set::insert(std::uint64_t key) {
    if (2 * (used_ + 1) > slots_.size()) {
        if (slots_.size() >= max_slots_) {
            std::fill(slots_.begin(), slots_.end(), 0);
            used_ = 0;
        } else {
            std::vector<std::uint64_t> old = std::move(slots_);
            slots_.assign(old.empty() ? 1024 : 2 * old.size(), 0);
            used_ = 0;
            for (std::uint64_t k : old) {
                if (k != 0) put(k);
            }
        }
    }
    put(key);
}

void fingerprint_set::put(std::uint64_t key) {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = key & mask;; i = (i + 1) & mask) {
        if (slots_[i] == key) return;
        if (slots_[i] == 0) {
            slots_[i] = key;
            ++used_;
            return;
        }
    }
}

std::size_t body_index::home(const void* definition, std::size_t at) const {
    const auto d = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(definition));
    return static_cast<std::size_t>(mix(d, at)) & (slots_.size() - 1);
}

const std::uint32_t* body_index::find(const void* definition, std::size_t at) const {
    if (slots_.empty()) return nullptr;
    for (std::size_t i = home(definition, at);; i = (i + 1) & (slots_.size() - 1)) {
        const slot& s = slots_[i];
        if (s.definition == nullptr) return nullptr;
        if (s.definition == definition && s.at == at) return &s.entry;
    }
}

void body_index::insert(const void* definition, std::size_t at, std::uint32_t entry) {
    if (2 * (used_ + 1) > slots_.size()) {
        std::vector<slot> old = std::move(slots_);
        slots_.assign(old.empty() ? 256 : 2 * old.size(), slot{});
        used_ = 0;
        for (const slot& s : old) {
            if (s.definition != nullptr) insert(s.definition, s.at, s.entry);
        }
    }
    for (std::size_t i = home(definition, at);; i = (i + 1) & (slots_.size() - 1)) {
        slot& s = slots_[i];
        if (s.definition == definition && s.at == at) return;  // the first settled stays
        if (s.definition == nullptr) {
            s = {definition, at, entry};
            ++used_;
            return;
        }
    }
}

}  // namespace qrv
