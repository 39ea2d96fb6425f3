// What the tests need to build models by hand.
#pragma once

#include "frontend/parse_state.h"
#include "model/model.h"
#include "support/diagnostics.h"

namespace qrv {

// Appends `e` to the end of the chain that begins at `head`.
inline void append_element(chain_head head, element* e) { chain_tail(head).append(e); }

}  // namespace qrv
