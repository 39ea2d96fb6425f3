// The structure of a message: structures, unions, combinations and
// repetitions, read from an explicit stack of frames (one per body being
// read), so nesting costs heap, not stack. Simple values and extension
// parameters are read by the scanner.
#include "check/check.h"

#include <vector>

#include "abnf/encoding.h"
#include "abnf/strict.h"
#include "check/scan.h"

namespace qrv {

namespace {

enum class step : std::uint8_t { open, slot, after_value, extensions, done };

// One body being read.
struct frame {
    const element* owner = nullptr;      // the structure or union; null for the message itself
    const element* next = nullptr;       // a structure's next member to look for
    const element* current = nullptr;    // the member whose values are being read
    std::uint64_t count = 0;             // the values of `current` read so far
    const element* unmatched = nullptr;  // the members passed over for extension parameters
    step at = step::open;
    bool root = false;      // the message's own structure: no braces
    bool braced = false;    // the values of `current` stand in braces
    bool extended = false;  // an extension parameter was read
};

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
    message_reader(const element& type, std::string_view bytes) : s_(bytes), type_(type) {}

    std::optional<check_error> read() {
        frame top;
        top.at = step::open;
        stack_.push_back(top);
        while (!stack_.empty() && !s_.failure) {
            frame& f = stack_.back();
            if (f.owner == nullptr) {
                message_step(f);
            } else if (f.owner->kind == ET_UNION) {
                union_step(f);
            } else {
                struct_step(f);
            }
        }
        if (!s_.failure) return std::nullopt;
        return error_of(*s_.failure);
    }

private:
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
            if (e.kind == ET_UNION && e.children() == nullptr) {
                // A union without alternatives holds one extension parameter.
                if (!s_.can_begin_extension()) {
                    s_.fail_expected(s_.pos, {"an extension parameter"});
                } else {
                    s_.read_extension_param();
                }
                return;
            }
            frame body;
            body.owner = &e;
            body.next = e.kind == ET_STRUCT ? e.children() : nullptr;
            body.root = root;
            body.at = step::open;
            stack_.push_back(body);  // invalidates references into the stack
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

    // In a union value, a comma goes on with the alternative's own values
    // when it may take another and the bytes after the comma begin one,
    // unless the list around the union value may take another value and a
    // tagged alternative of the union fits there: as in a structure, a
    // matching tag decides. (A void alternative's values are empty, so
    // every comma could be one of its own.)
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
    // the end of the member.
    bool after_value(frame& f) {
        const element& m = *f.current;
        const occurrences occ = occurrences_of(m);
        s_.skip_ows();
        if (s_.peek() == ',' && f.owner->kind == ET_UNION && !f.braced && !f.root &&
            !continues_alternative(*f.owner, m, occ, f.count)) {
            // The comma separates values of a list of union values around
            // this one: the alternative ends here.
        } else if (s_.peek() == ',') {
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
            case step::done: return;
        }
    }

    // Looks for the next member: the first of the members still to come
    // that fits, passing over optional ones; a required member that does
    // not fit is an error; when none fits, extension parameters follow.
    void slot(frame& f) {
        s_.skip_ows();
        const element* blocked = nullptr;
        for (const element* m = f.next; m != nullptr; m = m->next()) {
            const occurrences occ = occurrences_of(*m);
            if (occ.never()) continue;
            if (fits(*f.owner, *m)) {
                f.next = m->next();
                if (enter_member(f, *m)) begin_value(*m, false);
                return;
            }
            if (!occ.optional()) {
                blocked = m;
                break;
            }
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

    void union_step(frame& f) {
        if (f.at == step::after_value) {
            if (after_value(f)) stack_.pop_back();
            return;
        }
        const element& u = *f.owner;
        s_.skip_ows();
        bool may_be_empty = false;
        for (const element* m = u.children(); m != nullptr; m = m->next()) {
            // An optional alternative, or one that never stands, may be
            // the empty value of the union.
            const occurrences occ = occurrences_of(*m);
            if (occ.optional() || occ.never()) may_be_empty = true;
            if (occ.never()) continue;
            if (fits(u, *m)) {
                if (enter_member(f, *m)) begin_value(*m, false);
                return;
            }
        }
        if (s_.can_begin_extension()) {
            stack_.pop_back();
            s_.read_extension_param();
            return;
        }
        if (may_be_empty) {
            stack_.pop_back();
            return;
        }
        std::vector<std::string> expected;
        for (const element* m = u.children(); m != nullptr; m = m->next()) {
            if (!occurrences_of(*m).never()) expected.push_back(describe_member(u, *m));
        }
        expected.push_back("an extension parameter");
        s_.fail_expected(s_.pos, expected);
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
