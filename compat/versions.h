// The two versions a comparison reads (compat/compare.cpp): each one's
// top-level definitions with their qualified names, found by name and by
// the member chain a reference shares.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "encoding/encoding.h"
#include "model/model.h"

namespace qrv::compat {

struct pair_hash {
    std::size_t operator()(const std::pair<const void*, const void*>& p) const {
        return std::hash<const void*>()(p.first) * 31 + std::hash<const void*>()(p.second);
    }
};

struct version {
    static constexpr std::uint32_t none = ~std::uint32_t{0};

    const run_context& run;
    std::vector<const element*> definitions;  // the top-level chain
    std::vector<std::string> names;           // their qualified names
    // The index of each definition by its qualified name, built for the
    // version looked up in.
    std::unordered_map<std::string_view, std::uint32_t> by_name;

    version(const run_context& r, bool named) : run(r) {
        const std::vector<const module_record*> modules = declaring_modules(r);
        std::size_t i = 0;
        for (const element* e = r.elements; e != nullptr; e = e->next(), ++i) {
            definitions.push_back(e);
        }
        names.reserve(definitions.size());
        for (i = 0; i < definitions.size(); ++i) {
            const module_record* m = i < modules.size() ? modules[i] : definitions[i]->module();
            std::string q = m != nullptr ? std::string(m->name.view()) : std::string();
            q += "::";
            q += definitions[i]->name().view();
            names.push_back(std::move(q));
        }
        if (named) {
            by_name.reserve(definitions.size());
            for (i = 0; i < definitions.size(); ++i) {
                by_name.emplace(names[i], static_cast<std::uint32_t>(i));
            }
        }
        std::size_t lines = 0;
        for (const element* e : definitions) {
            if (has_body_kind(*e) && e->children() != nullptr) {
                lines = std::max<std::size_t>(lines, line_of(e->children()) + 1);
            }
        }
        by_members_.assign(lines, 0);
        for (i = 0; i < definitions.size(); ++i) {
            const element* e = definitions[i];
            if (has_body_kind(*e) && e->children() != nullptr) {
                std::uint32_t& slot = by_members_[line_of(e->children())];
                if (slot == 0) slot = static_cast<std::uint32_t>(i + 1);
            }
        }
    }

    // The index of the definition a reference member stands for (a
    // structure, union or combination with members), or none. The member
    // chain is known by where it lies, without reading it.
    std::uint32_t target_index(const element& m) const {
        if (!m.has_link() || !has_body_kind(m) || m.children() == nullptr) return none;
        const std::size_t line = line_of(m.children());
        return line < by_members_.size() ? by_members_[line] - 1 : none;
    }
    const element* target_of(const element& m) const {
        const std::uint32_t i = target_index(m);
        return i == none ? nullptr : definitions[i];
    }

private:
    // Elements are cut from the storage on cache lines of their own: the
    // number of the line an element begins on is its key.
    std::size_t line_of(const element* e) const {
        return (run.storage.place_of(e) - 1) / (sizeof(element) / 8);
    }

    // The definition whose member chain a reference shares, by the line of
    // the chain's first member: 1 + its index, or 0.
    std::vector<std::uint32_t> by_members_;
};

}  // namespace qrv::compat
