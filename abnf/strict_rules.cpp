// The rules of the strict grammar, one per top-level definition in chain
// order, laid out like the default rules (the same writer, indentation and
// column-60 comments), with the forms of the text encoding:
//
// - the root's rule is the message: its members (or its alternatives)
//   without the enclosing braces, white space allowed around them; where
//   another definition refers to a root structure, a second rule puts it in
//   braces;
// - white space may stand between any two items of a structure, extension
//   parameters are optional, cardinalities are exact;
// - a definition's rule is its value once: a reference carries the
//   definition's cardinality itself;
// - a body declared in place that repeats, or that several members share,
//   gets a rule of its own after the rule it stands in, so every body is
//   written once and the output grows linearly with the nesting;
// - rule names are made of ALPHA, DIGIT and "-" and are unique without
//   regard to case, the common rules included;
// - tags and constant texts are quoted strings, with every byte that is not
//   plain visible ASCII (and every brace) in %x form.
//
// Bodies are written from an explicit stack, not by recursion, so nesting
// as deep as the parser accepts needs no more than a small stack.
#include <algorithm>
#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "abnf/default_grammar.h"
#include "abnf/rule_writer.h"
#include "abnf/strict_grammar.h"
#include "support/output_writer.h"

namespace qrv {

namespace {

bool is_alpha(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }
bool is_name_char(unsigned char c) { return is_alpha(c) || is_digit(c) || c == '-'; }

std::string lower_key(std::string_view s) {
    std::string key(s);
    for (char& c : key) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return key;
}

// A definition's name as a rule name: "_" (and anything else outside
// ALPHA, DIGIT and "-") becomes "-".
std::string rule_name_of(std::string_view name) {
    std::string out;
    out.reserve(name.size() + 2);
    for (char c : name) out += is_name_char(static_cast<unsigned char>(c)) ? c : '-';
    if (out.empty() || !is_alpha(static_cast<unsigned char>(out[0]))) out.insert(0, "r-");
    return out;
}

// The module part that qualifies a clashing name ("shop.common" gives
// "shop-common"); empty when the module has no name that can start a rule
// name.
std::string module_part(const module_record* m) {
    if (m == nullptr) return {};
    std::string out;
    for (char c : m->name.view()) {
        if (c == '+' && out.empty()) continue;
        out += is_name_char(static_cast<unsigned char>(c)) ? c : '-';
    }
    if (out.empty() || !is_alpha(static_cast<unsigned char>(out[0]))) return {};
    return out;
}

void append_hex(std::string& out, unsigned char c) {
    static constexpr char digits[] = "0123456789ABCDEF";
    out += digits[c >> 4];
    out += digits[c & 0x0F];
}

// Plain visible ASCII that can stand in a quoted string and passes the
// writer unchanged.
bool is_plain(unsigned char c) {
    return c >= 0x20 && c <= 0x7E && c != '"' && c != '{' && c != '}';
}

// The names every rule of the grammar has: the common rules' and the
// generated ones, compared without regard to case.
class rule_names {
public:
    rule_names() {
        // Every line of the common rules that starts with a letter defines
        // a rule.
        const std::string_view rules = strict_common_rules();
        std::size_t pos = 0;
        while (pos < rules.size()) {
            std::size_t end = rules.find('\n', pos);
            if (end == std::string_view::npos) end = rules.size();
            std::string_view line = rules.substr(pos, end - pos);
            std::size_t n = 0;
            while (n < line.size() && is_name_char(static_cast<unsigned char>(line[n]))) ++n;
            if (n > 0 && is_alpha(static_cast<unsigned char>(line[0]))) take(line.substr(0, n));
            pos = end + 1;
        }
    }

    bool taken(std::string_view name) const { return taken_.count(lower_key(name)) != 0; }
    void take(std::string_view name) { taken_.insert(lower_key(name)); }

    // `wanted` when it is free, else the first free of wanted-2, wanted-3 ...
    std::string claim(const std::string& wanted) {
        std::string key = lower_key(wanted);
        if (taken_.insert(key).second) return wanted;
        std::uint64_t& next = next_number_.try_emplace(key, 2).first->second;
        for (;;) {
            std::string candidate = wanted + "-" + std::to_string(next++);
            if (taken_.insert(lower_key(candidate)).second) return candidate;
        }
    }

private:
    std::unordered_set<std::string> taken_;
    std::unordered_map<std::string, std::uint64_t> next_number_;
};

bool repeats(const element& m) {
    return m.has_cardinality && (m.cardinality_unbounded || m.cardinality_max > 1);
}

// The value of a body without members: every such body has this value.
std::string_view empty_body(element_kind kind, bool root) {
    if (kind == ET_UNION) return "( extension-param ) ";
    if (kind == ET_COMBINED) return "\"\" ";
    return root ? "[ extension-params ] " : "LBRCE [ extension-params ] RBRCE ";
}

// What the writer knows of one member chain.
struct chain_info {
    const element* owner_top = nullptr;  // the top-level definition the members belong to
    std::size_t top_index = 0;
    std::uint32_t places = 0;  // members declared in place that stand for it
    std::string rule;          // its own rule, once it needs one
};

class strict_writer {
public:
    strict_writer(const run_context& run, output_writer& out, diagnostics& diag,
                  const element* root)
        : run_(run), w_(run, out, diag) {
        const std::vector<const module_record*> all_modules = declaring_modules(run);
        std::vector<const element*> all;
        for (const element* e = run.elements; e != nullptr; e = e->next()) all.push_back(e);
        std::vector<const module_record*> modules;
        for (std::size_t i : strict_grammar_definitions(run, root)) {
            top_.push_back(all[i]);
            modules.push_back(i < all_modules.size() ? all_modules[i] : nullptr);
        }
        name_definitions(modules);
        plan();
    }

    const std::vector<std::string>& top_names() const { return top_names_; }

    void write_rules() {
        for (std::size_t i = 0; i < top_.size(); ++i) {
            put(top_names_[i]);
            put(" = ");
            indent_more(w_.out);
            write_definition(top_[i], i == 0);
            indent_less(w_.out);
            end_line(w_);
            end_line(w_);
            if (i == 0 && !root_braced_.empty()) {
                put(root_braced_);
                put(" = LBRCE ");
                put(top_names_[0]);
                put(" RBRCE");
                end_line(w_);
                end_line(w_);
            }
            write_pending_bodies();
        }
        flush_pending(w_);
    }

private:
    struct frame {
        const element* owner;   // the element whose members are written
        const element* member;  // the member being written, or the next one
        bool root;
        bool several;
        bool in_member;  // the member's value (a body) is being written
        bool braced;     // the member's value stands in braces
        std::string_view close;
        std::string label;  // what the own rules of bodies below are named after
    };

    void put(std::string_view s) { qrv::put_text(w_, s); }

    // A tag: mostly plain, and then written as it stands.
    void put_quoted(std::string_view s) { qrv::put_quoted(w_, s); }

    // ---- names -------------------------------------------------------

    // A definition keeps its name unless another rule has it (without
    // regard to case); then it is qualified by its module, and numbered if
    // that still clashes.
    void name_definitions(const std::vector<const module_record*>& modules) {
        std::vector<std::string> bases;
        std::unordered_map<std::string, std::uint32_t> uses;
        bases.reserve(top_.size());
        for (const element* e : top_) {
            bases.push_back(rule_name_of(e->name().view()));
            ++uses[lower_key(bases.back())];
        }
        top_names_.assign(top_.size(), std::string());
        std::vector<std::size_t> clashing;
        for (std::size_t i = 0; i < top_.size(); ++i) {
            if (uses[lower_key(bases[i])] == 1 && !names_.taken(bases[i])) {
                top_names_[i] = bases[i];
                names_.take(bases[i]);
            } else {
                clashing.push_back(i);
            }
        }
        for (std::size_t i : clashing) {
            const std::string module = module_part(i < modules.size() ? modules[i] : nullptr);
            top_names_[i] = names_.claim(module.empty() ? bases[i] : module + "-" + bases[i]);
        }
    }

    // ---- the plan: owners, shared bodies, references to the root -------

    chain_info& info_of(const element* chain) {
        std::int32_t* index = chains_.find(chain);
        if (index == nullptr) {
            chains_.insert(chain, static_cast<std::int32_t>(info_.size()));
            info_.emplace_back();
            return info_.back();
        }
        return info_[static_cast<std::size_t>(*index)];
    }

    bool known(const element* chain) { return chains_.find(chain) != nullptr; }

    void plan() {
        if (top_.empty()) return;
        const element* root = top_[0];
        const element* root_chain =
            root->kind == ET_STRUCT && !root->has_link() ? root->children() : nullptr;
        bool root_referenced = false;
        std::vector<const element*> stack;
        for (std::size_t i = 0; i < top_.size(); ++i) {
            const element* p = top_[i];
            if (p->children() == nullptr) continue;
            if (p->has_link()) {
                root_referenced = root_referenced || p->children() == root_chain;
                continue;
            }
            const bool fresh = !known(p->children());
            chain_info& info = info_of(p->children());
            info.owner_top = p;
            info.top_index = i;
            if (fresh) stack.push_back(p->children());
        }
        while (!stack.empty()) {
            const element* chain = stack.back();
            stack.pop_back();
            for (const element* m = chain; m != nullptr; m = m->next()) {
                if (m->children() == nullptr) continue;
                if (m->has_link()) {
                    root_referenced = root_referenced || m->children() == root_chain;
                    continue;
                }
                const bool fresh = !known(m->children());
                ++info_of(m->children()).places;
                if (fresh) stack.push_back(m->children());
            }
        }
        if (root_referenced) root_braced_ = names_.claim(top_names_[0] + "-braced");
    }

    // ---- definitions and bodies --------------------------------------

    void write_definition(const element* p, bool root) {
        if (root) put("OWS ");
        if (p->has_link()) {
            // The root that stands for another definition is that
            // definition's members without braces.
            if (root && p->children() != nullptr && has_body_kind(*p)) {
                write_body(p, true, top_names_[0]);
            } else if (root && p->children() == nullptr && p->kind != ET_LINK) {
                put(empty_body(p->kind, true));
            } else {
                write_reference(*p);
            }
        } else if (has_body_kind(*p)) {
            if (p->children() != nullptr) {
                write_body(p, root, top_name_of(p));
            } else {
                put(empty_body(p->kind, root));
            }
        } else {
            write_simple(*p, false);
        }
        if (root) put("OWS ");
    }

    void write_pending_bodies() {
        while (!pending_.empty()) {
            const element* m = pending_.front();
            pending_.pop_front();
            put(info_of(m->children()).rule);
            put(" = ");
            indent_more(w_.out);
            write_body(m, false, rule_name_of(m->name().view()));
            indent_less(w_.out);
            end_line(w_);
            end_line(w_);
        }
    }

    void open_body(std::vector<frame>& stack, const element* owner, bool root, std::string label) {
        indent_more(w_.out);
        const bool several = owner->children()->next() != nullptr;
        if (owner->kind == ET_UNION || owner->kind == ET_COMBINED) {
            put("( ");
        } else if (!root) {
            put("LBRCE ");
        }
        if (several && owner->kind != ET_COMBINED) end_line(w_);
        stack.push_back(
            {owner, owner->children(), root, several, false, false, {}, std::move(label)});
    }

    void close_body(const frame& f) {
        if (f.owner->kind == ET_COMBINED) {
            put(") ");
        } else if (f.owner->kind == ET_UNION) {
            put("extension-param ) ");
        } else {
            put("[ OWS extension-params ] ");
            if (f.several) end_line(w_);
            if (!f.root) put("RBRCE ");
        }
        indent_less(w_.out);
    }

    // Writes the members of `outer` and of every body declared in place
    // below it that has no rule of its own.
    void write_body(const element* outer, bool root, std::string label) {
        std::vector<frame> stack;
        open_body(stack, outer, root, std::move(label));
        while (!stack.empty()) {
            frame& f = stack.back();
            if (f.in_member) {
                finish_member(f);
                f.member = f.member->next();
                f.in_member = false;
            }
            if (f.member == nullptr) {
                close_body(f);
                stack.pop_back();
                continue;
            }
            const element* m = f.member;
            start_member(f);
            f.in_member = true;
            if (written_in_place(*m)) {
                open_body(stack, m, false,
                          rule_name_of(m->name().view()));  // `f` is not used after this
                continue;
            }
            const bool tagged = is_tagged(f, *m);
            write_once(*m, tagged, f.label);
            write_repetition(*m, tagged, f.label);
        }
    }

    bool is_tagged(const frame& f, const element& m) const {
        return f.owner->kind != ET_COMBINED && m.has_tag();
    }

    void start_member(frame& f) {
        const element* m = f.member;
        const bool combi = f.owner->kind == ET_COMBINED;
        std::string_view open;
        if (!m->has_cardinality) {
            open = combi ? "" : "( ";
            f.close = combi ? "" : ") ";
        } else {
            open = !m->cardinality_unbounded && m->cardinality_max == 0 ? "0( "
                   : m->cardinality_min == 0                            ? "[ "
                                                                        : "( ";
            f.close = open[0] == '[' ? "] " : ") ";
        }
        put(open);
        if (f.owner->kind == ET_STRUCT && m != f.owner->children()) put("OWS ");
        if (is_tagged(f, *m)) {
            put_quoted(m->tag().view());
            put(m->kind == ET_NULL ? " " : " EQUAL ");
        }
        f.braced = f.owner->kind == ET_UNION && m->constrained;
        if (f.braced) put("LBRCE ");
    }

    void finish_member(const frame& f) {
        if (f.braced) put("RBRCE ");
        put(f.close);
        if (f.owner->kind == ET_UNION) put("/ ");
        comment_member(w_, *f.member);
        if (f.several && f.owner->kind != ET_COMBINED) end_line(w_);
    }

    // A body declared in place is written where it stands unless it repeats
    // or several members share it.
    bool written_in_place(const element& m) {
        if (m.has_link() || m.children() == nullptr || !has_body_kind(m)) return false;
        return !repeats(m) && info_of(m.children()).places < 2;
    }

    // The value once: a reference, a body's own rule, or a simple value.
    void write_once(const element& m, bool tagged, const std::string& parent) {
        if (m.has_link()) {
            write_reference(m);
        } else if (has_body_kind(m)) {
            if (m.children() == nullptr) {
                put(empty_body(m.kind, false));
            } else {
                put(body_rule(m, parent));
                put(" ");
            }
        } else {
            write_simple(m, tagged);
        }
    }

    // The further occurrences, on a line of their own at the next tab stop.
    void write_repetition(const element& m, bool tagged, const std::string& parent) {
        if (!repeats(m)) return;
        put("\n\t");
        if (m.cardinality_min >= 1) put(std::to_string(m.cardinality_min - 1));
        put("*");
        if (!m.cardinality_unbounded) put(std::to_string(m.cardinality_max - 1));
        put("( COMMA ");
        write_once(m, tagged, parent);
        put(") ");
    }

    // The own rule of a body declared in place, named after its parent and
    // the member when it is first needed, and written after the current
    // rule.
    const std::string& body_rule(const element& m, const std::string& parent) {
        chain_info& info = info_of(m.children());
        if (info.rule.empty()) {
            info.rule = names_.claim(parent + "-" + rule_name_of(m.name().view()));
            pending_.push_back(&m);
        }
        return info.rule;
    }

    const std::string& top_name_of(const element* e) {
        return top_names_[info_of(e->children()).top_index];
    }

    // ---- references ----------------------------------------------------

    void write_reference(const element& m) {
        if (m.kind == ET_LINK) {  // never resolved: the checks report it
            put("\"\" ");
            return;
        }
        if (m.children() != nullptr && known(m.children())) {
            const chain_info& info = info_of(m.children());
            if (info.owner_top != nullptr) {
                put(info.top_index == 0 && !root_braced_.empty() ? root_braced_
                                                                 : top_names_[info.top_index]);
                put(" ");
                return;
            }
        }
        put(empty_body(m.kind, false));
    }

    void write_simple(const element& e, bool tagged) {
        write_strict_simple(w_, simple_form(e), tagged);
    }

    const run_context& run_;
    rule_writer w_;
    std::vector<const element*> top_;
    std::vector<std::string> top_names_;
    rule_names names_;
    chain_marks chains_;
    std::vector<chain_info> info_;
    std::string root_braced_;
    std::deque<const element*> pending_;
};

}  // namespace

bool is_plain_text(std::string_view s) {
    return std::all_of(s.begin(), s.end(),
                       [](char c) { return is_plain(static_cast<unsigned char>(c)); });
}

std::string quoted_text(std::string_view s) {
    std::string out;
    bool in_quotes = false;
    bool in_hex = false;
    for (char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (is_plain(c)) {
            in_hex = false;
            if (!in_quotes) {
                if (!out.empty()) out += ' ';
                out += '"';
                in_quotes = true;
            }
            out += ch;
            continue;
        }
        if (in_quotes) {
            out += '"';
            in_quotes = false;
        }
        if (in_hex) {
            out += '.';
        } else {
            if (!out.empty()) out += ' ';
            out += "%x";
            in_hex = true;
        }
        append_hex(out, c);
    }
    if (in_quotes) out += '"';
    if (out.empty()) out = "\"\"";
    return out;
}

std::string comment_text(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (is_plain(c) || c == '"') {
            out += ch;
        } else {
            out += "%x";
            append_hex(out, c);
        }
    }
    return out;
}

std::vector<std::size_t> strict_grammar_definitions(const run_context& run, const element* root) {
    std::vector<std::size_t> out;
    if (root == nullptr) {
        for (const element* e = run.elements; e != nullptr; e = e->next())
            out.push_back(out.size());
        return out;
    }
    // The definition that owns each member chain, and the definitions the
    // root reaches through references, from an explicit stack.
    chain_marks owner;  // chain -> index of the definition that declares it
    std::vector<const element*> top;
    std::size_t root_index = 0;
    for (const element* e = run.elements; e != nullptr; e = e->next()) {
        if (e == root) root_index = top.size();
        if (e->children() != nullptr && !e->has_link()) {
            owner.insert(e->children(), static_cast<std::int32_t>(top.size()));
        }
        top.push_back(e);
    }
    std::vector<bool> reached(top.size(), false);
    chain_marks walked;
    std::vector<const element*> stack;
    reached[root_index] = true;
    if (root->children() != nullptr) stack.push_back(root->children());
    while (!stack.empty()) {
        const element* chain = stack.back();
        stack.pop_back();
        if (!walked.insert(chain, 1)) continue;
        if (const std::int32_t* index = owner.find(chain)) {
            reached[static_cast<std::size_t>(*index)] = true;
        }
        for (const element* m = chain; m != nullptr; m = m->next()) {
            if (m->children() != nullptr) stack.push_back(m->children());
        }
    }
    out.push_back(root_index);
    for (std::size_t i = 0; i < top.size(); ++i) {
        if (reached[i] && i != root_index) out.push_back(i);
    }
    return out;
}

std::vector<std::string> strict_rule_names(const run_context& run, diagnostics& diag) {
    output_writer unused;
    const strict_writer writer(run, unused, diag, nullptr);
    return writer.top_names();
}

void write_strict_rules(const run_context& run, output_writer& out, diagnostics& diag,
                        const element* root) {
    strict_writer writer(run, out, diag, root);
    writer.write_rules();
}

}  // namespace qrv
