#include "postparse/schema_checks.h"

#include <algorithm>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace qrv {

namespace {

const char* path_of(const module_record* m) { return m != nullptr ? m->path.c_str() : nullptr; }

// The top-level elements of the joined chain with the module each was
// declared in: a module's own chain starts at its `elements` and runs up to
// the next module's.
template <typename Visit>
void for_each_definition(const run_context& run, Visit visit) {
    const module_record* m = run.modules;
    for (const element* e = run.elements; e != nullptr; e = e->next()) {
        while (m != nullptr && m->next != nullptr && m->next->elements == e) m = m->next;
        visit(*e, m != nullptr ? m : e->module());
    }
}

}  // namespace

int report_missing_modules(const run_context& run, diagnostics& diag) {
    std::unordered_map<std::string_view, bool> declared;
    for (const module_record* m = run.modules; m != nullptr; m = m->next) {
        if (!m->name.empty()) declared[m->name.view()] = true;
    }
    int found = 0;
    for (const module_record* m = run.modules; m != nullptr; m = m->next) {
        // The lists are newest first: the statements are reported in
        // source order.
        std::vector<std::pair<const module_ref*, const char*>> refs;
        for (const module_ref* r = m->imports; r != nullptr; r = r->next)
            refs.emplace_back(r, "import");
        for (const module_ref* r = m->extends; r != nullptr; r = r->next)
            refs.emplace_back(r, "extends");
        std::stable_sort(refs.begin(), refs.end(), [](const auto& a, const auto& b) {
            return a.first->line < b.first->line;
        });
        for (const auto& [r, statement] : refs) {
            if (declared.count(r->module_name.view()) != 0) continue;
            report_at(diag, path_of(m), r->line, SEV_ERROR,
                      "Module %s is named by an %s statement, but no source declares it",
                      r->module_name.c_str(), statement);
            ++found;
        }
    }
    return found;
}

int report_duplicate_definitions(const run_context& run, diagnostics& diag) {
    struct key_hash {
        std::size_t operator()(const std::pair<const module_record*, std::string_view>& k) const {
            return std::hash<const void*>()(k.first) ^ std::hash<std::string_view>()(k.second);
        }
    };
    std::unordered_map<std::pair<const module_record*, std::string_view>, const element*, key_hash>
        first;
    int found = 0;
    for_each_definition(run, [&](const element& e, const module_record* m) {
        const auto [it, fresh] = first.try_emplace({m, e.name().view()}, &e);
        if (fresh) return;
        const bool named = m != nullptr && !m->name.empty();
        report_at(diag, path_of(m), e.line(), SEV_ERROR,
                  "Duplicate definition of %s%s%s; the first is at %s:%lld", e.name().c_str(),
                  named ? " in module " : "", named ? m->name.c_str() : "", path_of(m),
                  static_cast<long long>(it->second->line()));
        ++found;
    });
    return found;
}

int report_member_findings(const run_context& run, diagnostics& diag) {
    int found = 0;
    struct pending {
        const element* owner;
        const char* file;
    };
    std::vector<pending> stack;
    // Plug copies share the body of what they copy: each body once.
    std::unordered_set<const element*> seen;
    struct first_use {
        const element* member;
        const char* file;
    };
    std::unordered_map<std::string_view, first_use> tags;
    auto look_at = [&](const element& e, const char* file) {
        if (e.has_pattern) {
            report_at(diag, file, e.line(), SEV_WARNING,
                      "The pattern of %s is not enforced: any text of its size is taken",
                      e.name().c_str());
            ++found;
        }
        // A reference shares its target's body, which is looked at with
        // its own definition.
        if (e.children() != nullptr && !e.has_link() && seen.insert(e.children()).second) {
            stack.push_back({&e, file});
        }
    };
    for_each_definition(run, [&](const element& top, const module_record* m) {
        look_at(top, path_of(m));
        while (!stack.empty()) {
            const pending p = stack.back();
            stack.pop_back();
            tags.clear();
            for (const element* c = p.owner->children(); c != nullptr; c = c->next()) {
                // A plugged member was declared where its plug is.
                const char* file = c->is_copy ? path_of(c->module()) : p.file;
                if (c->has_tag()) {
                    const auto [it, fresh] = tags.try_emplace(c->tag().view(), first_use{c, file});
                    if (!fresh) {
                        const element& other = *it->second.member;
                        report_at(diag, file, c->line(), SEV_WARNING,
                                  "Members %s and %s of %s have the same tag %s (the first at "
                                  "%s:%lld): a message may be read either way",
                                  other.name().c_str(), c->name().c_str(), p.owner->name().c_str(),
                                  c->tag().c_str(), it->second.file,
                                  static_cast<long long>(other.line()));
                        ++found;
                    }
                }
                look_at(*c, file);
            }
        }
    });
    return found;
}

}  // namespace qrv
