#include "generated_names.h"

#include <vector>

#include "frontend/lexer.h"

namespace qrv {

namespace {

// Every chain numbered once, with its own plain and plugin counters, in the
// order the recursion walk reaches them (a chain reached again would be
// numbered the same).
void give_ordinals(const run_context& run, std::vector<std::int32_t>& ordinals) {
    struct open_chain {
        const element* at;
        std::int32_t plain;
        std::int32_t plugin;
    };
    ordinals.assign(run.element_count, -1);
    std::vector<bool> numbered(run.element_count, false);
    std::vector<open_chain> stack;
    if (run.elements != nullptr) stack.push_back({run.elements, 0, run.plugin_ordinal_base});
    while (!stack.empty()) {
        open_chain& f = stack.back();
        const element* p = f.at;
        if (p == nullptr) {
            stack.pop_back();
            continue;
        }
        f.at = p->next();
        std::int32_t& counter = p->plugin ? f.plugin : f.plain;
        ordinals[p->id] = counter++;
        const element* members = p->children();
        if (members != nullptr && !p->recursive && !numbered[members->id]) {
            numbered[members->id] = true;
            stack.push_back({members, 0, run.plugin_ordinal_base});
        }
    }
}

// Every chain named from the last place it is reached in source order,
// which is the first place when the top chain is walked back to front.
void name_all_members(const run_context& run, std::vector<const element*>& naming_parents,
                      std::vector<bool>& top_level) {
    naming_parents.assign(run.element_count, nullptr);
    top_level.assign(run.element_count, false);
    std::vector<const element*> top;
    for (const element* p = run.elements; p != nullptr; p = p->next()) {
        top.push_back(p);
        top_level[p->id] = true;
    }
    std::vector<bool> named(run.element_count, false);
    struct pending {
        const element* member;
        const element* parent;
    };
    std::vector<pending> stack;
    auto push_chain = [&](const element* first, const element* parent) {
        for (const element* q = first; q != nullptr; q = q->next()) stack.push_back({q, parent});
    };
    for (auto it = top.rbegin(); it != top.rend(); ++it) {
        const element* p = *it;
        if (p->children() == nullptr || p->has_link() || named[p->children()->id]) continue;
        named[p->children()->id] = true;
        push_chain(p->children(), p);
        while (!stack.empty()) {
            const pending t = stack.back();
            stack.pop_back();
            const element* q = t.member;
            if (q->has_link()) continue;
            naming_parents[q->id] = t.parent;
            if (q->children() != nullptr && !named[q->children()->id]) {
                named[q->children()->id] = true;
                push_chain(q->children(), q);
            }
        }
    }
}

// The C name of the definition a resolved reference names: the name part of
// its link ("Customer" of "cmn::Customer") with '-' as '_'.
std::string reference_c_name(std::string_view link) {
    std::string_view name = link;
    const std::size_t colon = link.find("::");
    if (colon != std::string_view::npos) {
        name = link.substr(colon + 2);
        name = name.substr(0, name.find(':'));
    }
    return to_c_name(name);
}

}  // namespace

generated_names::generated_names(const run_context& run) {
    give_ordinals(run, ordinals_);
    name_all_members(run, naming_parents_, top_level_);
}

std::int32_t generated_names::ordinal(const element& e) const {
    return e.id < ordinals_.size() ? ordinals_[e.id] : -1;
}

std::string generated_names::qualified_name(const element& e) const {
    std::vector<const element*> path;
    const element* at = &e;
    while (at->id < naming_parents_.size() && naming_parents_[at->id] != nullptr &&
           !top_level_[at->id]) {
        path.push_back(at);
        at = naming_parents_[at->id];
    }
    std::string name;
    if (at->id < top_level_.size() && top_level_[at->id]) {
        name = at->c_name().view();
    } else if (at->has_link() &&
               (at->kind == ET_STRUCT || at->kind == ET_UNION || at->kind == ET_COMBINED)) {
        name = reference_c_name(at->link().view());
    } else {
        name = text{uninitialised_marker}.view();
    }
    for (auto it = path.rbegin(); it != path.rend(); ++it) {
        name += '_';
        name += (*it)->c_name().view();
    }
    return name;
}

}  // namespace qrv
