// The post-parse pass: nine steps in a fixed order, each only while no
// error has been counted.
#include "postparse/post_parse.h"

namespace qrv {

int post_parse(run_context& run, diagnostics& diag) {
    // The first module with definitions is the main one (a module may hold
    // plug statements alone).
    const module_record* main = run.modules;
    while (main != nullptr && main->elements == nullptr) main = main->next;
    if (main == nullptr) {
        // Nothing to write: a failure, though nothing in the sources is wrong.
        if (diag.error_count == 0) error_note(diag, "error: The sources hold no definition\n");
        return 0;
    }
    if (diag.error_count == 0) mark_main_module(main->elements);
    if (diag.error_count == 0) derive_prefixes(run, diag);
    if (diag.error_count == 0) plug_extensions(run, diag);
    if (diag.error_count == 0) resolve_references(run, diag);
    if (diag.error_count == 0) join_modules(run);
    // The walk of steps 7 and 8 tells whether step 6 has anything to do;
    // step 6 prints nothing, so the order of what is printed stays.
    if (diag.error_count == 0 && mark_recursive_and_rename(run, diag, run.elements)) {
        collect_union_members(run);
    }
    if (diag.error_count == 0) build_qualified_names(run, diag);
    // From here on the model is only read: the back ends look definitions
    // up in the top chain without changing the index.
    if (diag.error_count == 0) run.names.take_in_chain(run.elements);
    return diag.error_count == 0 ? 1 : 0;
}

}  // namespace qrv
