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
// - every value read for a member is allowed;
// - every simple value is read to its longest form, except that an integer
//   followed at once by the next member of its combination, or by the next
//   untagged member of its structure, may end after any of its digits when
//   that member reads the digits that follow;
// - bytes that fit a member where it may stand (its tag and "=", or,
//   untagged, the start of its value) are read as that member, never as an
//   extension parameter or as an empty union value that leaves them to a
//   parameter.
// So the checker may reject what the grammar accepts (a value out of range
// that could be read as a parameter), never the reverse.
//
// The reader prefers one reading (a matching tag decides, values and
// extension parameters take every comma they can) and keeps the others
// where the grammar allows them: which list a comma belongs to, whether a
// union value is empty, an extension parameter, or which of several
// alternatives or members that fit, where an integer's digits end. When the
// preferred reading fails, the search (messages/search.h) goes back to the
// latest of those choices, and decides whether any reading succeeds. The
// error reported is the preferred reading's. The search has a budget linear
// in the message; a message it cannot decide within it is undecided, never
// rejected.
//
// Positions count lines from 1 and columns from 1 in bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/model.h"
#include "support/diagnostics.h"

namespace qrv {

struct check_error {
    std::size_t offset = 0;  // of the byte the error is at
    std::int64_t line = 1;
    std::int64_t column = 1;
    std::string path;  // the member path from the root: items[2].qty; empty at the top
    std::string message;
};

enum class check_verdict : std::uint8_t { valid, invalid, undecided };

struct check_result {
    check_verdict verdict = check_verdict::valid;
    // Invalid: the first error of the preferred reading. Undecided: the
    // same, which may or may not be a fault of the message.
    check_error error;
    std::size_t search_steps = 0;  // steps of the search after the preferred reading failed

    bool valid() const { return verdict == check_verdict::valid; }
};

struct check_limits {
    // Steps of the search: per byte of the message, and in any case.
    std::size_t steps_per_byte = 64;
    std::size_t steps_at_least = std::size_t{1} << 22;
    // Choice points kept open at once (about 200 bytes each): per byte of
    // the message, and in any case. Past that the oldest are forgotten,
    // and a search that fails after that is undecided.
    std::size_t open_choices_per_byte = 4;
    std::size_t open_choices_at_least = std::size_t{1} << 16;
    // Readings that failed, remembered at once (16 bytes each): per byte of
    // the message, and in any case. Past that they are forgotten, which
    // costs time, never a result.
    std::size_t failed_readings_per_byte = 2;
    std::size_t failed_readings_at_least = std::size_t{1} << 21;
};

// `message` read as a message of `type`. `type` is a top-level element of
// a run whose post-parse succeeded and whose strict checks found nothing.
// With `closed`, extension parameters are not taken: a word where one
// would stand is an unknown member, reported with the close names among the
// members that could stand there.
check_result check_message(const element& type, std::string_view message,
                           const check_limits& limits = {}, bool closed = false);

// The reading a valid message was accepted in, for a tool that converts
// messages: what the checker read, in the order of the message. Offsets
// count bytes of the message.
struct reading_event {
    enum class kind : std::uint8_t {
        // A structure, union or combination value of `e` begins (the
        // message itself, or a value of member `e` of the innermost open
        // value).
        open,
        close,  // the innermost open value ends
        // A simple value of `e` (the message itself, or member `e` of the
        // innermost open value), in begin..end().
        value,
        extension,  // a structure's extension parameter, in begin..end()
        // One value of a union's extension parameter with its tags; the
        // values of one parameter follow one another.
        extension_value,
        // Inside the checker only: a structure of `e` in begin..end() whose
        // reading is looked up once the message is accepted. read_message
        // never returns one.
        settled,
    };
    // Small, as a reading holds several for each value: the kind in the
    // low bits of the element's address (elements are aligned far more).
    std::uintptr_t bits = 0;
    std::uint32_t begin = 0;  // a message shorter than 4 GiB
    std::uint32_t length = 0;

    reading_event() = default;
    reading_event(kind what, const element* e, std::size_t at, std::size_t bytes)
        : bits(reinterpret_cast<std::uintptr_t>(e) | static_cast<std::uintptr_t>(what)),
          begin(static_cast<std::uint32_t>(at)),
          length(static_cast<std::uint32_t>(bytes)) {}
    kind what() const { return static_cast<kind>(bits & 7U); }
    const element* e() const { return reinterpret_cast<const element*>(bits & ~std::uintptr_t{7}); }
    std::size_t end() const { return std::size_t{begin} + length; }
};

static_assert(alignof(element) >= 8);

// The most bytes of a message whose reading read_message reports.
inline constexpr std::size_t max_reported_message = 0xFFFFFFFFU;

// check_message, and for a valid message the reading it was accepted in,
// into `reading` (emptied first; left empty for a message that is not
// valid, and for one longer than max_reported_message, which is undecided).
check_result read_message(const element& type, std::string_view message,
                          std::vector<reading_event>& reading, const check_limits& limits = {},
                          bool closed = false);

// The top-level definition named `name` ("Name" or "module::Name"), or
// null. The first of a name in the run's chain is taken.
const element* find_message_type(const run_context& run, std::string_view name);

// The text of an error after its position: "PATH: message", or the message
// alone when the path is empty.
std::string check_error_text(const check_error& error);
// What --check says of a message file that is not valid: the error at its
// line and column, or the note of a search that gave up; nothing for a
// valid one.
void report_verdict(diagnostics& diag, const std::string& path, const check_result& result);

// The check mode of a run whose post-parse succeeded: the strict checks of
// the definitions, then each file read whole as one message of the root
// definition or of `type_name`; each file's first error is a counted error
// at its line and column, and a closing note counts the valid messages.
// Returns 0 when every message is valid, 1 when any is invalid, else 2
// (some could not be decided).
int check_message_files(const run_context& run, diagnostics& diag,
                        const std::vector<std::string>& files, std::string_view type_name,
                        bool closed = false);

}  // namespace qrv
