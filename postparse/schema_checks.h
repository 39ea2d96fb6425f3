// Checks of a schema beyond what a translation needs, asked for by --lint
// (all of them) and the strict grammar (duplicate definitions). Each reports
// counted diagnostics at the elements concerned and returns how many it
// reported; none changes the model.
#pragma once

#include "model/model.h"
#include "support/diagnostics.h"

namespace qrv {

// Before post-parse: an import or extends statement naming a module that no
// source declares, one error at the statement (the references through it
// would each fail to expand).
int report_missing_modules(run_context& run, diagnostics& diag);

// After post-parse, over the joined chain:
// - two top-level definitions of one name in one module, an error at the
//   second naming the first;
int report_duplicate_definitions(const run_context& run, diagnostics& diag);
// - two members of one body with the same tag, a warning at the second
//   (the schema has a grammar, but a message may be read either way);
// - a /pattern/, which is kept in no output and enforced by no check, a
//   warning.
int report_member_findings(const run_context& run, diagnostics& diag);

}  // namespace qrv
