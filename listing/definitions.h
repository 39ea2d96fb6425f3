// The listing of the definitions a run read (--list): one line each, or
// one JSON object each, with its kind, its place and whether any member
// refers to it.
#pragma once

#include <cstdio>

#include "model/model.h"
#include "support/diagnostics.h"

namespace qrv {

// Writes the top-level definitions of the frozen model into `out` in chain
// order: "module::Name kind file:line:col", and " unreferenced" when no
// member refers to it; with `json`, one object a line with the keys name,
// kind, file, line, column and referenced. Lines and columns are those of
// the whole file when `diag` has file positions.
void list_definitions(const run_context& run, diagnostics& diag, std::FILE* out, bool json);

}  // namespace qrv
