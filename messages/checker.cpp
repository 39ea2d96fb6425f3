// The structure of a message: structures, unions, combinations and
// repetitions, read from an explicit stack of frames (one per body being
// read), so nesting costs heap, not stack. Simple values and extension
// parameters are read by the scanner.
#include "messages/checker.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "abnf/strict_grammar.h"
#include "encoding/encoding.h"
#include "encoding/value_reader.h"
#include "messages/search.h"

namespace qrv {

namespace {

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

std::uint64_t address(const element* e) {
    return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(e));
}

// What decides how the reading goes on from a frame (the frames below
// aside). Counts past the least a list needs (in an unbounded list) make no
// difference.
std::uint64_t state_of(const frame& f) {
    std::uint64_t h = mix(0, address(f.owner));
    h = mix(h, address(f.next));
    h = mix(h, address(f.current));
    h = mix(h, address(f.unmatched));
    if (f.current != nullptr) {
        const occurrences occ = occurrences_of(*f.current);
        h = mix(h, std::min<std::uint64_t>(f.count, occ.unbounded ? occ.min : occ.max));
    }
    return mix(h, static_cast<std::uint64_t>(f.at) | (f.root ? 0x100U : 0U) |
                      (f.braced ? 0x200U : 0U) | (f.extended ? 0x400U : 0U) |
                      (f.glued ? 0x800U : 0U));
}

std::string describe_value(const element& e) {
    if (e.kind == ET_STRUCT) return "\"{\"";
    const value_form f = simple_form(e);
    const char* expected = row_of(f.kind).expected;
    if (expected == nullptr) return "a value of " + std::string(e.name().view());
    return *expected != '\0' ? std::string(expected) : quote_text(f.text);
}

std::string describe_member(const element& owner, const element& m) {
    if (tagged_in(owner, m)) return quote_text(m.tag().view());
    if (braced_in(owner, m)) return "\"{\"";
    return describe_value(m);
}

// The first member from `m` on that may stand at all.
const element* standing_from(const element* m) {
    while (m != nullptr && occurrences_of(*m).never()) m = m->next();
    return m;
}

class message_reader {
public:
    message_reader(const element& type, std::string_view bytes, const check_limits& limits)
        : s_(bytes),
          type_(type),
          search_(
              s_.pos,
              {limits.steps_per_byte * (bytes.size() + 1) + limits.steps_at_least,
               bytes.size() / limits.open_choices_per_byte + limits.open_choices_at_least,
               bytes.size() * limits.failed_readings_per_byte + limits.failed_readings_at_least}) {}

    check_result read() {
        frame top;
        top.at = step::open;
        search_.push(top);
        check_result result;
        for (;;) {
            if (search_.stack.empty()) break;  // a reading took the whole message
            if (!search_.begin_step() || (step(), s_.failure)) {
                // The first error is the one reported: that of the
                // preferred reading, which reads as far as any before it
                // turns off.
                if (s_.failure && !first_error_) {
                    first_error_ = error_of(*s_.failure);
                    s_.remember_extension_params();
                }
                s_.failure.reset();
                if (!search_.go_back()) {
                    result.verdict = search_.failed_end() == search_end::undecided
                                         ? check_verdict::undecided
                                         : check_verdict::invalid;
                    result.error = *first_error_;
                    break;
                }
            }
        }
        result.search_steps = search_.steps();
        return result;
    }

private:
    std::vector<frame>& stack() { return search_.stack; }
    const std::vector<frame>& stack() const { return search_.stack; }
    std::uint32_t choose(std::uint32_t options) { return search_.choose(options); }

    void step() {
        frame& f = stack().back();
        if (f.owner == nullptr) {
            message_step(f);
        } else if (f.owner->kind == ET_UNION) {
            union_step(f);
        } else if (f.owner->kind == ET_COMBINED) {
            combination_step(f);
        } else {
            struct_step(f);
        }
    }

    void push_frame(frame f) {
        f.landing = landing_of();
        f.comma_landing = comma_landing_of();
        search_.push(f);  // invalidates references into the stack
    }

    // Where a value about to begin would hand on bytes it leaves unread:
    // the nearest frame below that is not an unbraced union alternative
    // which may end there (with no comma there, such an alternative ends
    // and so does its union value). Frames below the top do not change, so
    // this holds as long as the frame pushed now.
    std::size_t landing_of() const {
        if (stack().empty()) return 0;
        const frame& p = stack().back();
        return passes_bytes_on(p) ? p.landing : stack().size() - 1;
    }

    // The same for a comma handed on: the frames it passes are those
    // unbraced union alternatives that may end but take no more values.
    std::size_t comma_landing_of() const {
        if (stack().empty()) return 0;
        const frame& p = stack().back();
        const bool passes = passes_bytes_on(p) && !occurrences_of(*p.current).allows(p.count);
        return passes ? p.comma_landing : stack().size() - 1;
    }

    static bool passes_bytes_on(const frame& p) {
        return p.owner != nullptr && p.owner->kind == ET_UNION && !p.root && !p.braced &&
               p.at == step::after_value && p.current != nullptr &&
               p.count >= occurrences_of(*p.current).min;
    }

    // A comma that the value read by the top frame leaves unread is taken
    // by a list below: the frame it lands on may take another value.
    bool comma_taken_below() const {
        if (stack().size() < 2) return false;
        const frame& f = stack()[stack().back().comma_landing];
        return f.current != nullptr && occurrences_of(*f.current).allows(f.count);
    }

    // During the search, a union value that ends at a comma no list below
    // takes fails at once rather than after the frames below have ended
    // one by one. (The preferred reading goes on, for its error.)
    bool comma_left_to_nobody() {
        if (!first_error_ || s_.peek() != ',' || comma_taken_below()) return false;
        return s_.fail(s_.pos, "a comma no list takes");
    }

    // ---- the message ---------------------------------------------------

    void message_step(frame& f) {
        if (f.at == step::open) {
            f.at = step::done;
            s_.skip_ows();
            begin_value(type_, true, false);
            return;
        }
        s_.skip_ows();
        if (!s_.at_end()) {
            s_.fail_expected(s_.pos, {"end of message"});
            return;
        }
        stack().pop_back();
    }

    // ---- values --------------------------------------------------------

    // Reads a value of `e`, or pushes the frame that reads it. `split`: an
    // integer may end before the last of its digits, for the next member.
    void begin_value(const element& e, bool root, bool split) {
        if (e.kind == ET_COMBINED) {
            frame body;
            body.owner = &e;
            body.next = e.children();
            body.at = step::slot;
            push_frame(body);
            return;
        }
        if (e.kind == ET_UNION) {
            frame body;
            body.owner = &e;
            body.root = root;
            body.at = step::open;
            push_frame(body);
            return;
        }
        if (e.kind == ET_STRUCT) {
            begin_structure(e, root);
            return;
        }
        const value_form form = simple_form(e);
        if (form.kind == value_kind::integer) {
            read_integer(form, false, split);
            return;
        }
        s_.read_value(form, false);
    }

    // A structure in braces reads the same way wherever it stands: once
    // every reading of it from its brace has been followed, the search goes
    // straight to where it can end.
    void begin_structure(const element& e, bool root) {
        frame body;
        body.owner = &e;
        body.next = e.children();
        body.root = root;
        body.at = step::slot;
        if (root) {
            push_frame(body);
            return;
        }
        s_.skip_ows();
        if (s_.peek() != '{') {
            s_.fail_expected(s_.pos, {"\"{\""});
            return;
        }
        const std::size_t brace = s_.pos;
        const void* key = e.children();
        if (key != nullptr) {
            if (const std::vector<std::size_t>* ends = search_.known_body(key, brace)) {
                if (ends->empty()) {
                    s_.fail(brace, "no reading of " + std::string(e.name().view()));
                    return;
                }
                if (ends->size() == 1) {
                    s_.pos = ends->front();
                    return;
                }
            }
        }
        ++s_.pos;
        push_frame(body);
        if (key != nullptr) search_.watch_body(key, brace);
    }

    // An integer: its longest form first. With `split` (or in a
    // combination, where it never takes more than its width), every
    // shorter count of its digits is an option too; taking one leaves
    // digits that the next member must read.
    void read_integer(const value_form& form, bool in_combination, bool split) {
        const std::size_t run = s_.integer_digits();
        const std::size_t width = form.digits == 0 ? run : std::min<std::size_t>(run, form.digits);
        if (!split || width <= 1) {
            s_.read_value(form, in_combination);
            return;
        }
        // Options: the longest form (all the digits, or the width in a
        // combination), then each shorter count down to one digit.
        const bool all_first = !in_combination && run > width;
        const std::uint32_t options =
            static_cast<std::uint32_t>(width - 1 + (all_first ? 1 : 0) + 1);
        const std::uint32_t k = choose(options);
        if (k == 0) {
            s_.read_value(form, in_combination);
            return;
        }
        const std::size_t take = width - (k - (all_first ? 1 : 0));
        if (s_.read_integer_digits(form, take)) stack().back().glued = true;
    }

    // ---- combinations --------------------------------------------------

    // A combination: its members' values one after the other with nothing
    // between them (white space only around the commas of a repetition).
    // An optional member may stand or not, a repetition take a comma or
    // leave it, an integer end after any of its digits where a member
    // follows: each is a choice.
    void combination_step(frame& f) {
        switch (f.at) {
            case step::slot: combination_slot(f); return;
            case step::value: {
                const element& m = *f.current;
                f.at = step::after_value;
                ++f.count;
                const value_form form = simple_form(m);
                f.glued = false;
                if (form.kind == value_kind::integer) {
                    read_integer(form, true, standing_from(m.next()) != nullptr);
                } else {
                    s_.read_value(form, true);
                }
                return;
            }
            case step::after_value: combination_after_value(f); return;
            default: return;
        }
    }

    void combination_slot(frame& f) {
        const element* m = standing_from(f.next);
        if (m == nullptr) {
            if (f.glued) {
                s_.fail(s_.pos, "digits left over after " + std::string(f.owner->name().view()));
                return;
            }
            stack().pop_back();
            return;
        }
        f.next = m->next();
        const occurrences occ = occurrences_of(*m);
        if (occ.optional()) {
            const bool begins = s_.can_begin(simple_form(*m));
            // Digits an integer left must be read by this member when it
            // can read them.
            const std::uint32_t options = begins ? (f.glued ? 1 : 2) : 1;
            if (!begins || choose(options) == 1) return;  // it does not stand
        }
        f.current = m;
        f.count = 0;
        f.at = step::value;
    }

    void combination_after_value(frame& f) {
        const element& m = *f.current;
        const occurrences occ = occurrences_of(m);
        if (!f.glued && occ.allows(f.count)) {
            const std::size_t back = s_.pos;
            s_.skip_ows();
            if (s_.peek() == ',') {
                // The comma may be the repetition's or a list's around the
                // combination.
                if (choose(f.count >= occ.min ? 2 : 1) == 0) {
                    ++s_.pos;
                    s_.skip_ows();
                    f.at = step::value;
                    return;
                }
            }
            s_.pos = back;
        }
        if (f.count < occ.min) {
            s_.fail(s_.pos, "expected \",\" and another value (" + std::to_string(occ.min) +
                                " at least), found " + s_.found_at(s_.pos));
            return;
        }
        f.current = nullptr;
        f.at = step::slot;
    }

    // ---- members -------------------------------------------------------

    // The next bytes are an occurrence of member `m` of `owner`: its tag
    // followed by "=" (a void member's tag standing alone), or, untagged,
    // the beginning of its value.
    bool fits(const element& owner, const element& m) {
        if (tagged_in(owner, m)) {
            const std::string_view tag = m.tag().view();
            if (!s_.looks_at(tag)) return false;
            const std::size_t back = s_.pos;
            s_.pos += tag.size();
            const bool spaced = s_.skip_ows();
            const int c = s_.peek();
            s_.pos = back;
            if (m.kind != ET_NULL) return c == '=';
            return c != '=' && (spaced || c < 0 || !is_safe_char(static_cast<unsigned char>(c)));
        }
        if (braced_in(owner, m)) return s_.peek() == '{';
        return begins(m);
    }

    bool begins(const element& m) {
        if (m.kind == ET_STRUCT) return s_.peek() == '{';
        if (m.kind == ET_UNION) {
            for (const element* a = m.children(); a != nullptr; a = a->next()) {
                if (occurrences_of(*a).never()) continue;
                if (tagged_in(m, *a) || braced_in(m, *a)) {
                    if (fits(m, *a)) return true;
                } else if (s_.can_begin(simple_form(*a))) {
                    return true;
                }
            }
            return false;
        }
        if (m.kind == ET_COMBINED) {
            for (const element* c = m.children(); c != nullptr; c = c->next()) {
                const occurrences occ = occurrences_of(*c);
                if (occ.never()) continue;
                if (s_.can_begin(simple_form(*c))) return true;
                if (!occ.optional()) return false;
            }
            return true;
        }
        return s_.can_begin(simple_form(m));
    }

    // Reads what stands before a member's value: its tag and "=", and the
    // brace of a braced union alternative. The value follows in the next
    // step.
    bool enter_member(frame& f, const element& m) {
        f.current = &m;
        f.count = 1;
        f.braced = braced_in(*f.owner, m);
        f.glued = false;
        f.at = step::value;
        if (tagged_in(*f.owner, m)) {
            s_.pos += m.tag().size();
            if (m.kind != ET_NULL) {
                s_.skip_ows();
                ++s_.pos;  // the "=" that fits() saw
                s_.skip_ows();
            }
        }
        if (f.braced) {
            s_.skip_ows();
            if (s_.peek() != '{') return s_.fail_expected(s_.pos, {"\"{\""});
            ++s_.pos;
            s_.skip_ows();
        }
        return true;
    }

    // The value of the current member of a structure or union. An untagged
    // integer of a structure that the next member follows untagged may end
    // before its last digit.
    void member_value(frame& f) {
        const element& m = *f.current;
        f.at = step::after_value;
        bool split = false;
        if (f.owner->kind == ET_STRUCT && !tagged_in(*f.owner, m)) {
            const element* after = standing_from(m.next());
            split = after != nullptr && !tagged_in(*f.owner, *after);
        }
        begin_value(m, false, split);  // may push: `f` is not used after this
    }

    // Whether a comma after a value of alternative `m` of union `u` goes
    // on with the alternative's own values, as the reader prefers: when it
    // may take another and the bytes after the comma begin one, unless the
    // list around the union value may take another value and a tagged
    // alternative of the union fits there (as in a structure, a matching
    // tag decides). A void alternative's values are empty, so every comma
    // could be one of its own.
    bool continues_alternative(const element& u, const element& m, const occurrences& occ,
                               std::uint64_t count) {
        if (!occ.allows(count)) return false;
        const std::size_t back = s_.pos;
        ++s_.pos;
        s_.skip_ows();
        bool more = begins(m);
        if (more && outer_list_goes_on()) {
            for (const element* a = u.children(); more && a != nullptr; a = a->next()) {
                if (!occurrences_of(*a).never() && tagged_in(u, *a) && fits(u, *a)) more = false;
            }
        }
        s_.pos = back;
        return more;
    }

    // The member whose value the top frame reads may take another value.
    bool outer_list_goes_on() const {
        if (stack().size() < 2) return false;
        const frame& outer = stack()[stack().size() - 2];
        return outer.current != nullptr && occurrences_of(*outer.current).allows(outer.count);
    }

    // After a value of the current member: a comma and the next value, or
    // the end of the member. In an unbraced union value the comma may also
    // separate the values of a list around the union value: the reader
    // prefers what continues_alternative says and keeps the other.
    // Returns true when the member has ended.
    bool after_value(frame& f) {
        const element& m = *f.current;
        const occurrences occ = occurrences_of(m);
        const std::size_t value_end = s_.pos;
        if (f.glued) {
            // Digits follow that only the next member may read.
            if (f.count < occ.min) {
                return s_.fail(s_.pos, "expected another value of " + std::string(m.name().view()) +
                                           " (" + std::to_string(occ.min) + " at least), found " +
                                           s_.found_at(s_.pos));
            }
            f.current = nullptr;
            return true;
        }
        s_.skip_ows();
        bool go_on = s_.peek() == ',';
        if (go_on && f.owner->kind == ET_UNION && !f.braced && !f.root) {
            const bool preferred = continues_alternative(*f.owner, m, occ, f.count);
            const bool other_possible =
                preferred ? f.count >= occ.min && comma_taken_below() : occ.allows(f.count);
            const std::uint32_t k = choose(other_possible ? 2 : 1);
            go_on = (k == 0) == preferred;
        }
        if (go_on) {
            if (!occ.allows(f.count)) {
                const std::string most =
                    occ.max == 1 ? "one value" : std::to_string(occ.max) + " values";
                return s_.fail(s_.pos, "expected " + most + " of " + std::string(m.name().view()) +
                                           " at most, found \",\"");
            }
            ++s_.pos;
            s_.skip_ows();
            ++f.count;
            f.at = step::value;
            return false;
        }
        if (f.count < occ.min) {
            return s_.fail(s_.pos, "expected \",\" and another value of " +
                                       std::string(m.name().view()) + " (" +
                                       std::to_string(occ.min) + " at least), found " +
                                       s_.found_at(s_.pos));
        }
        if (f.owner->kind == ET_UNION && !f.braced && comma_left_to_nobody()) return false;
        if (f.braced) {
            if (s_.peek() != '}') return s_.fail_expected(s_.pos, {"\",\"", "\"}\""});
            ++s_.pos;
        }
        note_value_end(f, f.braced ? s_.pos : value_end);
        f.current = nullptr;
        return true;
    }

    // Where the member that just ended stopped, when bytes follow it with
    // no white space between: an error there, before the next member, is
    // most likely the member's, and is reported with its path.
    void note_value_end(const frame& f, std::size_t end) {
        if (search_.searching() || end >= s_.size()) return;
        const char c = s_.bytes()[end];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ',' || c == '}') return;
        last_end_ = end;
        last_member_ = f.current;
        last_count_ = f.count;
        last_depth_ = static_cast<std::size_t>(&f - stack().data());
    }

    // ---- structures ----------------------------------------------------

    bool at_close(const frame& f) { return f.root ? s_.at_end() : s_.peek() == '}'; }
    std::string close_text(const frame& f) const { return f.root ? "end of message" : "\"}\""; }

    void struct_step(frame& f) {
        switch (f.at) {
            case step::slot: slot(f); return;
            case step::value: member_value(f); return;
            case step::after_value:
                if (after_value(f)) f.at = step::slot;
                return;
            case step::extensions: extensions(f); return;
            default: return;
        }
    }

    // Looks for the next member among those still to come, passing over
    // optional ones: one that fits is read (the first that fits, and on
    // the way back a later one); a required member that does not fit is
    // an error; when none fits, extension parameters follow. Bytes that
    // fit a member are never read as an extension parameter, and digits an
    // integer left are read by a member or not at all.
    void slot(frame& f) {
        if (!f.glued) s_.skip_ows();
        const element* blocked = nullptr;
        const element* first = nullptr;
        std::uint32_t fitting = 0;
        for (const element* m = f.next; m != nullptr; m = m->next()) {
            const occurrences occ = occurrences_of(*m);
            if (occ.never()) continue;
            const bool fit = fits(*f.owner, *m);
            if (fit && fitting++ == 0) first = m;
            if (!occ.optional()) {
                if (!fit) blocked = m;
                break;
            }
        }
        if (fitting > 0) {
            const std::uint32_t k = choose(fitting);
            const element* m = first;
            for (std::uint32_t seen = 0; seen < k;) {
                m = m->next();
                if (!occurrences_of(*m).never() && fits(*f.owner, *m)) ++seen;
            }
            f.next = m->next();
            enter_member(f, *m);
            return;
        }
        if (blocked != nullptr) {
            // Its tag without the "=" that must follow.
            if (tagged_in(*f.owner, *blocked) && blocked->kind != ET_NULL &&
                s_.looks_at(blocked->tag().view())) {
                s_.pos += blocked->tag().size();
                s_.skip_ows();
                s_.fail(s_.pos, "expected \"=\" after " + quote_text(blocked->tag().view()) +
                                    ", found " + s_.found_at(s_.pos));
                return;
            }
            // A void member's tag followed by "=": it stands alone.
            if (tagged_in(*f.owner, *blocked) && blocked->kind == ET_NULL &&
                s_.looks_at(blocked->tag().view())) {
                s_.pos += blocked->tag().size();
                s_.skip_ows();
                s_.fail(s_.pos, "expected " + quote_text(blocked->tag().view()) +
                                    " alone (a void member takes no value), found " +
                                    s_.found_at(s_.pos));
                return;
            }
            std::vector<std::string> expected;
            for (const element* m = f.next; m != blocked->next(); m = m->next()) {
                if (!occurrences_of(*m).never()) expected.push_back(describe_member(*f.owner, *m));
            }
            s_.fail_expected(s_.pos, expected);
            return;
        }
        if (f.glued) {
            s_.fail(s_.pos,
                    "expected the next member after the digits, found " + s_.found_at(s_.pos));
            return;
        }
        f.unmatched = f.next;
        f.next = nullptr;
        f.at = step::extensions;
    }

    void extensions(frame& f) {
        const bool spaced = s_.skip_ows();
        if (at_close(f)) {
            if (!f.root) {
                ++s_.pos;
                search_.end_body(s_.pos);
            }
            stack().pop_back();
            return;
        }
        std::vector<std::string> expected;
        if (!f.extended) {
            for (const element* m = f.unmatched; m != nullptr; m = m->next()) {
                if (!occurrences_of(*m).never()) expected.push_back(describe_member(*f.owner, *m));
            }
        }
        if (s_.can_begin_extension() && (spaced || !f.extended)) {
            f.extended = true;
            s_.read_extension_param();
            return;
        }
        expected.push_back(f.extended ? "white space" : "an extension parameter");
        expected.push_back(close_text(f));
        s_.fail_expected(s_.pos, expected);
    }

    // ---- unions --------------------------------------------------------

    // A union value: an alternative that fits (the first, and on the way
    // back the others that fit), else an extension parameter; or nothing,
    // when an alternative may stand no time. Bytes that fit a member are
    // read as a member: where an alternative fits, the union is empty only
    // when a member of the structure its value ends into fits there.
    void union_step(frame& f) {
        switch (f.at) {
            case step::value: member_value(f); return;
            case step::after_value:
                if (after_value(f)) stack().pop_back();
                return;
            case step::ext_value:
                if (s_.read_extension_group()) f.at = step::ext_after;
                return;
            case step::ext_after: extension_after_value(); return;
            default: break;
        }
        const element& u = *f.owner;
        s_.skip_ows();
        bool may_be_empty = false;
        const element* first = nullptr;
        std::uint32_t fitting = 0;
        for (const element* m = u.children(); m != nullptr; m = m->next()) {
            // An optional alternative, or one that never stands, may be
            // the empty value of the union.
            const occurrences occ = occurrences_of(*m);
            if (occ.optional() || occ.never()) may_be_empty = true;
            if (!occ.never() && fits(u, *m) && fitting++ == 0) first = m;
        }
        const bool extension = fitting == 0 && s_.can_begin_extension();
        const bool empty = may_be_empty && (fitting == 0 || member_fits_below(f));
        const std::uint32_t options = fitting + (extension ? 1 : 0) + (empty ? 1 : 0);
        if (options == 0) {
            std::vector<std::string> expected;
            for (const element* m = u.children(); m != nullptr; m = m->next()) {
                if (!occurrences_of(*m).never()) expected.push_back(describe_member(u, *m));
            }
            expected.push_back("an extension parameter");
            s_.fail_expected(s_.pos, expected);
            return;
        }
        const std::uint32_t k = choose(options);
        if (k < fitting) {
            const element* m = first;
            for (std::uint32_t seen = 0; seen < k;) {
                m = m->next();
                if (!occurrences_of(*m).never() && fits(u, *m)) ++seen;
            }
            enter_member(f, *m);
            return;
        }
        if (extension && k == fitting) {
            f.at = step::ext_value;
            return;
        }
        if (comma_left_to_nobody()) return;
        stack().pop_back();
    }

    // The union value `u` (the top frame) may end here, empty: the
    // structure it hands the bytes on to (see landing_of) ends the list
    // of its member and has a member still to come that fits here. No
    // other frame can read bytes that fit an alternative of `u`.
    bool member_fits_below(const frame& u) {
        const frame& f = stack()[u.landing];
        if (f.owner == nullptr || f.owner->kind != ET_STRUCT || f.current == nullptr) return false;
        if (f.count < occurrences_of(*f.current).min) return false;
        for (const element* m = f.next; m != nullptr; m = m->next()) {
            const occurrences occ = occurrences_of(*m);
            if (occ.never()) continue;
            if (fits(*f.owner, *m)) return true;
            if (!occ.optional()) return false;
        }
        return false;
    }

    // After a value of a union's extension parameter: a comma and its next
    // value, or its end. Where the list around the union value may take
    // another value, the comma may be the list's: the reader prefers the
    // parameter's and keeps the other.
    void extension_after_value() {
        const std::size_t end = s_.pos;
        s_.skip_ows();
        if (s_.peek() == ',') {
            const std::uint32_t k = choose(comma_taken_below() ? 2 : 1);
            if (k == 0) {
                ++s_.pos;
                s_.skip_ows();
                stack().back().at = step::ext_value;
                return;
            }
        }
        s_.pos = end;
        stack().pop_back();
    }

    // ---- the error -----------------------------------------------------

    static void add_to_path(std::string& out, const element& m, std::uint64_t count) {
        if (!out.empty()) out += '.';
        out += m.name().view();
        if (!occurrences_of(m).repeats()) return;
        out += '[';
        out += std::to_string(count == 0 ? 0 : count - 1);
        out += ']';
    }

    // The members the frames from the bottom up to `depth` are reading.
    std::string path(std::size_t depth) const {
        std::string out;
        for (std::size_t i = 0; i < depth && i < stack().size(); ++i) {
            const frame& f = stack()[i];
            if (f.current != nullptr) add_to_path(out, *f.current, f.count);
        }
        return out;
    }

    check_error error_of(const scan_failure& failure) const {
        check_error e;
        e.offset = failure.offset;
        e.message = failure.message;
        e.path = path(stack().size());
        if (last_member_ != nullptr && failure.offset == last_end_ &&
            (last_depth_ >= stack().size() || stack()[last_depth_].current == nullptr)) {
            // The bytes stuck to the value of a member that had ended.
            e.path = path(last_depth_);
            add_to_path(e.path, *last_member_, last_count_);
            e.message += " directly after its value";
        }
        const std::string_view bytes = s_.bytes();
        const std::size_t at = std::min(failure.offset, bytes.size());
        std::size_t line_start = 0;
        for (std::size_t i = 0; i < at; ++i) {
            if (bytes[i] == '\n') {
                ++e.line;
                line_start = i + 1;
            }
        }
        e.column = static_cast<std::int64_t>(at - line_start) + 1;
        return e;
    }

    scanner s_;
    const element& type_;
    reading_search<frame> search_;
    std::optional<check_error> first_error_;  // of the preferred reading
    // The member that ended last with bytes right after it (see
    // note_value_end).
    std::size_t last_end_ = 0;
    const element* last_member_ = nullptr;
    std::uint64_t last_count_ = 0;
    std::size_t last_depth_ = 0;
};

}  // namespace

check_result check_message(const element& type, std::string_view message,
                           const check_limits& limits) {
    message_reader reader(type, message, limits);
    return reader.read();
}

const element* find_message_type(const run_context& run, std::string_view name) {
    const std::size_t colons = name.find("::");
    if (colons == std::string_view::npos) {
        for (const element* e = run.elements; e != nullptr; e = e->next()) {
            if (e->name() == name) return e;
        }
        return nullptr;
    }
    const std::string_view module = name.substr(0, colons);
    const std::string_view local = name.substr(colons + 2);
    const std::vector<const module_record*> modules = declaring_modules(run);
    std::size_t i = 0;
    for (const element* e = run.elements; e != nullptr; e = e->next(), ++i) {
        const module_record* m = i < modules.size() ? modules[i] : e->module();
        if (m != nullptr && m->name == module && e->name() == local) return e;
    }
    return nullptr;
}

std::string check_error_text(const check_error& error) {
    if (error.path.empty()) return error.message;
    return error.path + ": " + error.message;
}

}  // namespace qrv
