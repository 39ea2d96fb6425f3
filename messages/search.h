// The search among the readings of a message: a reader that prefers one
// reading and, where the grammar lets bytes be read in more than one way,
// keeps the other options so that it can go back to them when its reading
// fails. This header knows nothing of the encoding; the message reader
// (messages/checker.cpp) drives it, and tests drive it with small grammars of their
// own.
//
// The reader keeps its state in a stack of frames and a position. A step
// of the reader begins with begin_step(), may ask choose() for one of
// several options, and may change, push and pop frames. When a reading
// fails, go_back() restores the frames and the position of the newest
// choice point and has its step taken again, and choose() then gives that
// step its next option. Each frame is saved on a trail once for each
// choice point, before a step after it first changes the frame, so the way
// back costs what the steps since changed.
//
// Three memos keep the search linear in practice:
// - Readings that failed, as fingerprints of the position and the state of
//   the whole stack (state_of over the frames, Frame provides it): once the
//   search has begun, every reading it reaches is remembered, and a reading
//   reached again has failed before and is not followed twice.
// - Bodies read in any context: a body that reads the same way wherever it
//   stands (a structure in braces) is known by its definition and the
//   position of its opening brace. Once every reading of it has been
//   followed in one context, the positions where it can end are known, and
//   every later context goes straight to them instead of reading the body
//   again. So readings that differ only below a body do not multiply
//   with the nesting.
// - The reader's own caches (white space, values), in the scanner.
//
// The search has a budget of steps linear in the message. When the budget
// runs out, or choice points had to be forgotten because too many were open
// at once, a reading that fails no longer proves that none succeeds: the
// search ends as undecided, never as a rejection.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qrv {

// Mixes `v` into the hash `h` (splitmix64's finaliser).
constexpr std::uint64_t mix(std::uint64_t h, std::uint64_t v) {
    std::uint64_t z = h * 0x9E3779B97F4A7C15ULL + v + 0x632BE59BD9B4E019ULL;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

// A set of 64-bit fingerprints (never 0) in open addressing. Full, it
// starts over empty: forgetting costs time, never a result.
class fingerprint_set {
public:
    // At most about `most` fingerprints are kept (8 bytes each, twice over).
    explicit fingerprint_set(std::size_t most = std::size_t{1} << 21) : max_slots_(2 * most) {}
    bool contains(std::uint64_t key) const;
    void insert(std::uint64_t key);

private:
    void put(std::uint64_t key);

    std::size_t max_slots_;

    std::vector<std::uint64_t> slots_;
    std::size_t used_ = 0;
};

// Entries by (definition, position), in open addressing.
class body_index {
public:
    const std::uint32_t* find(const void* definition, std::size_t at) const;
    void insert(const void* definition, std::size_t at, std::uint32_t entry);

private:
    struct slot {
        const void* definition = nullptr;  // null: free
        std::size_t at = 0;
        std::uint32_t entry = 0;
    };
    std::size_t home(const void* definition, std::size_t at) const;
    std::vector<slot> slots_;
    std::size_t used_ = 0;
};

// What every frame of a search carries for it. A reader's frame type
// derives from it.
struct search_frame {
    std::uint64_t below = 0;   // the state of the frames below, once known
    std::uint64_t saved = 0;   // the choice point the frame was last saved for
    std::uint64_t pushed = 0;  // the choice points made before the frame was pushed
    std::uint32_t body = 0;    // its entry in the body memo plus one, or 0
    bool below_known = false;
};

enum class search_end {
    accepted,   // a reading took the whole message
    rejected,   // no reading does
    undecided,  // the budget ran out before either was shown
};

struct search_limits {
    std::size_t steps = 0;  // steps after the preferred reading failed
    std::size_t open_choices = std::size_t{1} << 16;
    std::size_t failed_readings = std::size_t{1} << 21;  // remembered at once
};

// The search over frames of type Frame (derived from search_frame), with
// `std::uint64_t state_of(const Frame&)` giving what decides how the
// reading goes on from a frame, the frames below aside.
template <class Frame>
class reading_search {
public:
    reading_search(std::size_t& pos, search_limits limits)
        : pos_(pos), limits_(limits), failed_(limits.failed_readings) {}

    std::vector<Frame> stack;

    // ---- steps ---------------------------------------------------------

    // Before the reader's next step. False when the step is not to be
    // taken: its reading was reached before, or the budget is spent; the
    // reader then goes back. `log_size`: how much a reader that records its
    // reading has recorded so far; after go_back(), log_mark() gives what
    // it had when the step taken again began, to cut its record back to.
    bool begin_step(std::size_t log_size = 0) {
        step_log_ = log_size;
        step_pos_ = pos_;
        step_depth_ = stack.size();
        step_state_ = top_state();
        if (searching_ && resumed_ < 0) {
            if (++steps_ > limits_.steps) {
                out_of_budget_ = true;
                return false;
            }
            const std::uint64_t key = mix(step_state_, pos_) | 1U;
            if (failed_.contains(key)) return false;
            failed_.insert(key);
        }
        save_top();
        step_top_ = stack.back();
        return true;
    }

    // The option a step takes among the `options` it has, the preferred
    // one (0) first; with more than one, a choice point keeps the others.
    // A step asks at most once, and must ask the same again when it is
    // taken again; what it changed before asking is undone on the way
    // back.
    std::uint32_t choose(std::uint32_t options) {
        if (resumed_ >= 0) {
            const auto k = static_cast<std::uint32_t>(resumed_);
            resumed_ = -1;
            return k;
        }
        if (options <= 1) return 0;
        if (choices_.size() >= limits_.open_choices) forget_oldest_choices();
        choice_point c;
        c.serial = ++serials_;
        c.state = step_state_;
        c.trail_mark = trail_base_ + trail_.size();
        c.depth = step_depth_;
        c.pos = step_pos_;
        c.options = options;
        c.bodies = exploring_.size();
        c.log = step_log_;
        choices_.push_back(c);
        // The top frame as the step found it.
        trail_.push_back({step_depth_ - 1, step_top_});
        if (step_depth_ <= stack.size()) stack[step_depth_ - 1].saved = c.serial;
        for (std::size_t i = step_depth_; i < stack.size(); ++i) stack[i].saved = c.serial;
        return 0;
    }

    // Keeps the top frame as it is for the newest choice point, before
    // the step changes it.
    void save_top() {
        if (stack.empty() || choices_.empty()) return;
        Frame& f = stack.back();
        const std::uint64_t newest = choices_.back().serial;
        if (f.saved >= newest) return;
        trail_.push_back({stack.size() - 1, f});
        stack.back().saved = newest;
    }

    void push(Frame f) {
        f.below_known = false;
        f.saved = choices_.empty() ? 0 : choices_.back().serial;
        f.pushed = serials_;
        stack.push_back(f);
    }

    // The reading failed: back to the newest choice point, whose step is
    // taken again with its next option. False when there is none left (or
    // the budget is spent).
    bool go_back() {
        searching_ = true;
        if (choices_.empty() || out_of_budget_) return false;
        choice_point& c = choices_.back();
        while (trail_base_ + trail_.size() > c.trail_mark) {
            const saved_frame& t = trail_.back();
            if (stack.size() <= t.index) stack.resize(t.index + 1);
            stack[t.index] = t.value;
            trail_.pop_back();
        }
        stack.resize(c.depth);
        pos_ = c.pos;
        log_mark_ = c.log;
        resumed_ = static_cast<int>(c.next);
        // Bodies entered after the choice point was made have been read in
        // every way they can be read from there.
        settle_bodies(c.bodies);
        if (++c.next == c.options) {
            // Its last option: once that fails too, so has the reading
            // here, whichever way it is reached again.
            failed_.insert(mix(c.state, c.pos) | 1U);
            choices_.pop_back();
        }
        return true;
    }

    // How the search ended, once no reading is left to follow.
    search_end failed_end() const {
        return out_of_budget_ || forgot_ ? search_end::undecided : search_end::rejected;
    }
    bool searching() const { return searching_; }
    // The reader's record as the step that go_back() has taken again found
    // it (see begin_step).
    std::size_t log_mark() const { return log_mark_; }
    std::size_t steps() const { return steps_; }

    // ---- bodies read in any context ------------------------------------

    // The positions where the body of `definition` that begins at `at` can
    // end, when every reading of it has been followed in some context;
    // null when that is not known. `definition` is any address the reader
    // makes unique to the way a body is read.
    const std::vector<std::size_t>* known_body(const void* definition, std::size_t at) const {
        const std::uint32_t* entry = settled_.find(definition, at);
        return entry == nullptr ? nullptr : &bodies_[*entry].ends;
    }

    // The top frame begins the body of `definition` at `at`. While a
    // choice point below it is open, the search may come back to this body
    // from another context: then its readings are watched, so that their
    // ends are known from then on.
    void watch_body(const void* definition, std::size_t at) {
        if (choices_.empty()) return;
        bodies_.push_back({definition, at, {}});
        exploring_.push_back(static_cast<std::uint32_t>(bodies_.size() - 1));
        stack.back().body = static_cast<std::uint32_t>(bodies_.size());
    }

    // The watched body of the top frame ends at `end` (the frame is about
    // to be popped). When no choice made inside it is left open, every
    // reading of it has been followed.
    void end_body(std::size_t end) {
        const Frame& f = stack.back();
        if (f.body == 0) return;
        body_entry& b = bodies_[f.body - 1];
        if (std::find(b.ends.begin(), b.ends.end(), end) == b.ends.end()) b.ends.push_back(end);
        if (choices_.empty() || choices_.back().serial <= f.pushed) {
            // It and the bodies inside it are read in every way.
            std::size_t keep = exploring_.size();
            while (keep > 0 && exploring_[keep - 1] >= f.body - 1) --keep;
            settle_bodies(keep);
        }
    }

private:
    struct choice_point {
        std::uint64_t serial = 0;
        std::uint64_t state = 0;     // of the stack, as top_state gives it
        std::size_t trail_mark = 0;  // the saved frames before it, counted from the start
        std::size_t depth = 0;       // the frames on the stack
        std::size_t pos = 0;
        std::size_t bodies = 0;  // the bodies being explored when it was made
        std::size_t log = 0;     // the reader's record when its step began
        std::uint32_t next = 1;
        std::uint32_t options = 2;
    };
    struct saved_frame {
        std::size_t index = 0;
        Frame value;
    };
    struct body_entry {
        const void* definition = nullptr;
        std::size_t at = 0;
        std::vector<std::size_t> ends;
    };

    // The state of the whole stack. The state of the frames below a frame
    // is worked out when first asked for and kept in it: they do not
    // change while it stands.
    std::uint64_t top_state() {
        std::size_t i = stack.size() - 1;
        while (i > 0 && !stack[i].below_known) --i;
        for (; i < stack.size(); ++i) {
            Frame& f = stack[i];
            if (f.below_known) continue;
            f.below = i == 0 ? 0 : mix(stack[i - 1].below, state_of(stack[i - 1]));
            f.below_known = true;
        }
        return mix(stack.back().below, state_of(stack.back()));
    }

    // Every body entered after the first `keep` of those being explored
    // has been read in every way.
    void settle_bodies(std::size_t keep) {
        while (exploring_.size() > keep) {
            const body_entry& b = bodies_[exploring_.back()];
            settled_.insert(b.definition, b.at, exploring_.back());
            exploring_.pop_back();
        }
    }

    void forget_oldest_choices() {
        const std::size_t drop = choices_.size() / 2;
        const std::size_t mark = choices_[drop].trail_mark;
        trail_.erase(trail_.begin(),
                     trail_.begin() + static_cast<std::ptrdiff_t>(mark - trail_base_));
        trail_base_ = mark;
        choices_.erase(choices_.begin(), choices_.begin() + static_cast<std::ptrdiff_t>(drop));
        // A failure no longer shows that nothing else could succeed, and
        // the bodies being explored will not be known to be read in every
        // way; those entered from now on will be.
        forgot_ = true;
        exploring_.clear();
        for (choice_point& c : choices_) c.bodies = 0;
    }

    std::size_t& pos_;
    search_limits limits_;
    std::vector<choice_point> choices_;
    std::vector<saved_frame> trail_;  // oldest first
    std::size_t trail_base_ = 0;      // saved frames forgotten with old choice points
    std::uint64_t serials_ = 0;
    fingerprint_set failed_;
    std::vector<body_entry> bodies_;
    std::vector<std::uint32_t> exploring_;  // bodies_ indexes, in the order they were entered
    body_index settled_;
    // The step being taken: where it began, and the stack as it found it.
    std::size_t step_pos_ = 0;
    std::size_t step_log_ = 0;
    std::size_t log_mark_ = 0;
    std::size_t step_depth_ = 0;
    std::uint64_t step_state_ = 0;
    Frame step_top_;
    int resumed_ = -1;
    std::size_t steps_ = 0;
    bool searching_ = false;
    bool out_of_budget_ = false;
    bool forgot_ = false;
};

}  // namespace qrv
