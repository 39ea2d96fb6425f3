// Finding the module a reference or a plug target names.
#include "postparse/post_parse.h"

namespace qrv {

namespace {

// Names longer than this never name a module or an element.
constexpr std::size_t max_reference_part = 127;

}  // namespace

bool locate_module(run_context& run, module_record* current, const module_ref* aliases,
                   std::string_view reference, module_record** found, std::string_view* name_part) {
    const std::size_t colon = reference.find(':');
    if (colon == std::string_view::npos) {
        if (reference.size() > max_reference_part) return false;
        *found = current;
        *name_part = reference;
        return true;
    }
    // A single ":" names no module.
    if (colon + 1 >= reference.size() || reference[colon + 1] != ':') return false;
    const std::string_view module_part = reference.substr(0, colon);
    std::string_view name = reference.substr(colon + 2);
    name = name.substr(0, name.find(':'));
    if (module_part.size() > max_reference_part || name.size() > max_reference_part) return false;

    // One alias substitution, the newest entry first. The name an alias
    // stands for is held to the same limit as one written in the reference.
    std::string_view module_name = module_part;
    run.names.find_alias(aliases, module_part, &module_name);
    if (module_name.size() > max_reference_part) return false;
    module_record* m = run.names.find_module(run.modules, module_name);
    if (m == nullptr) return false;
    *found = m;
    *name_part = name;
    return true;
}

}  // namespace qrv
