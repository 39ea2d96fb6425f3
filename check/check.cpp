// The structure of a message: structures, unions, combinations and
// repetitions, read from an explicit stack of frames (one per body being
// read), so nesting costs heap, not stack. Simple values and extension
// parameters are read by the scanner.
#include "check/check.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "abnf/encoding.h"
#include "abnf/strict.h"
#include "check/scan.h"

namespace qrv {

namespace {

enum class step : std::uint8_t {
    open,
    slot,
    after_value,
    extensions,  // a structure's extension parameters
    ext_value,   // a union's extension parameter: its next value with its tags
    ext_after,   // a union's extension parameter: after a value
    done
};

// One body being read.
struct frame {
    const element* owner = nullptr;      // the structure or union; null for the message itself
    const element* next = nullptr;       // a structure's next member to look for
    const element* current = nullptr;    // the member whose values are being read
    std::uint64_t count = 0;             // the values of `current` read so far
    const element* unmatched = nullptr;  // the members passed over for extension parameters
    std::uint64_t below = 0;             // the state of the frames below, as state_of gives it
    std::uint64_t saved = 0;             // the choice point the frame was last saved for
    std::size_t landing = 0;             // see landing_of
    std::size_t comma_landing = 0;       // see comma_landing_of
    step at = step::open;
    bool root = false;      // the message's own structure: no braces
    bool braced = false;    // the values of `current` stand in braces
    bool extended = false;  // an extension parameter was read
    bool below_known = false;
};

// A place where the grammar lets the bytes be read in more than one way:
// the reader as it was when the step began, and the option to take when
// the reading fails after it.
struct choice_point {
    std::uint64_t serial = 0;
    std::uint64_t state = 0;     // of the stack, as state_of gives it
    std::size_t trail_mark = 0;  // the saved frames before it, counted from the start
    std::size_t depth = 0;       // the frames on the stack
    std::size_t pos = 0;
    std::uint32_t next = 1;
    std::uint32_t options = 2;
};

// A frame as it was before a step after a choice point changed it.
struct saved_frame {
    std::size_t index = 0;
    frame value;
};

std::uint64_t mix(std::uint64_t h, std::uint64_t v) {
    std::uint64_t z = h * 0x9E3779B97F4A7C15ULL + v + 0x632BE59BD9B4E019ULL;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

std::uint64_t address(const element* e) {
    return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(e));
}

// What decides how the reading goes on from a frame, the frames below it
// included (`below` must be known). Counts past the least a list needs (in
// an unbounded list) make no difference.
std::uint64_t state_of(const frame& f) {
    std::uint64_t h = f.below;
    h = mix(h, address(f.owner));
    h = mix(h, address(f.next));
    h = mix(h, address(f.current));
    h = mix(h, address(f.unmatched));
    if (f.current != nullptr) {
        const occurrences occ = occurrences_of(*f.current);
        h = mix(h, std::min<std::uint64_t>(f.count, occ.unbounded ? occ.min : occ.max));
    }
    return mix(h, static_cast<std::uint64_t>(f.at) | (f.root ? 0x100U : 0U) |
                      (f.braced ? 0x200U : 0U) | (f.extended ? 0x400U : 0U));
}

// A reading: the position and the state of the stack there, as one
// 64-bit fingerprint (never 0).
std::uint64_t reading_at(std::size_t pos, std::uint64_t state) { return mix(state, pos) | 1U; }

// The readings that failed, as fingerprints in open addressing. Full, it
// starts over empty: forgetting costs time, never a result.
class reading_set {
public:
    bool contains(std::uint64_t key) const {
        if (slots_.empty()) return false;
        for (std::size_t i = key & (slots_.size() - 1);; i = (i + 1) & (slots_.size() - 1)) {
            if (slots_[i] == key) return true;
            if (slots_[i] == 0) return false;
        }
    }

    void insert(std::uint64_t key) {
        if (2 * (used_ + 1) > slots_.size()) {
            if (slots_.size() >= max_slots) {
                std::fill(slots_.begin(), slots_.end(), 0);
                used_ = 0;
            } else {
                std::vector<std::uint64_t> old = std::move(slots_);
                slots_.assign(old.empty() ? 1024 : 2 * old.size(), 0);
                used_ = 0;
                for (std::uint64_t k : old) {
                    if (k != 0) put(k);
                }
            }
        }
        put(key);
    }

private:
    static constexpr std::size_t max_slots = std::size_t{1} << 22;

    void put(std::uint64_t key) {
        for (std::size_t i = key & (slots_.size() - 1);; i = (i + 1) & (slots_.size() - 1)) {
            if (slots_[i] == key) return;
            if (slots_[i] == 0) {
                slots_[i] = key;
                ++used_;
                return;
            }
        }
    }

    std::vector<std::uint64_t> slots_;
    std::size_t used_ = 0;
};

// The choice points kept at most; past that the older half is dropped, and
// the reading no longer goes back to them.
constexpr std::size_t max_choice_points = std::size_t{1} << 16;

std::string describe_value(const element& e) {
    if (e.kind == ET_STRUCT) return "\"{\"";
    if (e.kind == ET_UNION || e.kind == ET_COMBINED)
        return "a value of " + std::string(e.name().view());
    switch (simple_form(e).kind) {
        case value_kind::boolean: return "True or False";
        case value_kind::integer: return "an integer";
        case value_kind::floating: return "a number";
        case value_kind::oid: return "an object identifier";
        case value_kind::ascii: return "a text in '...'";
        case value_kind::unquoted: return "a text";
        case value_kind::unicode: return "a text in \"...\"";
        case value_kind::bytes: return "Base64 data in [...]";
        case value_kind::constant: return quote_text(e.const_value().view());
        case value_kind::ipv4: return "an IPv4 address";
        case value_kind::ipv6: return "an IPv6 address";
        case value_kind::date: return "a date";
        case value_kind::time: return "a time";
        case value_kind::embedded: return "a text in (...)";
        default: return "a value of " + std::string(e.name().view());
    }
}

std::string describe_member(const element& owner, const element& m) {
    if (tagged_in(owner, m)) return quote_text(m.tag().view());
    if (braced_in(owner, m)) return "\"{\"";
    return describe_value(m);
}

class message_reader {
public:
    message_reader(const element& type, std::string_view bytes)
        : s_(bytes), type_(type), budget_(4 * bytes.size() + (std::size_t{1} << 20)) {}

    std::optional<check_error> read() {
        frame top;
        top.at = step::open;
        push_frame(top);
        for (;;) {
            if (stack_.empty()) return std::nullopt;  // a reading took the whole message
            if (first_error_ && resumed_ < 0 && !first_visit()) {
                if (!go_back()) return first_error_;
                continue;
            }
            step_pos_ = s_.pos;
            save_top();
            frame& f = stack_.back();
            if (f.owner == nullptr) {
                message_step(f);
            } else if (f.owner->kind == ET_UNION) {
                union_step(f);
            } else {
                struct_step(f);
            }
            if (!s_.failure) continue;
            // The first error is the one reported: that of the preferred
            // reading, which reads as far as any before it turns off.
            if (s_.failure && !first_error_) {
                first_error_ = error_of(*s_.failure);
                s_.remember_extension_params();
            }
            s_.failure.reset();
            if (!go_back()) return first_error_;
        }
    }

private:
    // ---- choices -------------------------------------------------------
    //
    // The reader prefers one reading; where the grammar allows others it
    // keeps a choice point, and when the reading fails it goes back to the
    // newest one and takes its next option, restoring the frames from the
    // trail (each frame is saved once for each choice point, before it is
    // first changed after it). The error reported is the preferred
    // reading's. A reading reached again (the same position and the same
    // state of the stack) has failed before: once the search has begun,
    // every reading it reaches is remembered, and so is each choice point
    // of the preferred reading that runs out of options. No non-consuming
    // step returns to a reading, so nothing is remembered before it fails.
    // The search stops after a number of steps linear in the message.

    // False when the reading at the top of the stack has been reached
    // before in the search.
    bool first_visit() {
        if (++searched_ > budget_) return false;
        const std::uint64_t key = reading_at(s_.pos, top_state());
        if (failed_.contains(key)) return false;
        failed_.insert(key);
        return true;
    }

    // The option a step takes among the `options` it has, the preferred
    // one first; with more, a choice point keeps the others.
    int choose(std::uint32_t options) {
        if (resumed_ >= 0) {
            const int k = resumed_;
            resumed_ = -1;
            return k;
        }
        if (options <= 1) return 0;
        if (choices_.size() >= max_choice_points) forget_oldest_choices();
        choice_point c;
        c.serial = ++serials_;
        c.state = top_state();
        c.trail_mark = trail_base_ + trail_.size();
        c.depth = stack_.size();
        c.pos = step_pos_;
        c.options = options;
        choices_.push_back(c);
        save_top();
        return 0;
    }

    // Keeps the top frame as it is for the newest choice point before a
    // step changes it (once for each choice point).
    void save_top() {
        if (stack_.empty() || choices_.empty()) return;
        frame& f = stack_.back();
        const std::uint64_t newest = choices_.back().serial;
        if (f.saved >= newest) return;
        trail_.push_back({stack_.size() - 1, f});
        stack_.back().saved = newest;
    }

    // The state of the stack (state_of its top frame). The state of the
    // frames below a frame is worked out when first asked for and kept in
    // it: those frames do not change as long as it stands.
    std::uint64_t top_state() {
        std::size_t i = stack_.size() - 1;
        while (i > 0 && !stack_[i].below_known) --i;
        for (; i < stack_.size(); ++i) {
            frame& f = stack_[i];
            if (f.below_known) continue;
            f.below = i == 0 ? 0 : state_of(stack_[i - 1]);
            f.below_known = true;
        }
        return state_of(stack_.back());
    }

    void push_frame(frame f) {
        f.below_known = false;
        f.saved = choices_.empty() ? 0 : choices_.back().serial;
        f.landing = landing_of();
        f.comma_landing = comma_landing_of();
        stack_.push_back(f);  // invalidates references into the stack
    }

    // Where a value about to begin would hand on bytes it leaves unread:
    // the nearest frame below that is not an unbraced union alternative
    // which may end there (with no comma there, such an alternative ends
    // and so does its union value). Frames below the top do not change, so
    // this holds as long as the frame pushed now.
    std::size_t landing_of() const {
        if (stack_.empty()) return 0;
        const frame& p = stack_.back();
        const bool passes = p.owner != nullptr && p.owner->kind == ET_UNION && !p.root &&
                            !p.braced && p.at == step::after_value && p.current != nullptr &&
                            p.count >= occurrences_of(*p.current).min;
        return passes ? p.landing : stack_.size() - 1;
    }

    // The same for a comma handed on: the frames it passes are those
    // unbraced union alternatives that may end but take no more values.
    std::size_t comma_landing_of() const {
        if (stack_.empty()) return 0;
        const frame& p = stack_.back();
        const bool passes = p.owner != nullptr && p.owner->kind == ET_UNION && !p.root &&
                            !p.braced && p.at == step::after_value && p.current != nullptr &&
                            p.count >= occurrences_of(*p.current).min &&
                            !occurrences_of(*p.current).allows(p.count);
        return passes ? p.comma_landing : stack_.size() - 1;
    }

    // A comma that the value read by the top frame leaves unread is taken
    // by a list below: the frame it lands on may take another value.
    bool comma_taken_below() const {
        if (stack_.size() < 2) return false;
        const frame& f = stack_[stack_.back().comma_landing];
        return f.current != nullptr && occurrences_of(*f.current).allows(f.count);
    }

    // During the search, a union value that ends at a comma no list below
    // takes fails at once rather than after the frames below have ended
    // one by one. (The preferred reading goes on, for its error.)
    bool comma_left_to_nobody() {
        if (!first_error_ || s_.peek() != ',' || comma_taken_below()) return false;
        return s_.fail(s_.pos, "a comma no list takes");
    }

    // Back to the newest choice point, to take its next option.
    bool go_back() {
        if (choices_.empty() || searched_ > budget_) return false;
        choice_point& c = choices_.back();
        while (trail_base_ + trail_.size() > c.trail_mark) {
            const saved_frame& t = trail_.back();
            if (stack_.size() <= t.index) stack_.resize(t.index + 1);
            stack_[t.index] = t.value;
            trail_.pop_back();
        }
        stack_.resize(c.depth);
        s_.pos = c.pos;
        combination_member_ = nullptr;
        resumed_ = static_cast<int>(c.next);
        if (++c.next == c.options) {
            // Its last option: once that fails too, so has the reading
            // here, whichever way it is reached again.
            failed_.insert(reading_at(c.pos, c.state));
            choices_.pop_back();
        }
        return true;
    }

    void forget_oldest_choices() {
        const std::size_t drop = choices_.size() / 2;
        const std::size_t mark = choices_[drop].trail_mark;
        trail_.erase(trail_.begin(),
                     trail_.begin() + static_cast<std::ptrdiff_t>(mark - trail_base_));
        trail_base_ = mark;
        choices_.erase(choices_.begin(), choices_.begin() + static_cast<std::ptrdiff_t>(drop));
    }

    // ---- the message ---------------------------------------------------

    void message_step(frame& f) {
        if (f.at == step::open) {
            f.at = step::done;
            s_.skip_ows();
            begin_value(type_, true);
            return;
        }
        s_.skip_ows();
        if (!s_.at_end()) {
            s_.fail_expected(s_.pos, {"end of message"});
            return;
        }
        stack_.pop_back();
    }

    // ---- values --------------------------------------------------------

    // Reads a value of `e`, or pushes the frame that reads it.
    void begin_value(const element& e, bool root) {
        if (e.kind == ET_COMBINED) {
            read_combination(e);
            return;
        }
        if (e.kind == ET_STRUCT || e.kind == ET_UNION) {
            frame body;
            body.owner = &e;
            body.next = e.kind == ET_STRUCT ? e.children() : nullptr;
            body.root = root;
            body.at = step::open;
            push_frame(body);
            return;
        }
        s_.read_value(simple_form(e), false);
    }

    // A combination: its members' values one after the other, with no
    // white space between them (only around the commas of a repetition).
    void read_combination(const element& e) {
        for (const element* m = e.children(); m != nullptr && !s_.failure; m = m->next()) {
            const occurrences occ = occurrences_of(*m);
            if (occ.never()) continue;
            const value_form form = simple_form(*m);
            if (occ.optional() && !s_.can_begin(form)) continue;
            combination_member_ = m;
            std::uint64_t count = 0;
            for (;;) {
                combination_count_ = count;
                if (!s_.read_value(form, true)) return;
                ++count;
                if (!occ.allows(count)) break;
                const std::size_t back = s_.pos;
                s_.skip_ows();
                if (s_.peek() != ',') {
                    s_.pos = back;
                    break;
                }
                ++s_.pos;
                s_.skip_ows();
            }
            if (count < occ.min) {
                s_.fail(s_.pos, "expected \",\" and another value (" + std::to_string(occ.min) +
                                    " at least), found " + s_.found_at(s_.pos));
                return;
            }
        }
        combination_member_ = nullptr;
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
    // brace of a braced union alternative.
    bool enter_member(frame& f, const element& m) {
        f.current = &m;
        f.count = 1;
        f.braced = braced_in(*f.owner, m);
        f.at = step::after_value;
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
        if (stack_.size() < 2) return false;
        const frame& outer = stack_[stack_.size() - 2];
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
        s_.skip_ows();
        bool go_on = s_.peek() == ',';
        if (go_on && f.owner->kind == ET_UNION && !f.braced && !f.root) {
            const bool preferred = continues_alternative(*f.owner, m, occ, f.count);
            const bool other_possible =
                preferred ? f.count >= occ.min && comma_taken_below() : occ.allows(f.count);
            const int k = choose(other_possible ? 2 : 1);
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
            begin_value(m, false);  // may push: `f` is not used after this
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
        f.current = nullptr;
        return true;
    }

    // ---- structures ----------------------------------------------------

    bool at_close(const frame& f) { return f.root ? s_.at_end() : s_.peek() == '}'; }
    std::string close_text(const frame& f) const { return f.root ? "end of message" : "\"}\""; }

    void struct_step(frame& f) {
        switch (f.at) {
            case step::open:
                f.at = step::slot;
                if (!f.root) {
                    s_.skip_ows();
                    if (s_.peek() != '{') {
                        s_.fail_expected(s_.pos, {"\"{\""});
                        return;
                    }
                    ++s_.pos;
                }
                return;
            case step::slot: slot(f); return;
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
    // fit a member are never read as an extension parameter.
    void slot(frame& f) {
        s_.skip_ows();
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
            const int k = choose(fitting);
            const element* m = first;
            for (int seen = 0; seen < k;) {
                m = m->next();
                if (!occurrences_of(*m).never() && fits(*f.owner, *m)) ++seen;
            }
            f.next = m->next();
            if (enter_member(f, *m)) begin_value(*m, false);
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
            std::vector<std::string> expected;
            for (const element* m = f.next; m != blocked->next(); m = m->next()) {
                if (!occurrences_of(*m).never()) expected.push_back(describe_member(*f.owner, *m));
            }
            s_.fail_expected(s_.pos, expected);
            return;
        }
        f.unmatched = f.next;
        f.next = nullptr;
        f.at = step::extensions;
    }

    void extensions(frame& f) {
        const bool spaced = s_.skip_ows();
        if (at_close(f)) {
            if (!f.root) ++s_.pos;
            stack_.pop_back();
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
            case step::after_value:
                if (after_value(f)) stack_.pop_back();
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
        const int k = choose(options);
        if (static_cast<std::uint32_t>(k) < fitting) {
            const element* m = first;
            for (int seen = 0; seen < k;) {
                m = m->next();
                if (!occurrences_of(*m).never() && fits(u, *m)) ++seen;
            }
            if (enter_member(f, *m)) begin_value(*m, false);
            return;
        }
        if (extension && static_cast<std::uint32_t>(k) == fitting) {
            f.at = step::ext_value;
            return;
        }
        if (comma_left_to_nobody()) return;
        stack_.pop_back();
    }

    // The union value `u` (the top frame) may end here, empty: the
    // structure it hands the bytes on to (see landing_of) ends the list
    // of its member and has a member still to come that fits here. No
    // other frame can read bytes that fit an alternative of `u`.
    bool member_fits_below(const frame& u) {
        const frame& f = stack_[u.landing];
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
            const int k = choose(comma_taken_below() ? 2 : 1);
            if (k == 0) {
                ++s_.pos;
                s_.skip_ows();
                stack_.back().at = step::ext_value;
                return;
            }
        }
        s_.pos = end;
        stack_.pop_back();
    }

    // ---- the error -----------------------------------------------------

    std::string path() const {
        std::string out;
        auto add = [&out](const element& m, bool indexed, std::uint64_t index) {
            if (!out.empty()) out += '.';
            out += m.name().view();
            if (!indexed) return;
            out += '[';
            out += std::to_string(index);
            out += ']';
        };
        for (const frame& f : stack_) {
            if (f.current == nullptr) continue;
            add(*f.current, occurrences_of(*f.current).repeats(), f.count - 1);
        }
        if (combination_member_ != nullptr) {
            add(*combination_member_, occurrences_of(*combination_member_).repeats(),
                combination_count_);
        }
        return out;
    }

    check_error error_of(const scan_failure& failure) const {
        check_error e;
        e.offset = failure.offset;
        e.message = failure.message;
        e.path = path();
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
    std::vector<frame> stack_;
    const element* combination_member_ = nullptr;
    std::uint64_t combination_count_ = 0;

    // The search among readings.
    std::optional<check_error> first_error_;  // of the preferred reading
    std::vector<choice_point> choices_;
    std::vector<saved_frame> trail_;  // frames to restore on the way back, oldest first
    std::size_t trail_base_ = 0;      // the saved frames forgotten with old choice points
    std::uint64_t serials_ = 0;
    reading_set failed_;
    std::size_t step_pos_ = 0;  // where the current step began
    int resumed_ = -1;          // the option a step taken again is to take
    std::size_t searched_ = 0;  // steps since the first error
    std::size_t budget_;
};

}  // namespace

std::optional<check_error> check_message(const element& type, std::string_view message) {
    message_reader reader(type, message);
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
    const std::vector<module_record*> modules = declaring_modules(run);
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
