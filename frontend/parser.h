// The parser of one module: the body loop and its step machine, the
// statement dispatcher, declarations with their constraints, cardinalities,
// tags, member bodies and member rules.
#pragma once

#include "frontend/parse_state.h"

namespace qrv {

// Parses statements until the body ends, appending every element that a
// statement creates to the list whose head is `*head`.
void parse_body(parse_state& ps, element** head);

}  // namespace qrv
