// The search among readings, driven by a toy grammar whose language a few
// lines of plain recursion decide: choice points and the way back, the
// memo of failed readings, bodies known in every context, and the budget
// and choice cap ending as undecided, never as a rejection.
//
// The toy grammar: a message is a list of items; an item is "x", "xy" or a
// body "(" items ")" followed by "p" or "q". Where a body begins, the
// reader chooses whether it is a p-body or a q-body, and "x" or "xy" where
// both could be read: the preferred option is always the wrong one in the
// messages below, so that every level of nesting doubles the readings a
// search without memos would follow.
#include "messages/search.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <string_view>

namespace qrv {
namespace {

struct toy_frame : search_frame {
    char kind = 0;  // 0: the message; 'p' or 'q': a body
    std::uint32_t items = 0;
};

std::uint64_t state_of(const toy_frame& f) { return mix(f.kind, f.items > 0 ? 1 : 0); }

struct toy_result {
    search_end end;
    std::size_t steps;
};

class toy_reader {
public:
    toy_reader(std::string_view text, search_limits limits) : text_(text), search_(pos_, limits) {}

    toy_result read() {
        search_.push(toy_frame{});
        for (;;) {
            if (search_.stack.empty()) return {search_end::accepted, search_.steps()};
            if (!search_.begin_step() || !step()) {
                if (!search_.go_back()) return {search_.failed_end(), search_.steps()};
            }
        }
    }

private:
    int peek(std::size_t ahead = 0) const {
        return pos_ + ahead < text_.size() ? text_[pos_ + ahead] : -1;
    }

    bool step() {
        toy_frame& f = search_.stack.back();
        const int c = peek();
        if (c == 'x') {
            ++f.items;
            const bool both = peek(1) == 'y';
            // Preferred: "x" alone, also where "y" follows.
            pos_ += both && search_.choose(2) == 1 ? 2 : 1;
            return true;
        }
        if (c == '(') {
            ++f.items;
            // Preferred: a p-body.
            const char kind = search_.choose(2) == 0 ? 'p' : 'q';
            const void* key = kind == 'p' ? &p_key_ : &q_key_;
            if (const std::vector<std::size_t>* ends = search_.known_body(key, pos_)) {
                if (ends->empty()) return false;
                pos_ = ends->front();  // bodies of this grammar end in one place
                return true;
            }
            const std::size_t at = pos_++;
            toy_frame body;
            body.kind = kind;
            search_.push(body);
            search_.watch_body(key, at);
            return true;
        }
        if (c == ')' && f.kind != 0) {
            if (peek(1) != f.kind) return false;
            pos_ += 2;
            search_.end_body(pos_);
            search_.stack.pop_back();
            return true;
        }
        if (c == -1 && f.kind == 0) {
            search_.stack.pop_back();
            return true;
        }
        return false;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    reading_search<toy_frame> search_;
    const char p_key_ = 0;
    const char q_key_ = 0;
};

toy_result read_toy(std::string_view text, search_limits limits = {1000000, 1 << 16, 1 << 21}) {
    return toy_reader(text, limits).read();
}

// The language by plain recursion: whether items from `at` reach `end` of
// the text (or a ")" when `inner`).
bool toy_items(std::string_view t, std::size_t& at, bool inner) {
    for (;;) {
        if (at >= t.size()) return !inner;
        if (t[at] == 'x') {
            at += at + 1 < t.size() && t[at + 1] == 'y' ? 2 : 1;
        } else if (t[at] == '(') {
            ++at;
            if (!toy_items(t, at, true)) return false;
            if (at + 1 >= t.size() || (t[at + 1] != 'p' && t[at + 1] != 'q')) return false;
            at += 2;
        } else {
            return inner && t[at] == ')';
        }
    }
}

bool in_toy_language(std::string_view t) {
    std::size_t at = 0;
    return toy_items(t, at, false) && at == t.size();
}

std::string nested(int depth, char closing) {
    std::string s = "x";
    for (int i = 0; i < depth; ++i) s = "(xy" + s + ")" + closing;
    return s;
}

TEST(reading_search, GoesBackToEveryOptionAndAgreesWithTheLanguage) {
    EXPECT_EQ(read_toy("xyx").end, search_end::accepted);
    EXPECT_EQ(read_toy("(x)q").end, search_end::accepted);
    EXPECT_EQ(read_toy("(xy)q(x)p").end, search_end::accepted);
    EXPECT_EQ(read_toy("y").end, search_end::rejected);
    EXPECT_EQ(read_toy("(x)r").end, search_end::rejected);
    EXPECT_EQ(read_toy("((x)q").end, search_end::rejected);
    // Random texts of the five letters: the search decides each exactly.
    std::mt19937 random(7);
    const char letters[] = "xy()pq";
    for (int n = 0; n < 3000; ++n) {
        std::string text;
        const std::size_t length = random() % 12;
        for (std::size_t i = 0; i < length; ++i) text += letters[random() % 6];
        const search_end expected =
            in_toy_language(text) ? search_end::accepted : search_end::rejected;
        EXPECT_EQ(read_toy(text).end, expected) << text;
    }
}

TEST(reading_search, BodiesKnownInEveryContextKeepDeepNestingLinear) {
    // Every level chooses p first and finds it wrong only after reading
    // everything inside: without the memo of bodies, 2^depth readings.
    const toy_result deep = read_toy(nested(2000, 'q'));
    EXPECT_EQ(deep.end, search_end::accepted);
    EXPECT_LT(deep.steps, 40u * 2000);
    const toy_result doubled = read_toy(nested(4000, 'q'));
    EXPECT_EQ(doubled.end, search_end::accepted);
    EXPECT_LT(doubled.steps, 40u * 4000);
    EXPECT_EQ(read_toy(nested(2000, 'q') + ")").end, search_end::rejected);
}

TEST(reading_search, ARunOutBudgetOrForgottenChoicesNeverReject) {
    // A budget too small to find the reading: undecided, not rejected.
    EXPECT_EQ(read_toy(nested(30, 'q'), {10, 1 << 16, 1 << 21}).end, search_end::undecided);
    // The same for a text without a reading: only the full search may
    // call it rejected.
    EXPECT_EQ(read_toy(nested(30, 'q') + ")", {10, 1 << 16, 1 << 21}).end, search_end::undecided);
    EXPECT_EQ(read_toy(nested(30, 'q') + ")").end, search_end::rejected);
    // More open choices than the cap (one per level): the oldest are
    // forgotten, and a reading that needed them is undecided.
    EXPECT_EQ(read_toy(nested(30, 'q'), {100000, 8, 1 << 21}).end, search_end::undecided);
    EXPECT_EQ(read_toy(nested(30, 'p'), {100000, 8, 1 << 21}).end, search_end::accepted);
}

}  // namespace
}  // namespace qrv
