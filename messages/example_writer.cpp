// The example writer: the message, written as it is chosen, from the
// shortest values of its bodies (messages/example_sizes.h) and the writers
// of the simple values (messages/example_values.h).
//
// The message is written as it is chosen: members in order, each on a line
// of its own, nested bodies indented. Near the top the seed decides
// whether an optional member stands, how often a member repeats, which
// alternative a union takes and every value; below a few levels, or
// once a few hundred members are written, every choice takes the
// shortest value. Each choice the seed makes beyond the shortest message
// is paid for from a budget of bytes, at the most it may add; a choice
// the budget cannot pay for takes the shortest value, and values then
// their shortest form. So the example holds at most the shortest
// message and the budget, however recursive or repetitive the schema.
//
// The values are written so that a reader that takes the longest value and
// the first tag that matches reads them as they were meant: white space
// between members, integers of a combination at their full width,
// embedded texts without ")" and without blanks at their ends. The
// shortest form of a value is one of the forms the seed may give it.
#include "messages/example_writer.h"

#include <algorithm>
#include <vector>

#include "encoding/encoding.h"
#include "messages/example_sizes.h"
#include "messages/example_values.h"

namespace qrv {

namespace {

using namespace examples;

// ---- the message -------------------------------------------------------------

class message_writer {
public:
    // `extra`: the bytes the seed's choices may add to the shortest message;
    // 0 writes the shortest message itself.
    message_writer(const element& definition, const example_maker::sizes& sizes, std::uint64_t seed,
                   std::uint64_t extra, text_out& out, const example_steering* steering = nullptr)
        : definition_(definition),
          sizes_(sizes),
          random_(seed),
          out_(out),
          values_(random_, out),
          spare_(extra),
          least_only_(extra == 0),
          steering_(steering) {}

    void write() {
        if (definition_.kind == ET_STRUCT) {
            if (definition_.children() != nullptr) {
                stack_.push_back({&definition_, definition_.children(), 0, 0, true, least_only_});
                stack_.back().steer = steering_ != nullptr ? 0 : -1;
            } else if (extension_in(definition_, steering_ != nullptr ? 0 : -1)) {
                put(steering_->extension);
                put("\n");
            }
        } else if (!open_value(definition_, 0, least_only_, false, true, 0,
                               steering_ != nullptr ? 0 : -1, root_steered())) {
            out_.put('\n');
        }
        run();
    }

private:
    struct frame {
        const element* body;       // the structure or union written
        const element* member;     // structure: the member at hand; union: the alternative
        std::uint64_t left;        // occurrences of the member still to write
        std::uint32_t depth;       // indentation of the body's member lines
        bool root;                 // the message itself: no braces
        bool minimal;              // every choice takes the shortest message
        std::uint32_t unions = 0;  // union: unions directly around its value, itself too
        bool started = false;      // the member's occurrences are being written
        bool first = true;         // no occurrence of the member written yet
        bool wrote_any = false;    // structure: a member line was written
        bool braced = false;       // union: the alternative stands in braces
        bool in_list = false;      // the member stands more than once
        // The steering: the first place of its path this body's members may
        // take (-1: the body is off the path), and the member at hand's.
        std::int32_t steer = -1;
        std::int32_t member_steer = -1;
    };

    void put(std::string_view s) { out_.put(s); }

    // The steering. The members of a body on the path may take the places
    // of the path from `from` on (-1: none), so that a body met again
    // within itself is off the path. The place of `m` there, or -1.
    std::int32_t path_place(std::int32_t from, const element& m) const {
        if (steering_ == nullptr || from < 0) return -1;
        for (std::size_t i = static_cast<std::size_t>(from); i < steering_->path.size(); ++i) {
            if (steering_->path[i] == &m) return static_cast<std::int32_t>(i);
        }
        return -1;
    }
    bool last_place(std::int32_t place) const {
        return place >= 0 && static_cast<std::size_t>(place) + 1 == steering_->path.size();
    }
    // The places below a member at `place`.
    static std::int32_t below(std::int32_t place) { return place >= 0 ? place + 1 : -1; }
    // A simple root definition is its own path.
    bool root_steered() const {
        return steering_ != nullptr && steering_->path.size() == 1 &&
               steering_->path[0] == &definition_;
    }
    // Whether a body on the path (`from` >= 0) gets the extension parameter.
    bool extension_in(const element& body, std::int32_t from) const {
        return steering_ != nullptr && from >= 0 && steering_->extension_in == &body;
    }
    // The occurrences of a member at `place` on the path: the count asked
    // for on the last one, else at least one.
    std::uint64_t steered_count(const element& m, std::int32_t place) const {
        if (last_place(place) && steering_->count) return *steering_->count;
        const occurrences o = occurrences_of(m);
        return o.never() ? 0 : std::max<std::uint64_t>(o.min, 1);
    }

    void new_line(std::uint32_t depth) {
        put("\n");
        out_.put(' ', 4 * std::uint64_t{std::min(depth, max_indent)});
    }

    bool minimal(const frame& f) const { return f.minimal || written_ >= free_members; }

    // Takes `bytes` from the budget; false, taking nothing, when it has less.
    bool take(std::uint64_t bytes) {
        if (bytes > spare_) return false;
        spare_ -= bytes;
        return true;
    }

    // One simple value: the seed's while the budget can pay for the most it
    // may add to the shortest form, which it pays back once the value is
    // written; else the shortest form.
    void value(const element& e, bool in_combination, bool steered = false) {
        if (steered && (steering_->integer || steering_->length)) {
            // The value asked for, as the shortest value of a form that
            // holds only it.
            value_form only = simple_form(e);
            if (steering_->integer) {
                only.ranged = true;
                only.low = only.high = *steering_->integer;
                only.sign = only.sign || *steering_->integer < 0;
            }
            if (steering_->length) only.min = only.max = *steering_->length;
            values_.least(only, in_combination);
            return;
        }
        const value_form f = simple_form(e);
        const std::uint64_t least = least_bytes(f, in_combination);
        const std::uint64_t most = std::max(most_bytes(f), least);
        if (least_only_ || !take(most - least)) {
            values_.least(f, in_combination);
            return;
        }
        const std::uint64_t before = out_.size();
        values_.write(f, in_combination);
        const std::uint64_t used = out_.size() - before;
        if (used <= most) {
            spare_ += most - used;
        } else {
            spare_ -= std::min(spare_, used - most);
        }
    }

    // How often a member of a structure stands, as the seed chooses.
    std::uint64_t count_of(const element& m, bool shortest, std::int32_t place = -1) {
        if (place >= 0) return steered_count(m, place);
        const occurrences o = occurrences_of(m);
        if (o.never()) return 0;
        if (o.optional() && (shortest || !sizes_.value(m, false).finite() || random_.chance(35))) {
            return 0;
        }
        return repeat_count(o, shortest);
    }

    std::uint64_t repeat_count(const occurrences& o, bool shortest) {
        const std::uint64_t low = std::max<std::uint64_t>(o.min, 1);
        if (shortest) return low;
        const std::uint64_t high = o.unbounded ? low + 2 : std::min<std::uint64_t>(o.max, low + 2);
        return low + random_.below(std::max(high, low) - low + 1);
    }

    // The occurrences of member `m` of the structure of `f` once the budget
    // has had its say: the seed's count when what it adds to the shortest
    // message fits, else one occurrence of an optional member, else the
    // least count.
    std::uint64_t fitted(const frame& f, const element& m, std::uint64_t count) {
        const std::uint64_t low = least_count(f.body->kind, m, false);
        if (count == low) return count;
        const auto line = [&](std::uint64_t c) {
            return member_part(f.body->kind, m, c, sizes_.value(m, c > 1));
        };
        const std::uint64_t base = low == 0 ? 0 : line(low).at_least(f.depth);
        const auto added = [&](std::uint64_t c) {
            std::uint64_t bytes = line(c).at_most(f.depth);
            if (low == 0) {
                // A line of its own; the first line also brings the closing
                // brace's.
                bytes = add(bytes, line_bytes(f.depth));
                if (!f.root && !f.wrote_any) bytes = add(bytes, line_bytes(f.depth - 1));
            }
            return less(bytes, base);
        };
        if (take(added(count))) return count;
        if (low == 0 && count > 1 && take(added(1))) return 1;
        return low;
    }

    // The alternative a union takes, or null for an extension parameter.
    // Among the occurrences of a list, an alternative that repeats is
    // taken only when every alternative does: its own list would run on
    // into the outer one.
    const element* alternative(const element& u, bool shortest, bool in_list, std::int32_t steer) {
        if (steer >= 0) {
            for (const element* m = u.children(); m != nullptr; m = m->next()) {
                if (path_place(steer, *m) >= 0) return m;
            }
        }
        const element* least = sizes_.choice(u, in_list);
        if (shortest) return least;
        std::vector<const element*> usable;
        std::vector<const element*> single;
        for (const element* m = u.children(); m != nullptr; m = m->next()) {
            const occurrences o = occurrences_of(*m);
            if (o.never() || !sizes_.value(*m, false).finite() ||
                (!tagged_in(u, *m) && m->kind == ET_NULL)) {
                continue;
            }
            usable.push_back(m);
            if (!o.repeats()) single.push_back(m);
        }
        if (usable.empty()) return least;
        const std::vector<const element*>& from = in_list && !single.empty() ? single : usable;
        return from[random_.below(from.size())];
    }

    // The union's alternative and count once the budget has had its say:
    // the seed's when what they add to the union's shortest value fits, else
    // the seed's alternative at its least count, else the shortest value.
    void fit_alternative(const element& u, std::uint32_t depth, bool in_list, const element*& a,
                         std::uint64_t& count) {
        const element* least = sizes_.choice(u, in_list);
        if (a == nullptr) return;  // only ever the shortest value
        const std::uint64_t low = least_count(ET_UNION, *a, in_list);
        if (a == least && count == low) return;
        const std::uint64_t base = sizes_.value(u, in_list).at_least(depth);
        const auto added = [&](std::uint64_t c) {
            return less(member_part(ET_UNION, *a, c, sizes_.value(*a, c > 1)).at_most(depth), base);
        };
        if (take(added(count))) return;
        if (count != low && take(added(low))) {
            count = low;
            return;
        }
        a = least;
        count = a == nullptr ? 0 : least_count(ET_UNION, *a, in_list);
    }

    // Writes one value of `m`. A structure or union value opens a frame and
    // returns true; its text ends when the frame is closed. `unions`: the
    // union values `m` stands in directly.
    // `from`: the places of the steering's path its members may take;
    // `steered`: `m` is the last member of the path.
    bool open_value(const element& m, std::uint32_t depth, bool shortest, bool in_list = false,
                    bool root = false, std::uint32_t unions = 0, std::int32_t from = -1,
                    bool steered = false) {
        if (!has_body_kind(m)) {
            value(m, false, steered);
            return false;
        }
        if (m.children() == nullptr) {
            if (m.kind == ET_STRUCT && extension_in(m, from)) {
                put("{ ");
                put(steering_->extension);
                put(" }");
            } else if (m.kind == ET_STRUCT) {
                put("{}");
            }
            if (m.kind == ET_UNION) put("''");
            return false;
        }
        if (m.kind == ET_COMBINED) {
            combination(m, shortest, from);
            return false;
        }
        if (m.kind == ET_STRUCT) {
            put("{");
            stack_.push_back(
                {&m, m.children(), 0, depth + 1, false, shortest || depth + 1 >= free_depth});
            stack_.back().steer = from;
            return true;
        }
        // A union standing in as many unions as structures may nest freely
        // takes its shortest value: recursion through unions ends too.
        if (extension_in(m, from)) {
            put(steering_->extension);
            return false;
        }
        const bool least = shortest || unions >= free_depth;
        const element* a = alternative(m, least || written_ >= free_members, in_list, from);
        const std::int32_t place = a != nullptr ? path_place(from, *a) : -1;
        std::uint64_t count = 0;
        if (a != nullptr) {
            const occurrences o = occurrences_of(*a);
            // A list of the alternative's own inside a list takes all it
            // can, so that no reader takes the next occurrence for one of
            // its own.
            count = in_list && o.repeats() && !o.unbounded ? o.max : repeat_count(o, least);
        }
        if (place >= 0) {
            count = steered_count(*a, place);
        } else {
            fit_alternative(m, depth, in_list, a, count);
        }
        if (a == nullptr) {
            // An extension parameter; in a list, where its own list of
            // values would run on into the outer one, the empty value when
            // an alternative that may stand no time allows it.
            if (extension_bytes(m.children(), in_list) > 0) put("''");
            return false;
        }
        frame f{&m, a, count, depth, root, least};
        f.member_steer = place;
        f.unions = unions + 1;
        f.in_list = count > 1;
        f.braced = braced_in(m, *a);
        if (tagged_in(m, *a)) {
            put(a->tag().view());
            if (a->kind == ET_NULL) {
                out_.put(',', f.left - 1);
                return false;
            }
            put(" = ");
        }
        if (f.braced) put("{ ");
        f.started = true;
        stack_.push_back(f);
        return true;
    }

    // A combination's values one after the other, with nothing between.
    void combination(const element& c, bool shortest, std::int32_t from) {
        for (const element* m = c.children(); m != nullptr; m = m->next()) {
            if (has_body_kind(*m)) continue;  // no form: the strict checks report it
            const std::int32_t place = path_place(from, *m);
            std::uint64_t count = count_of(*m, shortest, place);
            const std::uint64_t low = least_count(ET_COMBINED, *m, false);
            if (count > low && place < 0) {
                const std::uint64_t each = add(least_bytes(simple_form(*m), true), 1);
                if (!take(mul(count - low, each))) count = low;
            }
            for (std::uint64_t k = 0; k < count; ++k) {
                if (k > 0) put(",");
                value(*m, true, last_place(place));
            }
        }
    }

    // The occurrences of the member at hand; true when a value opened a
    // frame above (the frame at `at` is then not to be used).
    bool occurrences_of_member(std::size_t at) {
        while (stack_[at].left > 0 && !out_.failed()) {
            frame& f = stack_[at];
            --f.left;
            if (!f.first) put(", ");
            f.first = false;
            const std::uint32_t unions = f.body->kind == ET_UNION ? f.unions : 0;
            if (open_value(*f.member, f.depth, minimal(f), f.in_list, false, unions,
                           below(f.member_steer), last_place(f.member_steer))) {
                return true;
            }
        }
        return false;
    }

    void close(const frame& f) {
        if (f.body->kind == ET_STRUCT && extension_in(*f.body, f.steer)) {
            // The extension parameter after the members.
            if (f.root) {
                if (f.wrote_any) put("\n");
                put(steering_->extension);
                put("\n");
                return;
            }
            new_line(f.depth);
            put(steering_->extension);
            new_line(f.depth - 1);
            put("}");
            return;
        }
        if (f.body->kind == ET_UNION) {
            if (f.braced) put(" }");
            if (f.root) put("\n");
        } else if (f.root) {
            if (f.wrote_any) put("\n");
        } else if (f.wrote_any) {
            new_line(f.depth - 1);
            put("}");
        } else {
            put("}");
        }
    }

    void run() {
        while (!stack_.empty() && !out_.failed()) {
            const std::size_t at = stack_.size() - 1;
            if (stack_[at].started) {
                if (occurrences_of_member(at)) continue;
                frame& f = stack_[at];
                f.started = false;
                if (f.body->kind == ET_UNION) {
                    close(f);
                    stack_.pop_back();
                    continue;
                }
                f.member = f.member->next();
            }
            frame& f = stack_[at];
            std::uint64_t count = 0;
            while (f.member != nullptr) {
                const bool usable = f.member->kind != ET_NULL || tagged_in(*f.body, *f.member);
                f.member_steer = path_place(f.steer, *f.member);
                count = usable ? count_of(*f.member, minimal(f), f.member_steer) : 0;
                if (count > 0 && f.member_steer < 0) count = fitted(f, *f.member, count);
                if (count > 0) break;
                f.member = f.member->next();
            }
            if (f.member == nullptr) {
                close(f);
                stack_.pop_back();
                continue;
            }
            if (f.root && !f.wrote_any) {
                // The message's first line starts at the first column.
            } else if (f.root) {
                put("\n");
            } else {
                new_line(f.depth);
            }
            f.wrote_any = true;
            ++written_;
            const element& m = *f.member;
            if (tagged_in(*f.body, m)) {
                put(m.tag().view());
                if (m.kind == ET_NULL) {
                    out_.put(',', count - 1);
                    f.member = m.next();
                    continue;
                }
                put(" = ");
            }
            f.left = count;
            f.in_list = count > 1;
            f.first = true;
            f.started = true;
        }
    }

    const element& definition_;
    const example_maker::sizes& sizes_;
    splitmix64 random_;
    text_out& out_;
    value_writer values_;
    std::vector<frame> stack_;
    std::uint64_t written_ = 0;  // member lines written
    std::uint64_t spare_;        // bytes the choices may still add to the shortest message
    bool least_only_;
    const example_steering* steering_;  // or null
};

}  // namespace

example_maker::example_maker(const element& definition)
    : definition_(definition), sizes_(std::make_shared<const sizes>(definition)) {
    judge();
}

std::shared_ptr<const example_maker::sizes> example_maker::sizes_of(
    const std::vector<const element*>& definitions) {
    return std::make_shared<const sizes>(definitions);
}

example_maker::example_maker(const element& definition, std::shared_ptr<const sizes> shared)
    : definition_(definition), sizes_(std::move(shared)) {
    judge();
}

void example_maker::judge() {
    const element& definition = definition_;
    if (!sizes_->has_finite_message(definition)) {
        status_ = example_status::no_finite_message;
        shortest_size_ = none;
        return;
    }
    shortest_size_ = sizes_->message_size(definition);
    if (shortest_size_ > example_size_limit) status_ = example_status::too_large;
}

example_maker::~example_maker() = default;

example_status example_maker::write(std::uint64_t seed, std::FILE* out, std::uint64_t extra) const {
    if (status_ != example_status::ready) return status_;
    text_out text(out);
    message_writer(definition_, *sizes_, seed, extra, text).write();
    if (!text.flush() || std::fflush(out) != 0 || std::ferror(out) != 0) {
        return example_status::write_failed;
    }
    return example_status::ready;
}

example_status example_maker::write(std::uint64_t seed, std::string& out,
                                    std::uint64_t extra) const {
    if (status_ != example_status::ready) return status_;
    text_out text(out);
    message_writer(definition_, *sizes_, seed, extra, text).write();
    return example_status::ready;
}

example_status example_maker::write(std::uint64_t seed, std::string& out,
                                    const example_steering& steering, std::uint64_t extra) const {
    if (status_ != example_status::ready) return status_;
    text_out text(out);
    message_writer(definition_, *sizes_, seed, extra, text, &steering).write();
    return example_status::ready;
}

bool write_example(const element& definition, std::uint64_t seed, std::string& out) {
    const example_maker maker(definition);
    return maker.write(seed, out) == example_status::ready;
}

}  // namespace qrv
