// The post-parse pass: its entry and its nine steps, in run order.
#pragma once

#include <string>
#include <string_view>

#include "model/model.h"
#include "support/diagnostics.h"

namespace qrv {

// Runs the steps in order, each only while no error was counted. Returns 1
// when output may follow, 0 otherwise.
int post_parse(run_context& run, diagnostics& diag);

// Step 1: marks the top-level elements of the first module.
void mark_main_module(element* first);
// Step 2: a prefix for every module that has none.
void derive_prefixes(run_context& run, diagnostics& diag);
// Step 3: copies plug bodies into their targets.
void plug_extensions(run_context& run, diagnostics& diag);
// Step 4: resolves every reference element.
void resolve_references(run_context& run, diagnostics& diag);
// Step 5: joins the module chains into run.elements.
void join_modules(run_context& run);
// Step 6: chains the distinct members of all unions.
void collect_union_members(run_context& run);
// Steps 7 and 8, in one walk from the top chain `top` (no top-level element
// is marked recursive before): marks members whose member list encloses
// them and appends "_" to names that are reserved words. Returns whether it
// met a union with members, so that step 6 can be left out when there is
// none (it has no other effect).
bool mark_recursive_and_rename(run_context& run, diagnostics& diag, element* top);
// Step 9: qualified names: a name beyond 255 characters ends the run.
void build_qualified_names(run_context& run, diagnostics& diag);

// Module lookup shared by resolution and plugging: finds the module named
// by the module part of `reference` (after one alias substitution through
// `aliases`), or `current` when the reference has no "::". Returns false
// when no module is found; `name_part` receives the name part.
bool locate_module(run_context& run, module_record* current, const module_ref* aliases,
                   std::string_view reference, module_record** found, std::string_view* name_part);

// The prefix base from the module name; false when the name is empty.
bool prefix_from_module_name(const module_record& module, std::string& base);
// The prefix base from the c_name of the module's first element; false when
// the module has no element.
bool prefix_from_first_element(const module_record& module, std::string& base);

// Resolves one reference element found in the tree of `module`: 1 when it
// now stands for its target, 0 when the reference could not be followed.
int resolve_reference(run_context& run, diagnostics& diag, module_record* module, element* e);

// The diagnostic of a reference that could not be resolved, met in the
// tree of `m`: at the element (with file positions, at the column of the
// reference, with the close names in scope), or once at the import of a
// module no source declares, for every reference through it.
void report_unresolved(run_context& run, diagnostics& diag, module_record* m, element* e);
// The one error of an import or extends statement `ref` of module `m`
// naming a module no source declares (once per statement), with the file
// that declares it or the close names as its help.
void report_missing_module(run_context& run, diagnostics& diag, const module_record* m,
                           const module_ref& ref);
// The diagnostic of a plug target that is not found (or, when `found`, is
// not a structure or union), at the target's name in the `into` list.
void report_unplugged(run_context& run, diagnostics& diag, module_record* m, const into_entry& t,
                      bool found);

// Copies of the elements of a chain (top level only; members are shared).
element* copy_chain(run_context& run, const element* first);

// Appends the members of the unions below `chain` to the run's union
// members, each c_name once.
void collect_union_members(run_context& run, element* chain);

// Appends "_" to a c_name that equals a reserved word, with a note.
void rename_reserved(run_context& run, diagnostics& diag, element* e);
// Whether any text of the run is a reserved word: when none is, no c_name
// needs renaming.
bool has_reserved_text(const run_context& run);

}  // namespace qrv
