#include "postparse/lookup.h"

#include "postparse/post_parse.h"

namespace qrv {

module_record* name_lookup::module_named(std::string_view name) {
    if (!modules_indexed_) {
        for (module_record* m = run_.modules; m != nullptr; m = m->next) {
            modules_.emplace(m->name.view(), m);  // keeps the first of a name
        }
        modules_indexed_ = true;
    }
    auto it = modules_.find(name);
    return it == modules_.end() ? nullptr : it->second;
}

bool name_lookup::alias_target(const module_ref* aliases, std::string_view alias,
                               std::string_view* target) {
    if (aliases == nullptr) return false;
    auto [it, fresh] = aliases_.try_emplace(aliases);
    if (fresh) {
        // The list runs newest first; the newest entry of an alias wins.
        for (const module_ref* r = aliases; r != nullptr; r = r->next) {
            it->second.emplace(r->alias.view(), r->module_name.view());
        }
    }
    auto found = it->second.find(alias);
    if (found == it->second.end()) return false;
    *target = found->second;
    return true;
}

element* name_lookup::top_level(module_record* module, std::string_view name) {
    auto [it, fresh] = top_level_.try_emplace(module);
    if (fresh) it->second.build(module->elements);  // keeps the first of a name
    return it->second.find(name);
}

bool name_lookup::locate(module_record* current, const module_ref* aliases,
                         std::string_view reference, module_record** found,
                         std::string_view* name_part) {
    std::size_t colon = reference.find(':');
    if (colon == std::string_view::npos) {
        if (reference.size() > max_reference_part) return false;
        *found = current;
        *name_part = reference;
        return true;
    }
    // A single ":" names no module.
    if (colon + 1 >= reference.size() || reference[colon + 1] != ':') return false;
    std::string_view module_part = reference.substr(0, colon);
    std::string_view name = reference.substr(colon + 2);
    name = name.substr(0, name.find(':'));
    if (module_part.size() > max_reference_part || name.size() > max_reference_part) return false;

    // The name an alias stands for is held to the same limit as one written
    // in the reference.
    std::string_view module_name = module_part;
    alias_target(aliases, module_part, &module_name);
    if (module_name.size() > max_reference_part) return false;
    module_record* m = module_named(module_name);
    if (m == nullptr) return false;
    *found = m;
    *name_part = name;
    return true;
}

element* name_lookup::find_path(module_record* module, std::string_view path) {
    if (module == nullptr) return nullptr;
    if (path.empty()) return module->elements;
    element* chain = nullptr;
    std::size_t pos = 0;
    for (bool top = true;; top = false) {
        std::size_t dot = path.find('.', pos);
        std::string_view name =
            path.substr(pos, dot == std::string_view::npos ? std::string_view::npos : dot - pos);
        if (name.size() > max_reference_length) return nullptr;
        element* hit = nullptr;
        if (top) {
            hit = top_level(module, name);
        } else {
            for (element* e = chain; e != nullptr; e = e->next) {
                if (e->name == name) {
                    hit = e;
                    break;
                }
            }
        }
        if (hit == nullptr) return nullptr;
        if (dot == std::string_view::npos) return hit;
        chain = hit->children;
        pos = dot + 1;
        if (pos == path.size()) return chain;  // a trailing "." names the first member
    }
}

bool locate_module(run_context& run, module_record* current, const module_ref* aliases,
                   std::string_view reference, module_record** found, std::string_view* name_part) {
    name_lookup lookup(run);
    return lookup.locate(current, aliases, reference, found, name_part);
}

}  // namespace qrv
