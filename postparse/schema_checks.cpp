#include "postparse/schema_checks.h"

#include <algorithm>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "postparse/post_parse.h"

namespace qrv {

namespace {

// The top-level elements of the joined chain with the module each was
// declared in.
template <typename Visit>
void for_each_definition(const run_context& run, Visit visit) {
    const std::vector<const module_record*> modules = declaring_modules(run);
    std::size_t i = 0;
    for (const element* e = run.elements; e != nullptr; e = e->next(), ++i) visit(*e, modules[i]);
}

// "file:line" of an element of module `m`, for a message that names a
// second place: the same line the diagnostic's form shows.
std::string where(const run_context& run, const diagnostics& diag, const module_record* m,
                  const element& e) {
    const char* file = m != nullptr ? m->path.c_str() : "";
    return std::string(file) + ":" + std::to_string(file_line(run, diag, m, e.line()));
}

}  // namespace

int report_missing_modules(run_context& run, diagnostics& diag) {
    std::unordered_set<std::string_view> declared;
    for (const module_record* m = run.modules; m != nullptr; m = m->next) {
        if (!m->name.empty()) declared.insert(m->name.view());
    }
    int found = 0;
    for (const module_record* m = run.modules; m != nullptr; m = m->next) {
        // The lists are newest first: the statements are reported in
        // source order.
        std::vector<const module_ref*> refs;
        for (const module_ref* r = m->imports; r != nullptr; r = r->next) refs.push_back(r);
        for (const module_ref* r = m->extends; r != nullptr; r = r->next) refs.push_back(r);
        std::stable_sort(refs.begin(), refs.end(), [](const module_ref* a, const module_ref* b) {
            return a->line < b->line;
        });
        for (const module_ref* r : refs) {
            if (declared.count(r->module_name.view()) != 0) continue;
            report_missing_module(run, diag, m, *r);
            ++found;
        }
    }
    return found;
}

int report_duplicate_definitions(const run_context& run, diagnostics& diag) {
    // The first definition of each name in each module, in a table of its
    // own addressed by the name's hash, which every text carries: a schema
    // of a million definitions is looked up without a node per name.
    std::size_t count = 0;
    for (const element* e = run.elements; e != nullptr; e = e->next()) ++count;
    std::size_t size = 16;
    while (size < 2 * count) size *= 2;
    struct slot {
        const module_record* module = nullptr;
        const element* first = nullptr;  // null: a free slot
    };
    std::vector<slot> table(size);
    const std::size_t mask = size - 1;
    int found = 0;
    for_each_definition(run, [&](const element& e, const module_record* m) {
        const text name = e.name();
        std::size_t k = (name.hash() ^ std::hash<const void*>()(m) * 0x9e3779b97f4a7c15ULL) & mask;
        while (table[k].first != nullptr &&
               (table[k].module != m || !(table[k].first->name() == name))) {
            k = (k + 1) & mask;
        }
        slot& s = table[k];
        if (s.first == nullptr) {
            s = {m, &e};
            return;
        }
        const bool named = m != nullptr && !m->name.empty();
        const source_place place = place_in_module(run, diag, m, e.line(), e.name().view());
        report_place_f(diag, place, SEV_ERROR, {},
                       "Duplicate definition of %s%s%s; the first is at %s", e.name().c_str(),
                       named ? " in module " : "", named ? m->name.c_str() : "",
                       where(run, diag, m, *s.first).c_str());
        ++found;
    });
    return found;
}

int report_member_findings(const run_context& run, diagnostics& diag) {
    int found = 0;
    struct pending {
        const element* owner;
        const module_record* module;
    };
    std::vector<pending> stack;
    // Plug copies share the body of what they copy: each body once.
    std::unordered_set<const element*> seen;
    struct first_use {
        const element* member;
        const module_record* module;
    };
    std::unordered_map<std::string_view, first_use> tags;
    auto look_at = [&](const element& e, const module_record* m) {
        if (e.has_pattern) {
            report_place_f(diag, place_in_module(run, diag, m, e.line(), e.name().view()),
                           SEV_WARNING, {},
                           "The pattern of %s is not enforced: any text of its size is taken",
                           e.name().c_str());
            ++found;
        }
        // A reference shares its target's body, which is looked at with
        // its own definition.
        if (e.children() != nullptr && !e.has_link() && seen.insert(e.children()).second) {
            stack.push_back({&e, m});
        }
    };
    for_each_definition(run, [&](const element& top, const module_record* m) {
        look_at(top, m);
        while (!stack.empty()) {
            const pending p = stack.back();
            stack.pop_back();
            tags.clear();
            for (const element* c = p.owner->children(); c != nullptr; c = c->next()) {
                // A plugged member was declared where its plug is.
                const module_record* module = c->is_copy ? c->module() : p.module;
                if (c->has_tag()) {
                    const auto [it, fresh] =
                        tags.try_emplace(c->tag().view(), first_use{c, module});
                    if (!fresh) {
                        const element& other = *it->second.member;
                        report_place_f(
                            diag, place_in_module(run, diag, module, c->line(), c->name().view()),
                            SEV_WARNING, {},
                            "Members %s and %s of %s have the same tag %s (the first at %s): a "
                            "message may be read either way",
                            other.name().c_str(), c->name().c_str(), p.owner->name().c_str(),
                            c->tag().c_str(), where(run, diag, it->second.module, other).c_str());
                        ++found;
                    }
                }
                look_at(*c, module);
            }
        }
    });
    return found;
}

}  // namespace qrv
