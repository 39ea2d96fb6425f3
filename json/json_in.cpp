// JSON to a message: the JSON read whole (json/json_text.h), then written
// member by member in the definition's order, in the layout of the example
// writer: one member a line, nested structures indented four spaces a
// level, the values of a list after ", ". Each simple value is read by the
// checker's reader of its form as it is written; the whole message is
// checked before it is handed out.
#include <algorithm>
#include <unordered_map>

#include "encoding/encoding.h"
#include "encoding/value_reader.h"
#include "json/json_bridge.h"
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

class message_builder {
public:
    message_builder(const document& d, bool closed, std::string& out)
        : d_(d), closed_(closed), out_(out) {}

    void message(const element& type) {
        const node& root = d_.root();
        if (type.kind == ET_STRUCT) {
            structure(type, root, 0, true);
            return;
        }
        value(type, root, 0, false);
        out_ += '\n';
    }

    const std::string& path() const { return path_; }

private:
    [[noreturn]] void fail(const node& n, std::string message) const {
        throw misfit{n.offset, std::move(message)};
    }

    void new_line(std::uint32_t depth) {
        out_ += '\n';
        out_.append(4 * std::min(depth, examples::max_indent), ' ');
    }

    std::string_view key_of(const node& k) {
        if (!k.escaped) return d_.raw(k);
        keys_.push_back(d_.string_of(k));
        return keys_.back();
    }

    // The members of object `n` by the members of `owner`: the value given
    // for each (null for none), and the extension parameters.
    void members_of(const element& owner, const node& n, std::vector<const node*>& given,
                    const node*& extensions) {
        if (n.type != node_type::object) {
            fail(n, std::string("expected an object (") + keyword_of(owner.kind) + " " +
                        std::string(owner.name().view()) + ")");
        }
        std::vector<const element*> members;
        for (const element* m = owner.children(); m != nullptr; m = m->next()) members.push_back(m);
        given.assign(members.size(), nullptr);
        extensions = nullptr;
        for (std::uint32_t k = n.first; k != 0; k = d_.at(d_.at(k).next).next) {
            const node& key = d_.at(k);
            const node& v = d_.at(key.next);
            const std::string_view name = key_of(key);
            if (name == extensions_key && owner.kind != ET_COMBINED) {
                if (extensions != nullptr) fail(key, "the key \"@extensions\" stands twice");
                extensions = &v;
                continue;
            }
            std::size_t i = 0;
            while (i < members.size() && members[i]->name() != name) ++i;
            if (i == members.size()) {
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
        }
        keys_.clear();
    }

    // The values of member `m` given by `v`: its array, or the one value.
    std::vector<const node*> values_of(const element& m, const node& v) {
        const occurrences occ = occurrences_of(m);
        if (occ.never()) fail(v, "the member " + std::string(m.name().view()) + " never stands");
        std::vector<const node*> values;
        if (!occ.repeats()) {
            values.push_back(&v);
            return values;
        }
        if (v.type != node_type::array) {
            fail(v, "expected an array (the values of " + std::string(m.name().view()) + ")");
        }
        for (std::uint32_t i = v.first; i != 0; i = d_.at(i).next) values.push_back(&d_.at(i));
        if (values.size() < occ.min || (!occ.unbounded && values.size() > occ.max)) {
            std::string counted = std::to_string(occ.min);
            if (occ.unbounded) {
                counted = "at least " + counted;
            } else if (occ.max != occ.min) {
                counted += " to " + std::to_string(occ.max);
            }
            fail(v, "expected " + counted + " values of " + std::string(m.name().view()) +
                        ", found " + std::to_string(values.size()));
        }
        return values;
    }

    void enter(const element& m, std::size_t index, bool repeats) {
        if (!path_.empty()) path_ += '.';
        path_ += m.name().view();
        if (repeats) path_ += "[" + std::to_string(index) + "]";
    }

    void extension_texts(const node& v, std::vector<std::string>& texts) {
        if (closed_) fail(v, "no extension parameters with --closed");
        if (v.type != node_type::array) fail(v, "expected an array of extension parameters");
        for (std::uint32_t i = v.first; i != 0; i = d_.at(i).next) {
            const node& t = d_.at(i);
            if (t.type != node_type::string) fail(t, "expected an extension parameter's text");
            texts.push_back(d_.string_of(t));
        }
    }

    // `depth`: the indentation of the member lines (0 for the message's).
    void structure(const element& s, const node& n, std::uint32_t depth, bool root) {
        std::vector<const node*> given;
        const node* extensions = nullptr;
        members_of(s, n, given, extensions);
        if (!root) out_ += '{';
        bool wrote = false;
        const auto line = [&] {
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
            const occurrences occ = occurrences_of(*m);
            if (given[i] == nullptr) {
                if (occ.min > 0 && !(m->kind == ET_NULL && !tagged_in(s, *m))) {
                    fail(n, "the member " + std::string(m->name().view()) + " is missing");
                }
                continue;
            }
            const std::vector<const node*> values = values_of(*m, *given[i]);
            if (values.empty()) continue;
            const bool tagged = tagged_in(s, *m);
            if (m->kind == ET_NULL && !tagged) {
                // An untagged void member stands without a byte; a list of
                // them is its commas.
                check_void(*m, values);
                if (values.size() > 1) {
                    line();
                    out_.append(values.size() - 1, ',');
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
    }

    void check_void(const element& m, const std::vector<const node*>& values) {
        const bool repeats = occurrences_of(m).repeats();
        for (std::size_t k = 0; k < values.size(); ++k) {
            if (values[k]->type != node_type::null) {
                enter(m, k, repeats);
                fail(*values[k], "expected null (a void value)");
            }
        }
    }

    // A member's tag and values, or a void member's tag and commas.
    void member_values(const element& owner, const element& m,
                       const std::vector<const node*>& values, std::uint32_t depth, bool tagged) {
        const std::size_t back = path_.size();
        const bool repeats = occurrences_of(m).repeats();
        if (tagged) {
            out_ += m.tag().view();
            if (m.kind == ET_NULL) {
                check_void(m, values);
                out_.append(values.size() - 1, ',');
                return;
            }
            out_ += " = ";
        }
        const bool braced = braced_in(owner, m);
        if (braced) out_ += "{ ";
        for (std::size_t k = 0; k < values.size(); ++k) {
            if (k > 0) out_ += ", ";
            enter(m, k, repeats);
            value(m, *values[k], depth, false);
            path_.resize(back);
        }
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
        std::vector<const node*> given;
        const node* extensions = nullptr;
        members_of(u, n, given, extensions);
        if (n.count > 1) fail(n, "expected one alternative of " + std::string(u.name().view()));
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
            if (!may_be_empty)
                fail(n, "expected one alternative of " + std::string(u.name().view()));
            return;
        }
        const std::vector<const node*> values = values_of(*m, *given[i]);
        if (values.empty()) return;
        member_values(u, *m, values, depth, tagged_in(u, *m));
    }

    void combination(const element& c, const node& n) {
        std::vector<const node*> given;
        const node* extensions = nullptr;
        members_of(c, n, given, extensions);
        std::size_t i = 0;
        for (const element* m = c.children(); m != nullptr; m = m->next(), ++i) {
            if (given[i] == nullptr) {
                if (occurrences_of(*m).min > 0) {
                    fail(n, "the member " + std::string(m->name().view()) + " is missing");
                }
                continue;
            }
            const std::vector<const node*> values = values_of(*m, *given[i]);
            const std::size_t back = path_.size();
            const bool repeats = occurrences_of(*m).repeats();
            for (std::size_t k = 0; k < values.size(); ++k) {
                if (k > 0) out_ += ',';
                enter(*m, k, repeats);
                simple(*m, *values[k], true);
                path_.resize(back);
            }
        }
    }

    // A simple value, read by the checker's reader of its form as written.
    void simple(const element& e, const node& v, bool in_combination) {
        const value_form f = simple_form(e);
        std::string text;
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

    const document& d_;
    bool closed_;
    std::string& out_;
    std::string path_;
    std::vector<std::string> keys_;  // keys with escapes, decoded
};

}  // namespace

bool json_to_message(const element& type, std::string_view json, bool closed, std::string& out,
                     json_error& error) {
    document d;
    json::read_error read;
    if (!d.read(json, read)) {
        error = {read.offset, "", read.message};
        return false;
    }
    std::string text;
    message_builder b(d, closed, text);
    try {
        b.message(type);
    } catch (const misfit& m) {
        error = {m.offset, b.path(), m.message};
        return false;
    }
    // What the checker does not accept is not handed out.
    const check_result check = check_message(type, text, {}, closed);
    if (!check.valid()) {
        error = {0, check.error.path,
                 "the message written from the JSON does not check (" + check.error.message +
                     "): it has no form in the text encoding"};
        return false;
    }
    out += text;
    return true;
}

}  // namespace qrv
