// Step 5: the top-level chains of all modules become one chain.
#include "postparse/post_parse.h"

namespace qrv {

void join_modules(run_context& run) {
    run.elements = nullptr;
    element* last = nullptr;
    for (module_record* m = run.modules; m != nullptr; m = m->next) {
        if (m->elements == nullptr) continue;  // modules keep at least one element
        if (last == nullptr) {
            run.elements = m->elements;
        } else {
            last->set_next(m->elements);
        }
        last = m->elements;
        while (last->next() != nullptr) last = last->next();
    }
}

}  // namespace qrv
