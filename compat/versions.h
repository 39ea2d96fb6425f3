// The two versions a comparison reads (compat/compare.cpp): each one's
// top-level definitions with their qualified names, found by name and by
// the member chain a reference shares.
#pragma once

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
    const run_context& run;
    std::vector<const element*> definitions;  // the top-level chain
    std::vector<std::string> names;           // their qualified names
    // By qualified name, built for the version looked up in.
    std::unordered_map<std::string_view, const element*> by_name;
    // The definition whose member chain a reference shares, by the id of
    // the chain's first member.
    std::vector<const element*> by_members;

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
            for (i = 0; i < definitions.size(); ++i) by_name.emplace(names[i], definitions[i]);
        }
        by_members.assign(r.element_count, nullptr);
        for (const element* e : definitions) {
            if (has_body_kind(*e) && e->children() != nullptr &&
                by_members[e->children()->id] == nullptr) {
                by_members[e->children()->id] = e;
            }
        }
    }

    // The definition a reference member stands for (a structure, union or
    // combination with members), or null.
    const element* target_of(const element& m) const {
        if (!m.has_link() || !has_body_kind(m) || m.children() == nullptr) return nullptr;
        return by_members[m.children()->id];
    }
};

}  // namespace qrv::compat
