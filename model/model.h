// The model of a run: the run context, which holds the modules read, the
// joined chain of top-level definitions, the storage every record and text
// is cut from, the text table and the name index. The front end and
// post-parse build it; after post-parse it is only read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "model/doc_notes.h"
#include "model/name_index.h"
#include "model/records.h"
#include "model/storage.h"
#include "model/text.h"
#include "model/walk_tables.h"
#include "support/diagnostics.h"

namespace qrv {

struct run_context {
    module_record* modules = nullptr;
    // The last module of `modules` when a source file was last read, and
    // the first one then: the next file's modules are appended after it
    // without a walk of the list, unless the list was replaced since.
    module_record* last_module = nullptr;
    const module_record* last_module_of = nullptr;
    element* elements = nullptr;
    // The union members of the run with distinct c_names (post-parse).
    std::vector<element*> union_members;
    std::int32_t plugin_ordinal_base = 1000000000;
    // Elements allocated so far; the next one's id.
    std::uint32_t element_count = 0;
    const char* input_path = nullptr;

    // Storage of the run.
    model_storage storage;
    text_table texts{storage};

    // Lookups by name.
    name_index names{storage, texts};
    // The uninitialised marker in this run's storage, once asked for.
    text marker;

    // Kept only when diagnostics show lines of the whole file: the lines
    // of its file before each module's first line (the leading text and
    // the modules before it).
    std::unordered_map<const module_record*, std::int64_t> module_line_offsets;
    // The module each resolved reference was declared in (its module is
    // its target's afterwards), which its line counts in.
    std::unordered_map<const element*, const module_record*> declared_in;
    // The imports of a module no source declares, reported once each.
    std::unordered_set<const module_ref*> missing_modules_reported;
    // Set before the sources are read by a run that documents them: the
    // front end and post-parse then keep what the pages show
    // (model/doc_notes.h). Null in every other run.
    std::unique_ptr<doc_notes> docs;
};

// The line of the file of `line`, a line of module `m` as its elements
// keep it: the same line without file positions.
std::int64_t file_line(const run_context& run, const diagnostics& diag, const module_record* m,
                       std::int64_t line);

// The place of a diagnostic about `token` on line `line` of module `m`.
source_place place_in_module(const run_context& run, const diagnostics& diag,
                             const module_record* m, std::int64_t line, std::string_view token);

// The place of a diagnostic about an element: the line it was declared on,
// in the file of its module (or `file` when given, as the caller always
// named it there), and the column of `token` on it.
source_place place_of(const run_context& run, const diagnostics& diag, const element& e,
                      std::string_view token, const char* file = nullptr);

// The module each top-level element of the joined chain was declared in,
// in chain order (a resolved reference carries its target's module, so the
// element's own field cannot tell).
std::vector<const module_record*> declaring_modules(const run_context& run);

void init_run_context(run_context& run);

// A new element with a number of its own and every field at its initial
// value; never null (out of memory unwinds as std::bad_alloc).
element* allocate_element(run_context& run);

// A copy of `original` with an id of its own.
element* copy_element(run_context& run, const element& original);

// Allocation helpers for the other records (zero-filled).
module_record* new_module_record(run_context& run);
module_ref* new_module_ref(run_context& run);
plug_record* new_plug_record(run_context& run);
into_entry* new_into_entry(run_context& run);

inline text make_text(run_context& run, std::string_view s) { return run.texts.copy(s); }

// The uninitialised marker as a text of the run.
text marker_text(run_context& run);

// An element by dotted path among a module's elements: the first of each
// name at each step; null when not found. An empty path gives the first
// top-level element, a path ending in "." the first member of what it
// names.
element* find_element(run_context& run, const module_record* module, std::string_view path);

// Releases every record and text of the run.
void free_model(run_context& run);

}  // namespace qrv
