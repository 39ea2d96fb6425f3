// Ordinals and qualified names as post-parse defines them, worked out from
// a model after post-parse. No output of the program reads them (they are
// names for generated code), so the program makes only the checks that can
// fail (a qualified name over 255 characters stops the run); the tests
// that hold the walks to those definitions work them out here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/model.h"

namespace qrv {

// The names of every element of a model, worked out at once.
class generated_names {
public:
    explicit generated_names(const run_context& run);
    // The number step 8 gives an element among its siblings (plugin
    // elements from the run's plugin_ordinal_base), -1 for one it does not
    // reach.
    std::int32_t ordinal(const element& e) const;
    // The qualified name step 9 gives an element: a top-level element's
    // c_name, a member's parent's qualified name, "_" and its c_name, and
    // for a member that refers to a structure, union or combination (a
    // member resolved to one keeps its link and takes its kind) the C name
    // of the definition it names.
    std::string qualified_name(const element& e) const;

private:
    std::vector<std::int32_t> ordinals_;
    std::vector<const element*> naming_parents_;
    std::vector<bool> top_level_;
};

// The same for one element.
inline std::int32_t ordinal_of(const run_context& run, const element& e) {
    return generated_names(run).ordinal(e);
}
inline std::string qualified_name(const run_context& run, const element& e) {
    return generated_names(run).qualified_name(e);
}

}  // namespace qrv
