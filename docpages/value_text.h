// What the pages say a value's constraint allows, one function per form of
// encoding/kinds.def (doc_bounds_<form>): a range of integers, a count of
// characters or of decoded bytes.
#pragma once

#include <string>

#include "encoding/encoding.h"

namespace qrv {

// "1 to 100", "0 to 80 characters", "at most 1024 bytes"; empty when the
// value has no constraint of its own.
std::string doc_bounds_text(const value_form& form);

}  // namespace qrv
