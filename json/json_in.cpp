// JSON to a message: the JSON read whole (json/json_text.h), then written
// member by member in the definition's order, in the layout of the example
// writer: one member a line, nested structures indented four spaces a
// level, the values of a list after ", ". Each simple value is read by the
// checker's reader of its form as it is written; the whole message is
// checked before it is handed out.
#include <algorithm>
#include <cstdio>
#include <unordered_map>

#include "encoding/encoding.h"
#include "encoding/value_reader.h"
#include "json/json_bridge.h"
#include "json/json_text.h"
#include "json/json_values.h"
#include "messages/example_sizes.h"

namespace qrv {

namespace {

using json::document;
using json::node;
using json::node_type;

// Where JSON does not fit: thrown to the top, which reports it.
struct misfit {
    std::size_t offset;
    std::string message;
};

// The values a member is given: its array's elements, or the one value.
struct value_list {
    const node* single = nullptr;
    std::uint32_t first = 0;  // of the array
    std::size_t count = 0;
};

class message_builder {
public:
    // With a `sink`, the text goes on to it now and then, and at the end.
    message_builder(const document& d, bool closed, std::string& out, std::FILE* sink)
        : d_(d), closed_(closed), out_(out), sink_(sink) {}

    // Hands the text to the sink; false once a write failed.
    bool flush() { return json::hand_on(out_, sink_, failed_); }

    void message(const element& type) {
        const node& root = d_.root();
        if (type.kind == ET_STRUCT) {
            structure(type, root, 0, true);
            return;
        }
        value(type, root, 0, false);
        out_ += '\n';
    }

    // The member path of the value being written: items[2].qty.
    std::string path() const {
        std::string out;
        for (const step& s : path_) {
            if (!out.empty()) out += '.';
            out += s.member->name().view();
            if (occurrences_of(*s.member).repeats()) {
                out += '[';
                out += std::to_string(s.index);
                out += ']';
            }
        }
        return out;
    }

private:
    struct step {
        const element* member;
        std::size_t index;
    };

    [[noreturn]] void fail(const node& n, std::string message) const {
        throw misfit{n.offset, std::move(message)};
    }

    void new_line(std::uint32_t depth) {
        out_ += '\n';
        out_.append(4 * std::min(depth, examples::max_indent), ' ');
    }

    std::string_view key_of(const node& k) {
        if (!k.escaped()) return d_.raw(k);
        keys_.push_back(d_.string_of(k));
        return keys_.back();
    }

    const std::vector<const element*>& members(const element& owner) {
        auto [at, added] = members_.try_emplace(&owner);
        if (added) {
            for (const element* m = owner.children(); m != nullptr; m = m->next()) {
                at->second.push_back(m);
            }
        }
        return at->second;
    }

    // The members of object `n` by the members of `owner`: the value given
    // for each (null for none) into `given`, and the extension parameters.
    void members_of(const element& owner, const node& n, std::vector<const node*>& given,
                    const node*& extensions) {
        if (n.type() != node_type::object) {
            fail(n, std::string("expected an object (") + keyword_of(owner.kind) + " " +
                        std::string(owner.name().view()) + ")");
        }
        const std::vector<const element*>& all = members(owner);
        given.assign(all.size(), nullptr);
        extensions = nullptr;
        std::size_t next = 0;  // keys mostly come in the members' order
        for (std::uint32_t k = n.first; k != 0; k = d_.at(d_.at(k).next).next) {
            const node& key = d_.at(k);
            const node& v = d_.at(key.next);
            const std::string_view name = key_of(key);
            if (name == extensions_key && owner.kind != ET_COMBINED) {
                if (extensions != nullptr) fail(key, "the key \"@extensions\" stands twice");
                extensions = &v;
                continue;
            }
            std::size_t i = next < all.size() && all[next]->name() == name ? next : 0;
            while (i < all.size() && all[i]->name() != name) ++i;
            if (i == all.size()) {
                std::string quoted;
                json::append_string(quoted, name);
                fail(key, std::string("unknown ") +
                              (owner.kind == ET_UNION ? "alternative " : "member ") + quoted +
                              " in " + std::string(owner.name().view()));
            }
            if (given[i] != nullptr) {
                fail(key, "the member \"" + std::string(name) + "\" stands twice");
            }
            given[i] = &v;
            next = i + 1;
        }
        keys_.clear();
    }

    // A buffer of `given` for each level of nesting.
    std::vector<const node*>& given_at(std::size_t level) {
        while (given_.size() <= level) given_.emplace_back();
        return given_[level];
    }

    value_list values_of(const element& m, const node& v) {
        const occurrences occ = occurrences_of(m);
        if (occ.never()) fail(v, "the member " + std::string(m.name().view()) + " never stands");
        value_list values;
        if (!occ.repeats()) {
            values.single = &v;
            values.count = 1;
            return values;
        }
        if (v.type() != node_type::array) {
            fail(v, "expected an array (the values of " + std::string(m.name().view()) + ")");
        }
        values.first = v.first;
        values.count = v.count();
        if (values.count < occ.min || (!occ.unbounded && values.count > occ.max)) {
            std::string counted = std::to_string(occ.min);
            if (occ.unbounded) {
                counted = "at least " + counted;
            } else if (occ.max != occ.min) {
                counted += " to " + std::to_string(occ.max);
            }
            fail(v, "expected " + counted + " values of " + std::string(m.name().view()) +
                        ", found " + std::to_string(values.count));
        }
        return values;
    }

    // Calls `f(value, k)` for each value, with the path at the value.
    template <class F>
    void each_value(const element& m, const value_list& values, F f) {
        path_.push_back({&m, 0});
        if (values.single != nullptr) {
            f(*values.single, std::size_t{0});
        } else {
            std::size_t k = 0;
            for (std::uint32_t i = values.first; i != 0; i = d_.at(i).next, ++k) {
                path_.back().index = k;
                f(d_.at(i), k);
            }
        }
        path_.pop_back();
    }

    void extension_texts(const node& v, std::vector<std::string>& texts) {
        if (closed_) fail(v, "no extension parameters with --closed");
        if (v.type() != node_type::array) fail(v, "expected an array of extension parameters");
        for (std::uint32_t i = v.first; i != 0; i = d_.at(i).next) {
            const node& t = d_.at(i);
            if (t.type() != node_type::string) fail(t, "expected an extension parameter's text");
            texts.push_back(d_.string_of(t));
        }
    }

    // `depth`: the indentation of the member lines (0 for the message's).
    void structure(const element& s, const node& n, std::uint32_t depth, bool root) {
        std::vector<const node*>& given = given_at(level_);
        const node* extensions = nullptr;
        members_of(s, n, given, extensions);
        ++level_;
        if (!root) out_ += '{';
        bool wrote = false;
        const auto line = [&] {
            if (sink_ != nullptr && out_.size() >= (std::size_t{1} << 20)) flush();
            if (root && !wrote) {
                // The message's first line starts at the first column.
            } else if (root) {
                out_ += '\n';
            } else {
                new_line(depth);
            }
            wrote = true;
        };
        std::size_t i = 0;
        for (const element* m = s.children(); m != nullptr; m = m->next(), ++i) {
            const node* v = given_[level_ - 1][i];
            if (v == nullptr) {
                if (occurrences_of(*m).min > 0 && !(m->kind == ET_NULL && !tagged_in(s, *m))) {
                    fail(n, "the member " + std::string(m->name().view()) + " is missing");
                }
                continue;
            }
            const value_list values = values_of(*m, *v);
            if (values.count == 0) continue;
            const bool tagged = tagged_in(s, *m);
            if (m->kind == ET_NULL && !tagged) {
                // An untagged void member stands without a byte; a list of
                // them is its commas.
                check_void(*m, values);
                if (values.count > 1) {
                    line();
                    out_.append(values.count - 1, ',');
                }
                continue;
            }
            line();
            member_values(s, *m, values, depth, tagged);
        }
        if (extensions != nullptr) {
            std::vector<std::string> texts;
            extension_texts(*extensions, texts);
            for (const std::string& t : texts) {
                line();
                out_ += t;
            }
        }
        if (root) {
            if (wrote) out_ += '\n';
        } else {
            if (wrote) new_line(depth - 1);
            out_ += '}';
        }
        --level_;
    }

    void check_void(const element& m, const value_list& values) {
        each_value(m, values, [&](const node& v, std::size_t) {
            if (v.type() != node_type::null) fail(v, "expected null (a void value)");
        });
    }

    // A member's tag and values, or a void member's tag and commas.
    void member_values(const element& owner, const element& m, const value_list& values,
                       std::uint32_t depth, bool tagged) {
        if (tagged) {
            out_ += m.tag().view();
            if (m.kind == ET_NULL) {
                check_void(m, values);
                out_.append(values.count - 1, ',');
                return;
            }
            out_ += " = ";
        }
        const bool braced = braced_in(owner, m);
        if (braced) out_ += "{ ";
        each_value(m, values, [&](const node& v, std::size_t k) {
            if (k > 0) out_ += ", ";
            value(m, v, depth, false);
        });
        if (braced) out_ += " }";
    }

    void value(const element& m, const node& v, std::uint32_t depth, bool in_combination) {
        if (m.kind == ET_STRUCT) {
            structure(m, v, depth + 1, false);
        } else if (m.kind == ET_UNION) {
            union_value(m, v, depth);
        } else if (m.kind == ET_COMBINED) {
            combination(m, v);
        } else {
            simple(m, v, in_combination);
        }
    }

    void union_value(const element& u, const node& n, std::uint32_t depth) {
        std::vector<const node*>& given = given_at(level_);
        const node* extensions = nullptr;
        members_of(u, n, given, extensions);
        if (n.count() > 1) fail(n, "expected one alternative of " + std::string(u.name().view()));
        if (extensions != nullptr) {
            std::vector<std::string> texts;
            extension_texts(*extensions, texts);
            if (texts.size() != 1) fail(*extensions, "expected one extension parameter");
            out_ += texts[0];
            return;
        }
        std::size_t i = 0;
        const element* m = u.children();
        for (; m != nullptr && given[i] == nullptr; m = m->next()) ++i;
        if (m == nullptr) {
            // The empty value, where an alternative may stand no time.
            bool may_be_empty = false;
            for (const element* a = u.children(); a != nullptr; a = a->next()) {
                const occurrences occ = occurrences_of(*a);
                may_be_empty = may_be_empty || occ.optional() || occ.never();
            }
            if (!may_be_empty) {
                fail(n, "expected one alternative of " + std::string(u.name().view()));
            }
            return;
        }
        const value_list values = values_of(*m, *given[i]);
        if (values.count == 0) return;
        ++level_;
        member_values(u, *m, values, depth, tagged_in(u, *m));
        --level_;
    }

    void combination(const element& c, const node& n) {
        std::vector<const node*>& given = given_at(level_);
        const node* extensions = nullptr;
        members_of(c, n, given, extensions);
        std::size_t i = 0;
        for (const element* m = c.children(); m != nullptr; m = m->next(), ++i) {
            const node* v = given[i];
            if (v == nullptr) {
                if (occurrences_of(*m).min > 0) {
                    fail(n, "the member " + std::string(m->name().view()) + " is missing");
                }
                continue;
            }
            each_value(*m, values_of(*m, *v), [&](const node& value, std::size_t k) {
                if (k > 0) out_ += ',';
                simple(*m, value, true);
            });
        }
    }

    // The forms of the last elements seen, by address.
    const value_form& form_of(const element& e) {
        cached& c = forms_[(reinterpret_cast<std::uintptr_t>(&e) >> 6) % forms_.size()];
        if (c.e != &e) {
            c.e = &e;
            c.form = simple_form(e);
        }
        return c.form;
    }

    // A simple value, read by the checker's reader of its form as written.
    void simple(const element& e, const node& v, bool in_combination) {
        const value_form& f = form_of(e);
        std::string& text = text_;
        text.clear();
        std::string why;
        if (!json::functions_of(f.kind).in(f, d_, v, in_combination, text, why)) fail(v, why);
        // Read alone first, for the message of a range or a size; then as
        // a combination reads it, at its width.
        scanner s(text);
        if (!s.read_value(f, false)) fail(v, s.failure ? s.failure->message : "a bad value");
        if (in_combination && s.at_end()) {
            s.pos = 0;
            if (!s.read_value(f, true)) fail(v, s.failure ? s.failure->message : "a bad value");
        }
        if (!s.at_end()) {
            const char* expected = row_of(f.kind).expected;
            const std::string what = expected == nullptr
                                         ? "a value of " + std::string(e.name().view())
                                     : *expected == '\0' ? quote_text(f.text)
                                                         : std::string(expected);
            fail(v, "expected " + what + ", found " + quote_text(text));
        }
        out_ += text;
    }

    struct cached {
        const element* e = nullptr;
        value_form form;
    };

    const document& d_;
    bool closed_;
    std::string& out_;
    std::vector<step> path_;         // the members and indexes down to the value being written
    std::vector<std::string> keys_;  // keys with escapes, decoded
    std::unordered_map<const element*, std::vector<const element*>> members_;
    std::vector<std::vector<const node*>> given_;  // per level of nesting
    std::size_t level_ = 0;
    std::vector<cached> forms_ = std::vector<cached>(64);
    std::string text_;  // the simple value being written
    std::FILE* sink_;
    bool failed_ = false;
};

}  // namespace

bool json_to_text(const element& type, std::string_view json, bool closed, std::string& out,
                  json_error& error, std::FILE* sink) {
    document d;
    json::read_error read;
    if (!d.read(json, read)) {
        error = {read.offset, "", read.message};
        return false;
    }
    // About as long as the JSON.
    if (sink == nullptr) out.reserve(out.size() + json.size());
    message_builder b(d, closed, out, sink);
    try {
        b.message(type);
    } catch (const misfit& m) {
        error = {m.offset, b.path(), m.message};
        return false;
    }
    if (!b.flush()) {
        error = {0, "", "the message cannot be kept while it is checked (a write failed)"};
        return false;
    }
    return true;
}

bool message_checks(const element& type, std::string_view text, bool closed, json_error& error) {
    // What the checker does not accept is not handed out.
    const check_result check = check_message(type, text, {}, closed);
    if (check.valid()) return true;
    error = {0, check.error.path,
             "the message written from the JSON does not check (" + check.error.message +
                 "): it has no form in the text encoding"};
    return false;
}

bool json_to_message(const element& type, std::string_view json, bool closed, std::string& out,
                     json_error& error) {
    std::string text;
    if (!json_to_text(type, json, closed, text, error) ||
        !message_checks(type, text, closed, error)) {
        return false;
    }
    out += text;
    return true;
}

}  // namespace qrv
