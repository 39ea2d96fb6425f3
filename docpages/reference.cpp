#include "docpages/reference.h"

#include <cstdio>
#include <unordered_map>
#include <unordered_set>

#include "abnf/strict_grammar.h"
#include "docpages/value_text.h"
#include "encoding/encoding.h"
#include "messages/checker.h"
#include "messages/example_sizes.h"
#include "messages/example_writer.h"
#include "support/output_writer.h"

namespace qrv {

namespace {

// What the seed's choices may add to the shortest message on the page,
// and the longest shortest message shown.
constexpr std::uint64_t page_example_extra = 256;
constexpr std::uint64_t page_example_limit = 8 * 1024;

// A sink for the passes whose findings the page tells itself.
struct quiet_sink {
    quiet_sink() {
        file = std::fopen("/dev/null", "w");
        if (file == nullptr) file = std::tmpfile();
        diag.console = file;
    }
    ~quiet_sink() {
        if (file != nullptr) std::fclose(file);
    }
    quiet_sink(const quiet_sink&) = delete;
    quiet_sink& operator=(const quiet_sink&) = delete;
    std::FILE* file = nullptr;
    diagnostics diag;
};

std::string cardinality_text(const occurrences& o) {
    if (o.unbounded) return std::to_string(o.min) + "..*";
    if (o.min == o.max) return std::to_string(o.min);
    return std::to_string(o.min) + ".." + std::to_string(o.max);
}

class builder {
public:
    builder(const run_context& run, doc_reference& out) : run_(run), docs_(*run.docs), out_(out) {}

    void build() {
        out_.title = run_.input_path != nullptr ? base_name(run_.input_path) : "definitions";
        files_and_modules();
        definitions();
        members_and_uses();
    }

    const std::vector<const element*>& top() const { return top_; }

private:
    static std::string base_name(std::string_view path) {
        const std::size_t slash = path.rfind('/');
        return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
    }

    std::string unique_id(std::string wanted) {
        if (ids_.insert(wanted).second) return wanted;
        for (int n = 2;; ++n) {
            std::string candidate = wanted + "-" + std::to_string(n);
            if (ids_.insert(candidate).second) return candidate;
        }
    }

    void files_and_modules() {
        std::unordered_map<std::string, int> file_of;
        auto file_index = [&](const std::string& path, const std::string& text) {
            const auto [at, added] = file_of.try_emplace(path, static_cast<int>(out_.files.size()));
            if (added) out_.files.push_back({path, text, {}});
            return at->second;
        };
        for (const auto& [path, text] : docs_.file_texts) file_index(path, text);
        for (const module_record* m = run_.modules; m != nullptr; m = m->next) {
            doc_module dm;
            dm.name = m->name.empty() ? std::string("(unnamed)") : std::string(m->name.view());
            dm.id = unique_id("module-" + (m->name.empty() ? std::string("unnamed")
                                                           : std::string(m->name.view())));
            dm.file = std::string(m->path.view());
            const int index = static_cast<int>(out_.modules.size());
            const int file = file_index(dm.file, {});
            out_.files[static_cast<std::size_t>(file)].modules.push_back(index);
            module_index_.emplace(m, index);
            out_.modules.push_back(std::move(dm));
        }
    }

    void definitions() {
        const std::vector<const module_record*> modules = declaring_modules(run_);
        std::size_t i = 0;
        for (const element* e = run_.elements; e != nullptr; e = e->next(), ++i) {
            const module_record* m = i < modules.size() ? modules[i] : e->module();
            doc_definition d;
            d.name = std::string(e->name().view());
            d.module = m != nullptr && !m->name.empty() ? std::string(m->name.view()) : "";
            d.qualified = d.module.empty() ? d.name : d.module + "." + d.name;
            d.anchor = unique_id(d.qualified);
            d.kind = keyword_of(e->kind);
            d.comment = comment_of(*e);
            if (is_simple_kind(e->kind)) d.bounds = doc_bounds_text(simple_form(*e));
            const int index = static_cast<int>(out_.definitions.size());
            definition_index_.emplace(e, index);
            const auto mi = module_index_.find(m);
            if (mi != module_index_.end()) {
                out_.modules[static_cast<std::size_t>(mi->second)].definitions.push_back(index);
            }
            out_.definitions.push_back(std::move(d));
            top_.push_back(e);
        }
    }

    // The definition a resolved reference names, or -1.
    int target_of(const element& e) const {
        const auto r = docs_.references.find(e.id);
        if (r == docs_.references.end()) return -1;
        const auto d = definition_index_.find(r->second.target);
        return d == definition_index_.end() ? -1 : d->second;
    }

    // The element a plugged copy was made from; the element itself
    // otherwise.
    const element& original_of(const element& e) const {
        const element* at = &e;
        for (int hops = 0; at->is_copy && hops < 8; ++hops) {
            const auto c = docs_.copied_from.find(at->id);
            if (c == docs_.copied_from.end()) break;
            at = c->second;
        }
        return *at;
    }

    std::string comment_of(const element& e) const {
        const auto c = docs_.comments.find(original_of(e).id);
        return c == docs_.comments.end() ? std::string() : c->second;
    }

    void use(int user, int used) {
        if (used < 0) return;
        std::vector<int>& by = out_.definitions[static_cast<std::size_t>(used)].used_by;
        if (by.empty() || by.back() != user) by.push_back(user);
    }

    doc_member member_row(const element& owner, const element& m, int depth) const {
        doc_member row;
        row.depth = depth;
        row.name = std::string(m.name().view());
        if (tagged_in(owner, m)) row.tag = std::string(m.tag().view());
        row.target = target_of(m);
        if (row.target >= 0) {
            row.type = out_.definitions[static_cast<std::size_t>(row.target)].qualified;
        } else if (m.kind == ET_LINK) {
            row.type = std::string(m.link().view());
        } else if (m.kind == ET_CONST) {
            row.type = std::string("const<") + std::string(m.const_value().view()) + ">";
        } else {
            row.type = keyword_of(m.kind);
        }
        if (is_simple_kind(m.kind)) row.bounds = doc_bounds_text(simple_form(m));
        const occurrences o = occurrences_of(m);
        row.cardinality = cardinality_text(o);
        row.optional = o.optional();
        const element& original = original_of(m);
        row.extension = docs_.extensions.count(original.id) != 0;
        if (m.is_copy && &original != &m && original.module() != nullptr) {
            row.plugged_by = std::string(original.module()->name.view());
        }
        row.comment = comment_of(m);
        return row;
    }

    // The members of every definition and of the bodies declared in place
    // in it, in order, and what each refers to: the "used by" lists of all
    // definitions come from this one walk.
    void members_and_uses() {
        struct level {
            const element* owner;
            const element* next;
        };
        std::vector<level> stack;
        for (std::size_t d = 0; d < top_.size(); ++d) {
            const element& e = *top_[d];
            doc_definition& doc = out_.definitions[d];
            const int user = static_cast<int>(d);
            doc.target = target_of(e);
            use(user, doc.target);
            if (!has_body_kind(e) || e.has_link() || e.children() == nullptr) continue;
            stack.push_back({&e, e.children()});
            while (!stack.empty()) {
                level& l = stack.back();
                if (l.next == nullptr) {
                    stack.pop_back();
                    continue;
                }
                const element& m = *l.next;
                const element& owner = *l.owner;
                l.next = m.next();
                const int depth = static_cast<int>(stack.size()) - 1;
                doc_member row = member_row(owner, m, depth);
                use(user, row.target);
                doc.members.push_back(std::move(row));
                // A body declared in place (a reference's members are its
                // target's, documented there).
                if (has_body_kind(m) && !m.has_link() && m.children() != nullptr &&
                    docs_.references.count(m.id) == 0 && stack.size() < 64) {
                    stack.push_back({&m, m.children()});
                }
            }
        }
    }

    const run_context& run_;
    const doc_notes& docs_;
    doc_reference& out_;
    std::unordered_set<std::string> ids_;
    std::unordered_map<const module_record*, int> module_index_;
    std::unordered_map<const element*, int> definition_index_;
    std::vector<const element*> top_;
};

// The rules of the strict grammar, each with the definition it belongs to:
// a definition's rule is followed by those of its bodies.
void add_rules(const run_context& run, diagnostics& quiet, doc_reference& ref) {
    std::string grammar;
    output_writer out;
    out.diag = &quiet;
    sink_open_memory(out, &grammar);
    write_strict_rules(run, out, quiet);
    sink_close(out);
    const std::vector<std::string> names = strict_rule_names(run, quiet);

    ref.rules = read_abnf_rules(grammar);
    std::size_t next = 0;
    int owner = -1;
    for (std::size_t i = 0; i < ref.rules.size(); ++i) {
        if (next < names.size() && ref.rules[i].name == names[next]) {
            owner = static_cast<int>(next++);
            ref.rule_ids.push_back(ref.definitions[static_cast<std::size_t>(owner)].anchor);
        } else {
            ref.rule_ids.push_back("rule-" + ref.rules[i].name);
        }
        ref.rule_owner.push_back(owner);
        if (owner >= 0) ref.definitions[static_cast<std::size_t>(owner)].rules.push_back(i);
    }
    for (abnf_rule& r : read_abnf_rules(strict_common_rules())) {
        ref.rule_ids.push_back("rule-" + r.name);
        ref.rule_owner.push_back(-1);
        ref.rules.push_back(std::move(r));
    }
}

std::string too_long(const doc_definition& d) {
    return "No example: the shortest message of " + d.qualified +
           " is too long for the page (more than " + std::to_string(page_example_limit) +
           " bytes).";
}

// The example of each definition, read back by the checker.
bool add_examples(const std::vector<const element*>& top, diagnostics& diag, doc_reference& ref) {
    // The shortest values of the bodies, once for all the definitions.
    const auto sizes = example_maker::sizes_of(top);
    for (std::size_t i = 0; i < top.size(); ++i) {
        doc_definition& d = ref.definitions[i];
        // Too long for the page already by the least its body takes: the
        // exact size is not worked out.
        const examples::least_size least = sizes->value(*top[i], false);
        if (least.finite() && least.at_least(0) > page_example_limit) {
            d.no_example = too_long(d);
            continue;
        }
        const example_maker maker(*top[i], sizes);
        if (maker.status() == example_status::no_finite_message) {
            d.no_example = "No example: every message of " + d.qualified + " would contain itself.";
            continue;
        }
        if (maker.status() != example_status::ready || maker.shortest_size() > page_example_limit) {
            d.no_example = too_long(d);
            continue;
        }
        std::string message;
        if (maker.write(0, message, page_example_extra) != example_status::ready) {
            d.no_example = "No example could be written.";
            continue;
        }
        const check_result result = check_message(*top[i], message);
        if (result.verdict == check_verdict::invalid) {
            error_note(diag,
                       "error: The example of %s fails the message checker at line %lld, column "
                       "%lld: %s (a fault of pvx2abnf: no page written)\n",
                       d.qualified.c_str(), static_cast<long long>(result.error.line),
                       static_cast<long long>(result.error.column),
                       check_error_text(result.error).c_str());
            return false;
        }
        if (result.verdict == check_verdict::undecided) {
            d.no_example = "No example: the message checker could not decide on it.";
            continue;
        }
        d.example = std::move(message);
    }
    return true;
}

}  // namespace

std::vector<std::string> paragraphs(const std::string& comment) {
    std::vector<std::string> out;
    std::string current;
    std::size_t pos = 0;
    while (pos <= comment.size()) {
        std::size_t end = comment.find('\n', pos);
        if (end == std::string::npos) end = comment.size();
        std::string_view line(comment.data() + pos, end - pos);
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
        if (line.empty()) {
            if (!current.empty()) out.push_back(std::move(current));
            current.clear();
        } else {
            if (!current.empty()) current += ' ';
            current.append(line);
        }
        pos = end + 1;
    }
    if (!current.empty()) out.push_back(std::move(current));
    return out;
}

bool build_reference(const run_context& run, diagnostics& diag, doc_reference& out) {
    builder b(run, out);
    b.build();
    quiet_sink quiet;
    const int findings = check_strict_grammar(run, quiet.diag);
    add_rules(run, quiet.diag, out);
    if (findings > 0) {
        out.notice = "The definitions fail the strict checks (" + std::to_string(findings) +
                     (findings == 1 ? " finding" : " findings") +
                     "; pvx2abnf --lint names them), so no definition has an example message. "
                     "The diagrams show the strict grammar as it would be written.";
        for (doc_definition& d : out.definitions) {
            d.no_example = "No example: the definitions fail the strict checks.";
        }
        note(diag,
             "note: The definitions fail the strict checks (%d): the page shows no examples\n",
             findings);
        return true;
    }
    return add_examples(b.top(), diag, out);
}

}  // namespace qrv
