// Step 3: the bodies of plug statements are copied into their targets.
#include <unordered_map>

#include "postparse/post_parse.h"
#include "support/diagnostics.h"

namespace qrv {

namespace {

// The last member of every chain plugged into so far, so that many plugs
// into one target do not walk it again.
struct plug_state {
    std::unordered_map<const element*, element*> tails;
};

void append_members(plug_state& state, element* target, element* copies) {
    element*& tail = state.tails[target->children()];
    if (tail == nullptr) tail = target->children();
    while (tail->next() != nullptr) tail = tail->next();
    tail->set_next(copies);
    while (tail->next() != nullptr) tail = tail->next();
}

// References in the copies that name no module are qualified with the
// plugging module's name, so that they resolve where they were written.
void qualify_references(run_context& run, diagnostics& diag, const module_record* m,
                        const into_entry* t, element* copies) {
    bool refused = false;
    for (element* c = copies; c != nullptr; c = c->next()) {
        if (c->kind != ET_LINK || c->link().view().find(':') != std::string_view::npos) continue;
        if (m->name.empty()) {
            if (!refused) {
                report_place_f(diag, place_in_module(run, diag, m, t->line, t->target.view()),
                               SEV_ERROR, {}, "Module name must be included to plug '%s'\n",
                               t->target.c_str());
                refused = true;
            }
            continue;
        }
        if (m->name.size() + 2 + c->link().size() > max_reference_length) {
            text whole = run.texts.concat(m->name.view(), "::", c->link().view());
            report_place_f(diag, place_in_module(run, diag, m, t->line, t->target.view()),
                           SEV_ERROR, {}, "Reference name exceeds %d characters: %s\n",
                           static_cast<int>(max_reference_length), whole.c_str());
            continue;
        }
        c->set_link(run.texts.concat(m->name.view(), "::", c->link().view()));
    }
}

void plug_with(plug_state& state, run_context& run, diagnostics& diag, module_record* m) {
    for (plug_record* s = m->plugs; s != nullptr; s = s->next) {
        for (into_entry* t = s->into; t != nullptr; t = t->next) {
            module_record* target_module = nullptr;
            std::string_view path;
            element* target = nullptr;
            if (locate_module(run, m, m->extends, t->target.view(), &target_module, &path)) {
                target = find_element(run, target_module, path);
            }
            if (target == nullptr || target->children() == nullptr) {
                report_unplugged(run, diag, m, *t, target != nullptr);
                continue;
            }
            element* copies = copy_chain(run, s->elements);
            qualify_references(run, diag, m, t, copies);
            append_members(state, target, copies);
        }
    }
}

}  // namespace

element* copy_chain(run_context& run, const element* first) {
    element* head = nullptr;
    chain_tail tail(&head);
    for (const element* e = first; e != nullptr; e = e->next()) {
        element* c = copy_element(run, *e);
        c->is_copy = true;
        c->set_next(nullptr);
        tail.append(c);
    }
    return head;
}

void plug_extensions(run_context& run, diagnostics& diag) {
    plug_state state;
    for (module_record* m = run.modules; m != nullptr; m = m->next) {
        if (m->plugs != nullptr) plug_with(state, run, diag, m);
    }
}

}  // namespace qrv
