// The values of a message's members and combinations, and the error a
// failed reading reports (the reader of messages/message_reader.h).
#include <algorithm>
#include <cstdint>
#include <string>

#include "encoding/encoding.h"
#include "encoding/value_reader.h"
#include "messages/message_reader.h"

namespace qrv::checking {

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

void message_reader::begin_value(const element& e, bool root, bool split) {
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
    const std::size_t begin = s_.pos;
    if (form.kind == value_kind::integer) {
        read_integer(form, false, split);
    } else {
        s_.read_value(form, false);
    }
    // Cut back with the reading if it failed.
    record(reading_event::kind::value, &e, begin, s_.pos - begin);
}

void message_reader::begin_structure(const element& e, bool root) {
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
                record(reading_event::kind::settled, &e, brace, ends->front() - brace);
                s_.pos = ends->front();
                return;
            }
        }
    }
    ++s_.pos;
    push_frame(body);
    if (key != nullptr) search_.watch_body(key, brace);
}

void message_reader::read_integer(const value_form& form, bool in_combination, bool split) {
    const std::size_t run = s_.integer_digits();
    const std::size_t width = form.digits == 0 ? run : std::min<std::size_t>(run, form.digits);
    if (!split || width <= 1) {
        s_.read_value(form, in_combination);
        return;
    }
    // Options: the longest form (all the digits, or the width in a
    // combination), then each shorter count down to one digit.
    const bool all_first = !in_combination && run > width;
    const std::uint32_t options = static_cast<std::uint32_t>(width - 1 + (all_first ? 1 : 0) + 1);
    const std::uint32_t k = choose(options);
    if (k == 0) {
        s_.read_value(form, in_combination);
        return;
    }
    const std::size_t take = width - (k - (all_first ? 1 : 0));
    if (s_.read_integer_digits(form, take)) stack().back().glued = true;
}

void message_reader::combination_step(frame& f) {
    switch (f.at) {
        case step::slot: combination_slot(f); return;
        case step::value: {
            const element& m = *f.current;
            f.at = step::after_value;
            ++f.count;
            const value_form form = simple_form(m);
            f.glued = false;
            const std::size_t begin = s_.pos;
            if (form.kind == value_kind::integer) {
                read_integer(form, true, standing_from(m.next()) != nullptr);
            } else {
                s_.read_value(form, true);
            }
            record(reading_event::kind::value, &m, begin, s_.pos - begin);
            return;
        }
        case step::after_value: combination_after_value(f); return;
        default: return;
    }
}

void message_reader::combination_slot(frame& f) {
    const element* m = standing_from(f.next);
    if (m == nullptr) {
        if (f.glued) {
            s_.fail(s_.pos, "digits left over after " + std::string(f.owner->name().view()));
            return;
        }
        end_frame();
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

void message_reader::combination_after_value(frame& f) {
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

void message_reader::add_to_path(std::string& out, const element& m, std::uint64_t count) {
    if (!out.empty()) out += '.';
    out += m.name().view();
    if (!occurrences_of(m).repeats()) return;
    out += '[';
    out += std::to_string(count == 0 ? 0 : count - 1);
    out += ']';
}

std::string message_reader::path(std::size_t depth) const {
    std::string out;
    for (std::size_t i = 0; i < depth && i < stack().size(); ++i) {
        const frame& f = stack()[i];
        if (f.current != nullptr) add_to_path(out, *f.current, f.count);
    }
    return out;
}

check_error message_reader::error_of(const scan_failure& failure) const {
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

}  // namespace qrv::checking
