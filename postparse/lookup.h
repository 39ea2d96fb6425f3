// Hashed lookups of the post-parse pass. Each gives exactly the result of
// walking its list in order: the first module of a name, the newest alias,
// the first top-level element of a name.
#pragma once

#include <cstdint>
#include <string_view>
#include <unordered_map>

#include "model/model.h"

namespace qrv {

// Names longer than this never name a module or an element.
inline constexpr std::size_t max_reference_part = 127;

class name_lookup {
public:
    explicit name_lookup(run_context& run) : run_(run) {}

    // The first module in run order with this name, or null.
    module_record* module_named(std::string_view name);
    // The module name the newest entry of `aliases` gives to `alias`, or
    // false when no entry has that alias.
    bool alias_target(const module_ref* aliases, std::string_view alias, std::string_view* target);
    // The first top-level element of `module` with this name, or null.
    element* top_level(module_record* module, std::string_view name);

    // The module and name part a reference names (one alias substitution).
    bool locate(module_record* current, const module_ref* aliases, std::string_view reference,
                module_record** found, std::string_view* name_part);
    // An element by dotted path, like find_element.
    element* find_path(module_record* module, std::string_view path);

private:
    using alias_map = std::unordered_map<std::string_view, std::string_view>;

    run_context& run_;
    bool modules_indexed_ = false;
    std::unordered_map<std::string_view, module_record*> modules_;
    std::unordered_map<const module_ref*, alias_map> aliases_;
    std::unordered_map<const module_record*, name_index> top_level_;
};

}  // namespace qrv
