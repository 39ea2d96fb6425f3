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
// It reads deterministically, from an explicit stack, in time linear in
// the message (apart from trying a body's expected members at each item):
// a member whose tag matches is read as that member, an untagged member is
// present when the next byte can begin its value, and values are read to
// their longest form. Where the grammar could read the same bytes another
// way (part of a value as an extension parameter, say), the checker keeps
// its reading and may reject what the grammar accepts, never the reverse.
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
