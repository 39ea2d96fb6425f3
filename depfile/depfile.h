// Make-format dependency files (--depfile): the output file as the target,
// the files it was made from as prerequisites, and one empty rule per
// prerequisite, so that make does not stop when one of them is deleted.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/diagnostics.h"

namespace qrv {

// A file name as make and Ninja read it in a rule: a blank or tab gets a
// backslash (and the backslashes before it are doubled), '#' and ':' get a
// backslash, '$' is doubled. Other characters stay as they are.
std::string make_escaped(std::string_view name);

// Whether GNU make and Ninja both read a name, written as make_escaped
// writes it, as this one name. Not so for a line break, which no rule can
// hold, nor for what either of them reads otherwise: a control character
// or tab; " & ' * ; < > ? ^ ` | (where Ninja ends the name); % (a pattern
// to make) and = (a variable); brackets [...] and a leading ~ (make
// expands them to other files); a trailing blank, ':' or ')', or a
// backslash at the end or before '#', ':' or '$' (make and Ninja take the
// escape apart differently).
enum class depfile_name { writable, line_break, unreadable };
depfile_name depfile_name_check(std::string_view name);

// The text of the dependency file; a prerequisite named twice is listed
// once. Nothing (no value) when a name is not writable.
std::optional<std::string> depfile_text(std::string_view target,
                                        const std::vector<std::string>& prerequisites);

// Whether the target and every prerequisite can be written; otherwise it
// prints an error note about the first that cannot and returns false.
bool depfile_names_writable(diagnostics& diag, std::string_view target,
                            const std::vector<std::string>& prerequisites);

// Writes the dependency file of `target` at `path`, replacing any older
// one only when the new one is complete. On failure it prints an error note
// and returns false.
bool write_depfile(diagnostics& diag, const char* path, std::string_view target,
                   const std::vector<std::string>& prerequisites);

}  // namespace qrv
