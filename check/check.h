// The message checker: reads one message of the text encoding against a
// definition and reports the first place where it leaves the encoding or
// holds a value the definition does not allow.
//
// A message is the definition read as the root: a structure's members
// without the enclosing braces, any other kind its value, with white space
// and comments allowed around it. The checker accepts the language of the
// strict grammar for the definition and also checks what a grammar cannot
// see: integer ranges, sizes counted in characters or decoded bytes,
// constants, dates that exist, times, IPv4 and IPv6 addresses, object
// identifiers.
//
// A message is valid when the strict grammar reads it in some way in which
// every value read for a member is allowed, every simple value is read to
// its longest form, and bytes that fit a member where it may stand (its
// tag and "=", or, untagged, the start of its value) are read as that
// member, never as an extension parameter or as an empty union value that
// leaves them to a parameter. So the checker may reject what the grammar
// accepts (a value out of range that could be read as a parameter), never
// the reverse.
//
// The reader prefers one reading (a matching tag decides, values and
// extension parameters take every comma they can) and keeps the others
// where the grammar allows them: which list a comma belongs to, whether a
// union value is empty, an extension parameter, or which of several
// alternatives or members that fit. When the preferred reading fails, it
// goes back to the latest of those choices; a reading reached again has
// failed before and is not followed twice. The error reported is the
// preferred reading's. It reads from an explicit stack, in time linear in
// the message: a message that the preferred reading takes is read once,
// and a search stops after a number of steps linear in the message (and
// past 65536 open choices gives up the oldest).
//
// Positions count lines from 1 and columns from 1 in bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/model.h"

namespace qrv {

struct check_error {
    std::size_t offset = 0;  // of the byte the error is at
    std::int64_t line = 1;
    std::int64_t column = 1;
    std::string path;  // the member path from the root: items[2].qty; empty at the top
    std::string message;
};

// The first error of `message` read as a message of `type`, or nothing when
// the message is valid. `type` is a top-level element of a run whose
// post-parse succeeded and whose strict checks found nothing.
std::optional<check_error> check_message(const element& type, std::string_view message);

// The top-level definition named `name` ("Name" or "module::Name"), or
// null. The first of a name in the run's chain is taken.
const element* find_message_type(const run_context& run, std::string_view name);

// The text of an error after its position: "PATH: message", or the message
// alone when the path is empty.
std::string check_error_text(const check_error& error);

// The check mode of a run whose post-parse succeeded: the strict checks of
// the definitions, then each file read whole as one message of the root
// definition or of `type_name`; each file's first error is a counted error
// at its line and column, and a closing note counts the valid messages.
// Returns 0 when every message is valid, else 1.
int check_message_files(run_context& run, const std::vector<std::string>& files,
                        std::string_view type_name);

}  // namespace qrv
