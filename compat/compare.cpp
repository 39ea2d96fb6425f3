// The structural comparison (compat/changes.h). Every definition of the old
// version is compared with the definition of its qualified name in the new
// one (or the one it moved to), member by member: members are matched by
// name, then by tag; a reference to a definition of the same name in both
// is left to that definition's own comparison, so each body is compared
// once. A reference retargeted to another definition is compared in place,
// each pair of bodies once.
//
// The decisions follow the encoding (encoding/encoding.h):
// - ranges, sizes and counts: the old set of values inside the new one
//   keeps the old messages; a value outside shows a break;
// - a structure takes extension parameters after its members, a union one
//   as its value: so a tagged member added after every common member, or an
//   alternative added, whose values read as an extension parameter, is
//   still read by the old readers (forward), and one removed likewise by
//   the new readers (backward);
// - conversely, a message of the version without the member may carry an
//   extension parameter with its tag, which the version with it reads as
//   the member: whether its value fits is left to the witness search;
// - a required member added loses the old messages, one removed the new.
#include <algorithm>
#include <array>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "compat/changes.h"
#include "compat/value_sets.h"
#include "compat/versions.h"
#include "encoding/encoding.h"

namespace qrv::compat {

namespace {

class comparer {
public:
    comparer(const run_context& o, const run_context& n)
        : old_(o, false),
          new_(n, true),
          counterpart_(old_.definitions.size(), none),
          moved_(old_.definitions.size(), false) {
        // Each old definition's counterpart: of its qualified name, else the
        // only unclaimed one of its name in another module (moved there).
        std::vector<bool> claimed(new_.definitions.size(), false);
        for (std::size_t i = 0; i < old_.definitions.size(); ++i) {
            const auto found = new_.by_name.find(old_.names[i]);
            if (found == new_.by_name.end()) continue;
            const std::uint32_t j = found->second;
            if (!claimed[j]) {
                claimed[j] = true;
                counterpart_[i] = j;
            }
        }
        std::unordered_map<std::string_view, std::vector<std::uint32_t>> unclaimed;
        for (std::size_t j = 0; j < new_.definitions.size(); ++j) {
            if (!claimed[j]) {
                unclaimed[new_.definitions[j]->name().view()].push_back(
                    static_cast<std::uint32_t>(j));
            }
        }
        std::unordered_map<std::string_view, int> missing;
        for (std::size_t i = 0; i < old_.definitions.size(); ++i) {
            if (counterpart_[i] == none) ++missing[old_.definitions[i]->name().view()];
        }
        for (std::size_t i = 0; i < old_.definitions.size(); ++i) {
            if (counterpart_[i] != none) continue;
            const std::string_view name = old_.definitions[i]->name().view();
            const auto u = unclaimed.find(name);
            if (u != unclaimed.end() && u->second.size() == 1 && missing[name] == 1) {
                counterpart_[i] = u->second.front();
                moved_[i] = true;
                claimed[u->second.front()] = true;
            }
        }
        for (std::size_t j = 0; j < new_.definitions.size(); ++j) {
            if (!claimed[j]) added_.push_back(new_.definitions[j]);
        }
    }

    std::vector<change> run(const element* only) {
        std::vector<std::uint32_t> order;
        if (only != nullptr) {
            order = reached_from(*only);
        } else {
            order.resize(old_.definitions.size());
            for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<std::uint32_t>(i);
        }
        for (const std::uint32_t i : order) {
            const element* d = old_.definitions[i];
            const std::string& qname = old_.names[i];
            if (counterpart_[i] == none) {
                change ch;
                ch.old_definition = d;
                ch.path = std::string(d->name().view());
                ch.words = "definition " + qname + " removed";
                ch.place = d;
                ch.place_in_old = true;
                ch.backward = verdict::loses;
                changes_.push_back(std::move(ch));
                continue;
            }
            compare_definitions(i, counterpart_[i]);
        }
        if (only == nullptr) {
            for (const element* e : added_) {
                change ch;
                ch.new_definition = e;
                ch.path = std::string(e->name().view());
                ch.words = "definition " + std::string(e->name().view()) + " added";
                ch.place = e;
                changes_.push_back(std::move(ch));
            }
        }
        return std::move(changes_);
    }

private:
    // Where the comparison stands: the definitions, the path in words and
    // the members on the way in each version.
    struct place {
        const element* old_definition;
        const element* new_definition;
        std::string path;
        std::vector<const element*> old_path;
        std::vector<const element*> new_path;
        int depth = 0;
    };

    // One member further down in each version (either may be null), for
    // as long as the step lives.
    class step {
    public:
        step(place& p, const element* x, const element* y, std::string_view name)
            : p_(p), path_(p.path.size()), old_(p.old_path.size()), new_(p.new_path.size()) {
            p.path += '.';
            p.path += name;
            if (x != nullptr) p.old_path.push_back(x);
            if (y != nullptr) p.new_path.push_back(y);
            ++p.depth;
        }
        ~step() {
            p_.path.resize(path_);
            p_.old_path.resize(old_);
            p_.new_path.resize(new_);
            --p_.depth;
        }
        step(const step&) = delete;
        step& operator=(const step&) = delete;

    private:
        place& p_;
        std::size_t path_;
        std::size_t old_;
        std::size_t new_;
    };

    // The old definitions `root` reaches, itself first, in the old order:
    // their indices.
    std::vector<std::uint32_t> reached_from(const element& root) {
        std::unordered_set<const element*> seen{&root};
        std::unordered_set<const element*> chains;
        std::vector<const element*> todo{&root};
        while (!todo.empty()) {
            const element* e = todo.back();
            todo.pop_back();
            if (!has_body_kind(*e) || e->children() == nullptr) continue;
            if (!chains.insert(e->children()).second) continue;
            for (const element* m = e->children(); m != nullptr; m = m->next()) {
                if (const element* t = old_.target_of(*m)) {
                    if (seen.insert(t).second) todo.push_back(t);
                } else {
                    todo.push_back(m);
                }
            }
        }
        std::vector<std::uint32_t> order;
        for (std::size_t i = 0; i < old_.definitions.size(); ++i) {
            if (seen.count(old_.definitions[i]) != 0)
                order.push_back(static_cast<std::uint32_t>(i));
        }
        return order;
    }

    change& add(const place& p, const element* at, std::string words, verdict backward,
                verdict forward) {
        // Where another member may take the value (one of the same tag, or
        // the digits of an untagged one), a value the member no longer
        // takes may still be read: the witness search decides.
        if ((backward == verdict::loses || forward == verdict::loses) && loose_way()) {
            if (backward == verdict::loses) backward = verdict::depends;
            if (forward == verdict::loses) forward = verdict::depends;
        }
        change ch;
        ch.old_definition = p.old_definition;
        ch.new_definition = p.new_definition;
        ch.path = p.path;
        ch.words = std::move(words);
        ch.place = at != nullptr ? at : p.new_definition;
        ch.backward = backward;
        ch.forward = forward;
        ch.old_hints.path = p.old_path;
        ch.new_hints.path = p.new_path;
        changes_.push_back(std::move(ch));
        return changes_.back();
    }

    // Old definition `i` and its counterpart, new definition `j`.
    void compare_definitions(std::uint32_t i, std::uint32_t j) {
        const element& a = *old_.definitions[i];
        const element& b = *new_.definitions[j];
        place p{&a, &b, std::string(a.name().view()), {}, {}, 0};
        if (moved_[i]) {
            add(p, &b, "definition " + old_.names[i] + " moved to " + new_.names[j], verdict::keeps,
                verdict::keeps);
        }
        if (!a.recursive && b.recursive) {
            add(p, &b, "recursion introduced", verdict::keeps, verdict::keeps);
        }
        if (has_body_kind(a) && has_body_kind(b) && a.kind == b.kind) {
            compare_bodies(a, b, p);
        } else {
            // A simple definition is its value: the value's path is itself.
            if (!has_body_kind(a)) p.old_path.push_back(&a);
            if (!has_body_kind(b)) p.new_path.push_back(&b);
            compare_values(a, b, p);
        }
    }

    // The values of two members (or two simple definitions) at `p`, whose
    // paths end in them.
    void compare_values(const element& a, const element& b, place& p) {
        const bool body_a = has_body_kind(a);
        const bool body_b = has_body_kind(b);
        if (a.kind != b.kind &&
            (body_a || body_b || form_kind_of(a.kind) != form_kind_of(b.kind))) {
            add(p, &b, "kind changed from " + kind_text(a) + " to " + kind_text(b),
                verdict::depends, verdict::depends);
            return;
        }
        if (!body_a) {
            compare_forms(a, b, p);
            return;
        }
        const std::uint32_t ta = old_.target_index(a);
        const std::uint32_t tb = new_.target_index(b);
        if (ta != version::none && tb != version::none) {
            if (counterpart_[ta] == tb) return;  // compared as itself
            add(p, &b,
                "reference retargeted from " + std::string(old_.definitions[ta]->name().view()) +
                    " to " + std::string(new_.definitions[tb]->name().view()),
                verdict::keeps, verdict::keeps);
        }
        compare_bodies(a, b, p);
    }

    // A set of values kept or not; in a combination the structure does
    // not tell.
    static verdict set_verdict(bool keeps, bool joined) {
        if (joined) return verdict::depends;
        return keeps ? verdict::keeps : verdict::loses;
    }

    void compare_forms(const element& a, const element& b, const place& p) {
        // The same declaration is the same form, without working it out.
        if (a.kind == b.kind && a.constrained == b.constrained && a.min == b.min &&
            a.max == b.max && a.min_negative == b.min_negative &&
            a.max_negative == b.max_negative &&
            (a.kind != ET_CONST || a.const_value().view() == b.const_value().view())) {
            return;
        }
        const value_form fa = simple_form(a);
        const value_form fb = simple_form(b);
        if (same_form(fa, fb)) {
            if (a.kind != b.kind) {
                add(p, &b,
                    "kind changed from " + kind_text(a) + " to " + kind_text(b) +
                        " (written alike)",
                    verdict::keeps, verdict::keeps);
            }
            return;
        }
        if (fa.kind == value_kind::integer) {
            const int_span sa = integers_of(fa);
            const int_span sb = integers_of(fb);
            if (sa.low == sb.low && sa.high == sb.high) {
                add(p, &b, "integer form changed", verdict::depends, verdict::depends);
                return;
            }
            const bool keeps_old = sb.holds(sa);
            const bool keeps_new = sa.holds(sb);
            const char* how = keeps_old ? "widened" : keeps_new ? "narrowed" : "changed";
            // In a combination the digits of the range decide where the
            // next value begins: the structure does not tell.
            const bool joined = p.depth > 0 && in_combination_;
            change& c =
                add(p, &b, std::string("range ") + how + " from " + sa.text() + " to " + sb.text(),
                    set_verdict(keeps_old, joined), set_verdict(keeps_new, joined));
            if (!keeps_old) c.old_hints.integer = outside(sa, sb);
            if (!keeps_new) c.new_hints.integer = outside(sb, sa);
            return;
        }
        if (fa.kind == value_kind::constant) {
            add(p, &b,
                "constant changed from \"" + std::string(fa.text) + "\" to \"" +
                    std::string(fb.text) + "\"",
                verdict::loses, verdict::loses);
            return;
        }
        if (row_of(fa.kind).bounds == bounds_kind::size && fa.any_lines == fb.any_lines) {
            const span sa{fa.min, fa.max};
            const span sb{fb.min, fb.max};
            const bool keeps_old = sb.holds(sa);
            const bool keeps_new = sa.holds(sb);
            const char* how = keeps_old ? "widened" : keeps_new ? "narrowed" : "changed";
            const bool joined = in_combination_;
            change& c =
                add(p, &b, std::string("size ") + how + " from " + sa.text() + " to " + sb.text(),
                    set_verdict(keeps_old, joined), set_verdict(keeps_new, joined));
            if (!keeps_old) c.old_hints.length = outside(sa, sb);
            if (!keeps_new) c.new_hints.length = outside(sb, sa);
            return;
        }
        add(p, &b, "form of the value changed", verdict::depends, verdict::depends);
    }

    void compare_bodies(const element& a, const element& b, place& p) {
        // A body is met again through a reference retargeted, or shared by
        // plug copies: each pair of bodies is compared once.
        if (p.depth > 0 && !compared_.insert({a.children(), b.children()}).second) return;
        if (p.depth > 200) {
            add(p, &b, "nested too deep to compare", verdict::depends, verdict::depends);
            return;
        }
        // Buffers of this depth, used again by every body at it.
        const auto level = static_cast<std::size_t>(p.depth);
        while (scratch_.size() <= level) scratch_.push_back(std::make_unique<body_scratch>());
        body_scratch& z = *scratch_[level];
        std::vector<const element*>& ma = z.ma;
        std::vector<const element*>& mb = z.mb;
        ma.clear();
        mb.clear();
        for (const element* m = a.children(); m != nullptr; m = m->next()) ma.push_back(m);
        for (const element* m = b.children(); m != nullptr; m = m->next()) mb.push_back(m);
        if (a.kind == ET_COMBINED) {
            compare_combinations(a, b, ma, mb, p);
            return;
        }
        // Members matched by name, then by tag.
        std::vector<std::ptrdiff_t>& match = z.match;
        std::vector<char>& taken = z.taken;
        match.assign(ma.size(), -1);
        taken.assign(mb.size(), 0);
        if (mb.size() <= 16) {
            // Few members: compared in place, without a table.
            for (std::size_t i = 0; i < ma.size(); ++i) {
                for (std::size_t j = 0; j < mb.size(); ++j) {
                    if (!taken[j] && mb[j]->name().view() == ma[i]->name().view()) {
                        match[i] = static_cast<std::ptrdiff_t>(j);
                        taken[j] = true;
                        break;
                    }
                }
            }
        } else {
            std::unordered_map<std::string_view, std::size_t> names;
            for (std::size_t j = mb.size(); j-- > 0;) names[mb[j]->name().view()] = j;
            for (std::size_t i = 0; i < ma.size(); ++i) {
                const auto f = names.find(ma[i]->name().view());
                if (f != names.end() && !taken[f->second]) {
                    match[i] = static_cast<std::ptrdiff_t>(f->second);
                    taken[f->second] = true;
                }
            }
        }
        std::vector<char>& by_tag = z.by_tag;
        by_tag.assign(ma.size(), 0);
        for (std::size_t i = 0; i < ma.size(); ++i) {
            if (match[i] >= 0 || !tagged_in(a, *ma[i])) continue;
            for (std::size_t j = 0; j < mb.size(); ++j) {
                if (!taken[j] && tagged_in(b, *mb[j]) &&
                    same_tag(ma[i]->tag().view(), mb[j]->tag().view())) {
                    match[i] = static_cast<std::ptrdiff_t>(j);
                    taken[j] = true;
                    by_tag[i] = true;
                    break;
                }
            }
        }
        const bool is_union = a.kind == ET_UNION;
        // The last matched member of each version: members after it stand
        // where the other version reads extension parameters.
        std::ptrdiff_t last_a = -1;
        std::ptrdiff_t last_b = -1;
        for (std::size_t i = 0; i < ma.size(); ++i) {
            if (match[i] >= 0) {
                last_a = static_cast<std::ptrdiff_t>(i);
                last_b = std::max(last_b, match[i]);
            }
        }
        // Order of the matched members.
        if (!is_union) {
            std::ptrdiff_t previous = -1;
            std::size_t previous_i = 0;
            for (std::size_t i = 0; i < ma.size(); ++i) {
                if (match[i] < 0) continue;
                if (match[i] < previous) {
                    place q = p;
                    q.old_path.push_back(ma[previous_i]);
                    q.old_path.push_back(ma[i]);
                    q.new_path.push_back(mb[static_cast<std::size_t>(previous)]);
                    q.new_path.push_back(mb[static_cast<std::size_t>(match[i])]);
                    add(q, mb[static_cast<std::size_t>(match[i])],
                        "members reordered: " + std::string(ma[i]->name().view()) +
                            " now stands before " + std::string(ma[previous_i]->name().view()),
                        verdict::depends, verdict::depends);
                    break;
                }
                previous = match[i];
                previous_i = i;
            }
        }
        for (std::size_t i = 0; i < ma.size(); ++i) {
            const element& x = *ma[i];
            if (match[i] < 0) {
                removed(a, b, x, static_cast<std::ptrdiff_t>(i) > last_a, mb, p);
                continue;
            }
            const element& y = *mb[static_cast<std::size_t>(match[i])];
            step down(p, &x, &y, y.name().view());
            place& q = p;
            way_.push_back({&a, &x, &b, &y});
            if (by_tag[i]) {
                add(q, &y,
                    "renamed from " + std::string(x.name().view()) + " to " +
                        std::string(y.name().view()) + " with the same tag",
                    verdict::keeps, verdict::keeps);
            }
            compare_member(a, b, x, y, q);
            way_.pop_back();
        }
        for (std::size_t j = 0; j < mb.size(); ++j) {
            if (!taken[j]) added(a, b, *mb[j], static_cast<std::ptrdiff_t>(j) > last_b, ma, p);
        }
    }

    // Whether another member of `owner` has the tag of `m`.
    static bool shares_tag(const element& owner, const element& m) {
        for (const element* o = owner.children(); o != nullptr; o = o->next()) {
            if (o != &m && tagged_in(owner, *o) && same_tag(o->tag().view(), m.tag().view())) {
                return true;
            }
        }
        return false;
    }

    // Whether a value of the member at hand may be read otherwise (here or
    // in a member it stands in): by another member, one of the same tag, or,
    // untagged, the next one's digits; or, where the member may be left out
    // with everything after it in a structure, as an extension parameter
    // after the members.
    bool loose_way() const {
        for (const auto& [a, x, b, y] : way_) {
            if (!tagged_in(*a, *x) || !tagged_in(*b, *y) || shares_tag(*a, *x) ||
                shares_tag(*b, *y) || may_end_with(*a, *x) || may_end_with(*b, *y)) {
                return true;
            }
        }
        return false;
    }

    // Whether structure `owner` may end before its member `m`.
    static bool may_end_with(const element& owner, const element& m) {
        if (owner.kind != ET_STRUCT) return false;
        for (const element* o = &m; o != nullptr; o = o->next()) {
            if (!occurrences_of(*o).optional()) return false;
        }
        return true;
    }

    // The member whose body holds the last member of `path`; null: the
    // definition.
    static const element* parent_of(const std::vector<const element*>& path) {
        return path.size() >= 2 ? path[path.size() - 2] : nullptr;
    }

    // A member of both versions: its tag, how often it stands, its value.
    void compare_member(const element& a, const element& b, const element& x, const element& y,
                        place& q) {
        const bool tx = tagged_in(a, x);
        const bool ty = tagged_in(b, y);
        if (tx != ty || (tx && !same_tag(x.tag().view(), y.tag().view()))) {
            const std::string from = tx ? quoted(x.tag().view()) : "none";
            const std::string to = ty ? quoted(y.tag().view()) : "none";
            change& c = add(q, &y, "tag changed from " + from + " to " + to, verdict::depends,
                            verdict::depends);
            // The version without the new tag may carry it as a parameter.
            if (ty) {
                c.old_hints.extension_tag = std::string(y.tag().view());
                c.old_hints.extension_in = parent_of(q.old_path);
            }
            if (tx) {
                c.new_hints.extension_tag = std::string(x.tag().view());
                c.new_hints.extension_in = parent_of(q.new_path);
            }
            // Its values stand under another tag now: the change of its
            // count or value is that change.
            return;
        }
        if (x.kind == y.kind && braced_in(a, x) != braced_in(b, y)) {
            add(q, &y, "value now in braces or no longer", verdict::depends, verdict::depends);
        }
        const span ca = occurrences_span(x);
        const span cb = occurrences_span(y);
        if (ca.low != cb.low || ca.high != cb.high) {
            const bool keeps_old = cb.holds(ca);
            const bool keeps_new = ca.holds(cb);
            const char* how = keeps_old ? "widened" : keeps_new ? "narrowed" : "changed";
            // A union's alternative stands once or not at all whatever its
            // count, and an untagged member's values may run into the
            // next member's: there the structure does not decide.
            // So does a member that never stands on one side: the other
            // side's values are read there as extension parameters.
            const verdict lost = a.kind == ET_UNION || !tx || !ty || ca.high == 0 || cb.high == 0
                                     ? verdict::depends
                                     : verdict::loses;
            change& c = add(q, &y,
                            std::string("cardinality ") + how + " from " + count_text(ca) + " to " +
                                count_text(cb),
                            keeps_old ? verdict::keeps : lost, keeps_new ? verdict::keeps : lost);
            if (!keeps_old) c.old_hints.count = std::min<std::uint64_t>(outside(ca, cb), ca.high);
            if (!keeps_new) c.new_hints.count = std::min<std::uint64_t>(outside(cb, ca), cb.high);
        }
        if (y.recursive && !x.recursive) {
            add(q, &y, "recursion introduced", verdict::keeps, verdict::keeps);
        }
        // A member that never stands on one side has no values to compare.
        if (ca.high == 0 || cb.high == 0) return;
        const bool was = in_combination_;
        in_combination_ = a.kind == ET_COMBINED;
        compare_values(x, y, q);
        in_combination_ = was;
    }

    void compare_combinations(const element& a, const element& b,
                              const std::vector<const element*>& ma,
                              const std::vector<const element*>& mb, place& p) {
        if (ma.size() != mb.size()) {
            add(p, &b,
                "combination of " + std::to_string(ma.size()) + " values now of " +
                    std::to_string(mb.size()),
                verdict::depends, verdict::depends);
            return;
        }
        for (std::size_t i = 0; i < ma.size(); ++i) {
            step down(p, ma[i], mb[i], mb[i]->name().view());
            compare_member(a, b, *ma[i], *mb[i], p);
        }
    }

    // Whether a member of `owner` would be read as an extension parameter
    // by the other version's body `other`, which lacks it: tagged, at the
    // end of a structure (`last`) or in a union, its values read as one,
    // and no member of `other` has its tag.
    static bool read_as_parameter(const element& owner, const element& m, bool last,
                                  const std::vector<const element*>& other,
                                  const element& other_owner) {
        if (!tagged_in(owner, m) || !is_extension_tag(m.tag().view())) return false;
        if (owner.kind == ET_STRUCT && !last) return false;
        // Untagged members are integers, which never begin with a tag.
        for (const element* o : other) {
            if (tagged_in(other_owner, *o) && same_tag(o->tag().view(), m.tag().view())) {
                return false;
            }
        }
        return reads_as_extension(m);
    }

    // A tagged member whose tag no extension parameter can have (bytes
    // above 0x7E, a digit first ...) and no other member has: no message of
    // the version without it holds its tag.
    static bool never_a_parameter(const element& owner, const element& m) {
        return tagged_in(owner, m) && !is_extension_tag(m.tag().view()) && !shares_tag(owner, m);
    }

    void removed(const element& a, const element& b, const element& x, bool last,
                 const std::vector<const element*>& mb, place& p) {
        if (occurrences_span(x).high == 0) return;  // it never stood
        const bool is_union = a.kind == ET_UNION;
        const element* new_parent = p.new_path.empty() ? nullptr : p.new_path.back();
        step down(p, &x, nullptr, x.name().view());
        place& q = p;
        const bool required = !is_union && occurrences_span(x).low > 0;
        const std::string what = is_union   ? "alternative "
                                 : required ? "required member "
                                            : "optional member ";
        change& c = add(q, &b, what + std::string(x.name().view()) + " removed",
                        read_as_parameter(a, x, last, mb, b) ? verdict::keeps : verdict::depends,
                        required                  ? verdict::loses
                        : never_a_parameter(a, x) ? verdict::keeps
                                                  : verdict::depends);
        if (!required && tagged_in(a, x)) {
            c.new_hints.extension_tag = std::string(x.tag().view());
            c.new_hints.extension_in = new_parent;
        }
    }

    void added(const element& a, const element& b, const element& y, bool last,
               const std::vector<const element*>& ma, place& p) {
        if (occurrences_span(y).high == 0) return;  // it never stands
        const bool is_union = a.kind == ET_UNION;
        const element* old_parent = p.old_path.empty() ? nullptr : p.old_path.back();
        step down(p, nullptr, &y, y.name().view());
        place& q = p;
        const bool required = !is_union && occurrences_span(y).low > 0;
        const std::string what = is_union   ? "alternative "
                                 : required ? "required member "
                                            : "optional member ";
        const std::string by = y.is_copy ? " by a plug" : "";
        change& c = add(q, &y, what + std::string(y.name().view()) + " added" + by,
                        required                  ? verdict::loses
                        : never_a_parameter(b, y) ? verdict::keeps
                                                  : verdict::depends,
                        read_as_parameter(b, y, last, ma, a) ? verdict::keeps : verdict::depends);
        if (!required && tagged_in(b, y)) {
            c.old_hints.extension_tag = std::string(y.tag().view());
            c.old_hints.extension_in = old_parent;
        }
    }

    version old_;
    version new_;
    // By the id of an old definition, or of a definition of either.
    static constexpr std::uint32_t none = version::none;
    // By the index of an old definition: the index of its counterpart in
    // the new version (or none), and whether it moved there.
    std::vector<std::uint32_t> counterpart_;
    std::vector<bool> moved_;
    std::vector<const element*> added_;
    std::unordered_set<std::pair<const void*, const void*>, pair_hash> compared_;
    std::vector<change> changes_;
    struct body_scratch {
        std::vector<const element*> ma;
        std::vector<const element*> mb;
        std::vector<std::ptrdiff_t> match;
        std::vector<char> taken;
        std::vector<char> by_tag;
    };
    std::vector<std::unique_ptr<body_scratch>> scratch_;
    bool in_combination_ = false;
    // The owners and members of both versions on the way to the member at
    // hand.
    std::vector<std::array<const element*, 4>> way_;
};

}  // namespace

std::vector<change> find_changes(const run_context& old_run, const run_context& new_run,
                                 const element* only) {
    comparer c(old_run, new_run);
    return c.run(only);
}

}  // namespace qrv::compat
