// The reader of messages behind check_message (messages/checker.h): its
// frames and its steps. The structure of a message (structures, unions,
// members) is read in messages/checker.cpp, values, combinations and the
// error in messages/checker_values.cpp.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "encoding/encoding.h"
#include "encoding/value_reader.h"
#include "messages/checker.h"
#include "messages/search.h"

namespace qrv::checking {

enum class step : std::uint8_t {
    open,         // a union value, or the message: its first step
    slot,         // a structure or combination: the next member
    value,        // a value of the current member
    after_value,  // after a value: a comma and another, or the member's end
    extensions,   // a structure's extension parameters
    ext_value,    // a union's extension parameter: its next value with its tags
    ext_after,    // a union's extension parameter: after a value
    done
};

// One body being read: the message itself (no owner), a structure, a
// union value or a combination.
struct frame : search_frame {
    const element* owner = nullptr;      // null for the message itself
    const element* next = nullptr;       // the next member to look for
    const element* current = nullptr;    // the member whose values are being read
    std::uint64_t count = 0;             // the values of `current` read so far
    const element* unmatched = nullptr;  // the members passed over for extension parameters
    std::size_t landing = 0;             // see landing_of
    std::size_t comma_landing = 0;       // see comma_landing_of
    step at = step::open;
    bool root = false;      // the message's own structure: no braces
    bool braced = false;    // the values of `current` stand in braces
    bool extended = false;  // an extension parameter was read
    // An integer stopped short of digits that only the next member of the
    // body may read.
    bool glued = false;
};

std::uint64_t state_of(const frame& f);
// How an error names what it expected: a value of `e`, a member of `owner`.
std::string describe_value(const element& e);
std::string describe_member(const element& owner, const element& m);
// The first member from `m` on that may stand at all.
const element* standing_from(const element* m);

class message_reader {
public:
    message_reader(const element& type, std::string_view bytes, const check_limits& limits,
                   bool closed)
        : s_(bytes),
          type_(type),
          closed_(closed),
          search_(
              s_.pos,
              {limits.steps_per_byte * (bytes.size() + 1) + limits.steps_at_least,
               bytes.size() / limits.open_choices_per_byte + limits.open_choices_at_least,
               bytes.size() * limits.failed_readings_per_byte + limits.failed_readings_at_least}) {}

    check_result read();
    // Records the reading into `log` as it goes, for read_message: the
    // record is cut back with the readings the search leaves.
    void record_into(std::vector<reading_event>* log) { log_ = log; }
    // Reads only the structure `type` that begins at `start` and ends the
    // bytes (one whose readings the search had settled).
    void read_body_at(std::size_t start) {
        body_start_ = start;
        body_only_ = true;
    }

private:
    // With closed_: the error at an extension parameter that stands at the
    // position, a member of `owner` that is not known, with the close names
    // among `candidates`.
    void fail_unknown_member(const element& owner, const element* candidates);
    std::vector<frame>& stack() { return search_.stack; }
    const std::vector<frame>& stack() const { return search_.stack; }
    std::uint32_t choose(std::uint32_t options) { return search_.choose(options); }

    void step();

    void push_frame(frame f);
    // Pops the top frame, the end of a body being read.
    void end_frame();
    void record(reading_event::kind what, const element* e, std::size_t begin, std::size_t length) {
        if (log_ != nullptr) {
            log_->emplace_back(what, e, begin, length);
        }
    }

    // Where a value about to begin would hand on bytes it leaves unread:
    // the nearest frame below that is not an unbraced union alternative
    // which may end there (with no comma there, such an alternative ends
    // and so does its union value). Frames below the top do not change, so
    // this holds as long as the frame pushed now.
    std::size_t landing_of() const;

    // The same for a comma handed on: the frames it passes are those
    // unbraced union alternatives that may end but take no more values.
    std::size_t comma_landing_of() const;

    static bool passes_bytes_on(const frame& p);

    // A comma that the value read by the top frame leaves unread is taken
    // by a list below: the frame it lands on may take another value.
    bool comma_taken_below() const;

    // During the search, a union value that ends at a comma no list below
    // takes fails at once rather than after the frames below have ended
    // one by one. (The preferred reading goes on, for its error.)
    bool comma_left_to_nobody();

    // ---- the message ---------------------------------------------------

    void message_step(frame& f);

    // ---- values --------------------------------------------------------

    // Reads a value of `e`, or pushes the frame that reads it. `split`: an
    // integer may end before the last of its digits, for the next member.
    void begin_value(const element& e, bool root, bool split);

    // A structure in braces reads the same way wherever it stands: once
    // every reading of it from its brace has been followed, the search goes
    // straight to where it can end.
    void begin_structure(const element& e, bool root);

    // An integer: its longest form first. With `split` (or in a
    // combination, where it never takes more than its width), every
    // shorter count of its digits is an option too; taking one leaves
    // digits that the next member must read.
    void read_integer(const value_form& form, bool in_combination, bool split);

    // ---- combinations --------------------------------------------------

    // A combination: its members' values one after the other with nothing
    // between them (white space only around the commas of a repetition).
    // An optional member may stand or not, a repetition take a comma or
    // leave it, an integer end after any of its digits where a member
    // follows: each is a choice.
    void combination_step(frame& f);

    void combination_slot(frame& f);

    void combination_after_value(frame& f);

    // ---- members -------------------------------------------------------

    // The next bytes are an occurrence of member `m` of `owner`: its tag
    // followed by "=" (a void member's tag standing alone), or, untagged,
    // the beginning of its value.
    bool fits(const element& owner, const element& m);

    bool begins(const element& m);

    // Reads what stands before a member's value: its tag and "=", and the
    // brace of a braced union alternative. The value follows in the next
    // step.
    bool enter_member(frame& f, const element& m);

    // The value of the current member of a structure or union. An untagged
    // integer of a structure that the next member follows untagged may end
    // before its last digit.
    void member_value(frame& f);

    // Whether a comma after a value of alternative `m` of union `u` goes
    // on with the alternative's own values, as the reader prefers: when it
    // may take another and the bytes after the comma begin one, unless the
    // list around the union value may take another value and a tagged
    // alternative of the union fits there (as in a structure, a matching
    // tag decides). A void alternative's values are empty, so every comma
    // could be one of its own.
    bool continues_alternative(const element& u, const element& m, const occurrences& occ,
                               std::uint64_t count);

    // The member whose value the top frame reads may take another value.
    bool outer_list_goes_on() const;

    // After a value of the current member: a comma and the next value, or
    // the end of the member. In an unbraced union value the comma may also
    // separate the values of a list around the union value: the reader
    // prefers what continues_alternative says and keeps the other.
    // Returns true when the member has ended.
    bool after_value(frame& f);

    // Where the member that just ended stopped, when bytes follow it with
    // no white space between: an error there, before the next member, is
    // most likely the member's, and is reported with its path.
    void note_value_end(const frame& f, std::size_t end);

    // ---- structures ----------------------------------------------------

    bool at_close(const frame& f) { return f.root ? s_.at_end() : s_.peek() == '}'; }
    std::string close_text(const frame& f) const { return f.root ? "end of message" : "\"}\""; }

    void struct_step(frame& f);

    // Looks for the next member among those still to come, passing over
    // optional ones: one that fits is read (the first that fits, and on
    // the way back a later one); a required member that does not fit is
    // an error; when none fits, extension parameters follow. Bytes that
    // fit a member are never read as an extension parameter, and digits an
    // integer left are read by a member or not at all.
    void slot(frame& f);

    void extensions(frame& f);

    // ---- unions --------------------------------------------------------

    // A union value: an alternative that fits (the first, and on the way
    // back the others that fit), else an extension parameter; or nothing,
    // when an alternative may stand no time. Bytes that fit a member are
    // read as a member: where an alternative fits, the union is empty only
    // when a member of the structure its value ends into fits there.
    void union_step(frame& f);

    // The union value `u` (the top frame) may end here, empty: the
    // structure it hands the bytes on to (see landing_of) ends the list
    // of its member and has a member still to come that fits here. No
    // other frame can read bytes that fit an alternative of `u`.
    bool member_fits_below(const frame& u);

    // After a value of a union's extension parameter: a comma and its next
    // value, or its end. Where the list around the union value may take
    // another value, the comma may be the list's: the reader prefers the
    // parameter's and keeps the other.
    void extension_after_value();

    // ---- the error -----------------------------------------------------

    static void add_to_path(std::string& out, const element& m, std::uint64_t count);

    // The members the frames from the bottom up to `depth` are reading.
    std::string path(std::size_t depth) const;

    check_error error_of(const scan_failure& failure) const;

    scanner s_;
    const element& type_;
    // No extension parameters: a word where one would stand is an unknown
    // member (or alternative) of the body.
    bool closed_;
    reading_search<frame> search_;
    std::optional<check_error> first_error_;  // of the preferred reading
    // The member that ended last with bytes right after it (see
    // note_value_end).
    std::size_t last_end_ = 0;
    const element* last_member_ = nullptr;
    std::uint64_t last_count_ = 0;
    std::size_t last_depth_ = 0;
    std::vector<reading_event>* log_ = nullptr;
    // Only the structure at body_start_ is read (read_body_at).
    std::size_t body_start_ = 0;
    bool body_only_ = false;
};

}  // namespace qrv::checking
