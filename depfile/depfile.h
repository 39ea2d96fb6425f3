// Make-format dependency files (--depfile): the output file as the target,
// the files it was made from as prerequisites, and one empty rule per
// prerequisite, so that make does not stop when one of them is deleted.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/model.h"

namespace qrv {

// A file name as make and Ninja read it in a rule: a blank or tab gets a
// backslash (and the backslashes before it are doubled), '#' gets a
// backslash, '$' is doubled. Other characters stay as they are.
std::string make_escaped(std::string_view name);

// The text of the dependency file; a prerequisite named twice is listed
// once. Nothing (no value) when a name holds a line break, which no make
// rule can express.
std::optional<std::string> depfile_text(std::string_view target,
                                        const std::vector<std::string>& prerequisites);

// Writes the dependency file of `target` at `path`, replacing any older
// one only when the new one is complete. On failure it prints an error note
// and returns false.
bool write_depfile(run_context& run, const char* path, std::string_view target,
                   const std::vector<std::string>& prerequisites);

}  // namespace qrv
