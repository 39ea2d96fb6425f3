// The structure of a message: structures, unions, combinations and
// repetitions, read from an explicit stack of frames (one per body being
// read), so nesting costs heap, not stack. Simple values and extension
// parameters are read by the scanner; the values of members, combinations
// and the error reported are read in messages/checker_values.cpp.
#include "messages/checker.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "abnf/strict_grammar.h"
#include "encoding/encoding.h"
#include "encoding/value_reader.h"
#include "messages/message_reader.h"
#include "messages/search.h"
#include "support/source_positions.h"

namespace qrv {

namespace checking {

namespace {

std::uint64_t address(const element* e) {
    return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(e));
}

// What decides how the reading goes on from a frame (the frames below
// aside). Counts past the least a list needs (in an unbounded list) make no
// difference.
}  // namespace

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

// The first member from `m` on that may stand at all.
const element* standing_from(const element* m) {
    while (m != nullptr && occurrences_of(*m).never()) m = m->next();
    return m;
}

check_result message_reader::read() {
    frame top;
    top.at = step::open;
    search_.push(top);
    check_result result;
    for (;;) {
        if (search_.stack.empty()) break;  // a reading took the whole message
        if (!search_.begin_step(log_ != nullptr ? log_->size() : 0) || (step(), s_.failure)) {
            // The first error is the one reported: that of the
            // preferred reading, which reads as far as any before it
            // turns off.
            if (s_.failure && !first_error_) {
                first_error_ = error_of(*s_.failure);
                s_.remember_extension_params();
            }
            s_.failure.reset();
            const bool back = search_.go_back();
            if (back && log_ != nullptr) log_->resize(search_.log_mark());
            if (!back) {
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

void message_reader::step() {
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

void message_reader::push_frame(frame f) {
    if (f.owner != nullptr) record(reading_event::kind::open, f.owner, s_.pos, 0);
    f.landing = landing_of();
    f.comma_landing = comma_landing_of();
    search_.push(f);  // invalidates references into the stack
}

void message_reader::end_frame() {
    if (stack().back().owner != nullptr) record(reading_event::kind::close, nullptr, s_.pos, 0);
    stack().pop_back();
}

std::size_t message_reader::landing_of() const {
    if (stack().empty()) return 0;
    const frame& p = stack().back();
    return passes_bytes_on(p) ? p.landing : stack().size() - 1;
}

std::size_t message_reader::comma_landing_of() const {
    if (stack().empty()) return 0;
    const frame& p = stack().back();
    const bool passes = passes_bytes_on(p) && !occurrences_of(*p.current).allows(p.count);
    return passes ? p.comma_landing : stack().size() - 1;
}

bool message_reader::passes_bytes_on(const frame& p) {
    return p.owner != nullptr && p.owner->kind == ET_UNION && !p.root && !p.braced &&
           p.at == step::after_value && p.current != nullptr &&
           p.count >= occurrences_of(*p.current).min;
}

bool message_reader::comma_taken_below() const {
    if (stack().size() < 2) return false;
    const frame& f = stack()[stack().back().comma_landing];
    return f.current != nullptr && occurrences_of(*f.current).allows(f.count);
}

bool message_reader::comma_left_to_nobody() {
    if (!first_error_ || s_.peek() != ',' || comma_taken_below()) return false;
    return s_.fail(s_.pos, "a comma no list takes");
}

void message_reader::message_step(frame& f) {
    if (f.at == step::open) {
        f.at = step::done;
        if (body_only_) {
            s_.pos = body_start_;
            begin_value(type_, false, false);
            return;
        }
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

bool message_reader::fits(const element& owner, const element& m) {
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

bool message_reader::begins(const element& m) {
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

bool message_reader::enter_member(frame& f, const element& m) {
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

void message_reader::member_value(frame& f) {
    const element& m = *f.current;
    f.at = step::after_value;
    bool split = false;
    if (f.owner->kind == ET_STRUCT && !tagged_in(*f.owner, m)) {
        const element* after = standing_from(m.next());
        split = after != nullptr && !tagged_in(*f.owner, *after);
    }
    begin_value(m, false, split);  // may push: `f` is not used after this
}

bool message_reader::continues_alternative(const element& u, const element& m,
                                           const occurrences& occ, std::uint64_t count) {
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

bool message_reader::outer_list_goes_on() const {
    if (stack().size() < 2) return false;
    const frame& outer = stack()[stack().size() - 2];
    return outer.current != nullptr && occurrences_of(*outer.current).allows(outer.count);
}

bool message_reader::after_value(frame& f) {
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
                                   std::string(m.name().view()) + " (" + std::to_string(occ.min) +
                                   " at least), found " + s_.found_at(s_.pos));
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

void message_reader::note_value_end(const frame& f, std::size_t end) {
    if (search_.searching() || end >= s_.size()) return;
    const char c = s_.bytes()[end];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ',' || c == '}') return;
    last_end_ = end;
    last_member_ = f.current;
    last_count_ = f.count;
    last_depth_ = static_cast<std::size_t>(&f - stack().data());
}

void message_reader::struct_step(frame& f) {
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

void message_reader::slot(frame& f) {
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
        s_.fail(s_.pos, "expected the next member after the digits, found " + s_.found_at(s_.pos));
        return;
    }
    f.unmatched = f.next;
    f.next = nullptr;
    f.at = step::extensions;
}

void message_reader::extensions(frame& f) {
    const bool spaced = s_.skip_ows();
    if (at_close(f)) {
        if (!f.root) {
            ++s_.pos;
            search_.end_body(s_.pos);
        }
        end_frame();
        return;
    }
    std::vector<std::string> expected;
    if (!f.extended) {
        for (const element* m = f.unmatched; m != nullptr; m = m->next()) {
            if (!occurrences_of(*m).never()) expected.push_back(describe_member(*f.owner, *m));
        }
    }
    if (closed_ && s_.can_begin_extension()) {
        fail_unknown_member(*f.owner, f.owner->children());
        return;
    }
    if (s_.can_begin_extension() && (spaced || !f.extended)) {
        f.extended = true;
        const std::size_t begin = s_.pos;
        if (s_.read_extension_param())
            record(reading_event::kind::extension, nullptr, begin, s_.pos - begin);
        return;
    }
    expected.push_back(f.extended ? "white space" : "an extension parameter");
    expected.push_back(close_text(f));
    s_.fail_expected(s_.pos, expected);
}

void message_reader::fail_unknown_member(const element& owner, const element* candidates) {
    std::size_t length = 0;
    for (int c = s_.peek();
         length < max_extension_tag && c >= 0 && is_safe_char(static_cast<unsigned char>(c));
         c = s_.peek(++length)) {
    }
    const std::string_view word = s_.bytes().substr(s_.pos, length);
    std::vector<std::string_view> tags;
    for (const element* m = candidates; m != nullptr; m = m->next()) {
        if (!occurrences_of(*m).never() && m->has_tag()) tags.push_back(m->tag().view());
    }
    const char* what = owner.kind == ET_UNION ? "alternative" : "member";
    if (length == 0 || !is_first_tag_char(static_cast<unsigned char>(word[0]))) {
        s_.fail(s_.pos, std::string(owner.kind == ET_UNION ? "expected an alternative of "
                                                           : "expected a member of ") +
                            std::string(owner.name().view()) + ", found " + s_.found_at(s_.pos));
        return;
    }
    std::string message = std::string("unknown ") + what + " \"" + std::string(word) + "\" in " +
                          std::string(owner.name().view());
    const std::vector<std::string> close = close_names(word, tags, 2);
    for (std::size_t i = 0; i < close.size(); ++i) {
        message += i == 0 ? "; did you mean \"" : "\" or \"";
        message += close[i];
    }
    if (!close.empty()) message += "\"?";
    s_.fail(s_.pos, message);
}

void message_reader::union_step(frame& f) {
    switch (f.at) {
        case step::value: member_value(f); return;
        case step::after_value:
            if (after_value(f)) end_frame();
            return;
        case step::ext_value: {
            const std::size_t begin = s_.pos;
            if (s_.read_extension_group()) {
                record(reading_event::kind::extension_value, nullptr, begin, s_.pos - begin);
                f.at = step::ext_after;
            }
            return;
        }
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
    if (extension && closed_ && !may_be_empty) {
        fail_unknown_member(u, u.children());
        return;
    }
    const bool empty = may_be_empty && (fitting == 0 || member_fits_below(f));
    const std::uint32_t options = fitting + (extension && !closed_ ? 1 : 0) + (empty ? 1 : 0);
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
    if (extension && !closed_ && k == fitting) {
        f.at = step::ext_value;
        return;
    }
    if (comma_left_to_nobody()) return;
    end_frame();
}

bool message_reader::member_fits_below(const frame& u) {
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

void message_reader::extension_after_value() {
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
    end_frame();
}

}  // namespace checking

check_result check_message(const element& type, std::string_view message,
                           const check_limits& limits, bool closed) {
    checking::message_reader reader(type, message, limits, closed);
    return reader.read();
}

check_result read_message(const element& type, std::string_view message,
                          std::vector<reading_event>& reading, const check_limits& limits,
                          bool closed) {
    using kind = reading_event::kind;
    reading.clear();
    if (message.size() > max_reported_message) {
        check_result result;
        result.verdict = check_verdict::undecided;
        result.error.message = "the message is too long to report its reading";
        return result;
    }
    checking::message_reader reader(type, message, limits, closed);
    reader.record_into(&reading);
    check_result result = reader.read();
    if (!result.valid()) {
        reading.clear();
        return result;
    }
    // A structure the search went straight past (its readings were settled
    // in another context) is read again on its own, from its brace to
    // where it ended, and its reading takes the place of the note, notes
    // of its own read in turn.
    bool settled = false;
    for (const reading_event& ev : reading) settled = settled || ev.what() == kind::settled;
    if (!settled) return result;
    std::vector<reading_event> whole;
    whole.reserve(reading.size());
    std::vector<std::pair<std::vector<reading_event>, std::size_t>> work;
    work.emplace_back(std::move(reading), 0);
    while (!work.empty()) {
        if (work.back().second == work.back().first.size()) {
            work.pop_back();
            continue;
        }
        const reading_event ev = work.back().first[work.back().second++];
        if (ev.what() != kind::settled) {
            whole.push_back(ev);
            continue;
        }
        std::vector<reading_event> inner;
        checking::message_reader again(*ev.e(), message.substr(0, ev.end()), limits, closed);
        again.record_into(&inner);
        again.read_body_at(ev.begin);
        if (!again.read().valid()) {
            // Cannot be: the body was read from there to there before.
            result.verdict = check_verdict::undecided;
            reading.clear();
            return result;
        }
        work.emplace_back(std::move(inner), 0);
    }
    reading = std::move(whole);
    return result;
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
