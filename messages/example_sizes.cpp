// The shortest values of the bodies an example's definition reaches (the
// first pass of the example writer, see messages/example_sizes.h).
#include "messages/example_sizes.h"

#include <algorithm>
#include <queue>
#include <utility>

#include "encoding/finite_messages.h"

namespace qrv {

namespace examples {

std::uint64_t least_count(element_kind owner, const element& m, bool in_list) {
    const occurrences o = occurrences_of(m);
    if (o.never()) return 0;
    if (m.kind == ET_NULL && owner != ET_COMBINED && !tagged_in(owner, m)) return 0;
    if (owner == ET_UNION) {
        return in_list && o.repeats() && !o.unbounded ? o.max : std::max<std::uint32_t>(o.min, 1);
    }
    return o.min;
}

// `count` values `v` of `m` with what stands around them in `owner`: the
// tag and " = " (a void's tag and a comma for each further occurrence), the
// braces of a constrained union alternative, ", " between two values.
least_size member_part(element_kind owner, const element& m, std::uint64_t count,
                       const least_size& v) {
    least_size part;
    if (tagged_in(owner, m)) {
        part.content = m.tag().view().size();
        if (m.kind == ET_NULL) {
            part.content = add(part.content, count - 1);
            return part;
        }
        part.content += 3;
    }
    if (braced_in(owner, m)) part.content += 4;
    append(part, repeated(v, count, 2));
    return part;
}

// A member without a body chain of its own: a simple value, or a body
// without members ("{}", "''", or nothing for a combination).
std::uint64_t plain_least(const element& m) {
    if (!has_body_kind(m)) return least_bytes(simple_form(m), false);
    return m.kind == ET_COMBINED ? 0 : 2;
}

namespace {

// A combination's required values, with nothing between them.
std::uint64_t combination_least(const element* members) {
    std::uint64_t bytes = 0;
    for (const element* m = members; m != nullptr; m = m->next()) {
        if (has_body_kind(*m)) continue;  // no form: the strict checks report it
        const std::uint64_t count = least_count(ET_COMBINED, *m, false);
        if (count == 0) continue;
        bytes = add(bytes, add(mul(count, least_bytes(simple_form(*m), true)), count - 1));
    }
    return bytes;
}

bool may_be_empty(const element* alternatives) {
    for (const element* m = alternatives; m != nullptr; m = m->next()) {
        if (occurrences_of(*m).optional()) return true;
    }
    return false;
}

}  // namespace

std::uint64_t extension_bytes(const element* alternatives, bool in_list) {
    return in_list && may_be_empty(alternatives) ? 0 : 2;  // '' or nothing
}

}  // namespace examples

using namespace examples;

example_maker::sizes::sizes(const element& definition) {
    if (has_members(definition)) discover(definition);
    finite_ = find_finite_messages(nodes_.size(), std::move(required_)).finite;
    settle();
}

example_maker::sizes::sizes(const std::vector<const element*>& definitions) {
    // A chain found before is not walked again (node_of).
    for (const element* d : definitions) {
        if (has_members(*d)) discover(*d);
    }
    finite_ = find_finite_messages(nodes_.size(), std::move(required_)).finite;
    settle();
}

std::uint64_t example_maker::sizes::message_size(const element& definition) const {
    std::vector<item> stack;
    std::uint64_t total = 0;
    const auto bytes = [&total](std::uint64_t times, std::uint64_t n) {
        total = add(total, mul(times, n));
    };
    if (definition.kind == ET_STRUCT) {
        // The root's lines: a line break each (between two, and at the
        // end), no indentation; its values stand at depth 0.
        members(definition, 1, 0, true, stack, bytes);
    } else {
        bytes(1, 1);
        if (has_members(definition)) {
            stack.push_back({&definition, 1, 0, false});
        } else {
            bytes(1, plain_least(definition));
        }
    }
    std::uint64_t steps = 0;
    while (!stack.empty()) {
        if (total > example_size_limit || ++steps > example_size_limit) return saturated;
        const item at = stack.back();
        stack.pop_back();
        const element& v = *at.value;
        const node& n = *node_for(v, at.in_list);
        if (at.depth >= max_indent) {
            bytes(at.times, n.size.deep());
        } else if (v.kind == ET_STRUCT) {
            bytes(at.times, 2);
            if (members(v, at.times, at.depth + 1, false, stack, bytes) > 0) {
                bytes(at.times, line_bytes(at.depth));
            }
        } else if (v.kind == ET_UNION && n.choice != nullptr) {
            const element& a = *n.choice;
            const std::uint64_t count = least_count(ET_UNION, a, at.in_list);
            bytes(at.times, member_part(ET_UNION, a, count, {}).content);
            value_of(a, mul(at.times, count), at.depth, count > 1, stack, bytes);
        } else {
            bytes(at.times, n.size.content);  // an extension parameter, a combination
        }
    }
    return total > example_size_limit ? saturated : total;
}

template <typename Bytes>
std::uint64_t example_maker::sizes::members(const element& s, std::uint64_t times,
                                            std::uint32_t level, bool root,
                                            std::vector<item>& stack, const Bytes& bytes) {
    std::uint64_t lines = 0;
    for (const element* m = s.children(); m != nullptr; m = m->next()) {
        const std::uint64_t count = least_count(ET_STRUCT, *m, false);
        if (count == 0) continue;
        ++lines;
        bytes(times,
              add(root ? 1 : line_bytes(level), member_part(ET_STRUCT, *m, count, {}).content));
        if (m->kind != ET_NULL) value_of(*m, mul(times, count), level, count > 1, stack, bytes);
    }
    return lines;
}

template <typename Bytes>
void example_maker::sizes::value_of(const element& m, std::uint64_t times, std::uint32_t depth,
                                    bool in_list, std::vector<item>& stack, const Bytes& bytes) {
    if (has_members(m)) {
        stack.push_back({&m, times, depth, in_list});
    } else {
        bytes(times, plain_least(m));
    }
}

std::uint32_t example_maker::sizes::node_of(const element& m, std::vector<std::uint32_t>& stack) {
    if (const std::int32_t* id = marks_.find(m.children())) {
        return static_cast<std::uint32_t>(*id);
    }
    const auto id = static_cast<std::uint32_t>(nodes_.size());
    marks_.insert(m.children(), static_cast<std::int32_t>(id));
    const bool union_kind = m.kind == ET_UNION;
    nodes_.push_back({m.children(), m.kind, false, union_kind ? no_size : least_size{}});
    stack.push_back(id);
    if (union_kind) {
        nodes_.push_back({m.children(), m.kind, true, no_size});
        stack.push_back(id + 1);
    }
    return id;
}

bool example_maker::sizes::offer(node& u, const element* alternative, const least_size& size) {
    if (u.ready && size.deep() >= u.size.deep()) return false;
    u.size = size;
    u.choice = alternative;
    u.ready = true;
    return true;
}

void example_maker::sizes::finish(node& s) {
    s.size.content = add(s.size.content, 2);
    if (s.lines > 0) {
        s.size.lines = add(s.size.lines, 1);
        s.size.height = std::min(s.size.height + 1, max_indent);
    }
    s.ready = true;
}

void example_maker::sizes::discover(const element& definition) {
    std::vector<std::uint32_t> stack;
    node_of(definition, stack);
    while (!stack.empty()) {
        const std::uint32_t at = stack.back();
        stack.pop_back();
        const element_kind kind = nodes_[at].kind;
        const element* chain = nodes_[at].chain;
        if (kind == ET_COMBINED) {
            nodes_[at].size = flat(combination_least(chain));
            nodes_[at].ready = true;
            continue;
        }
        const bool in_list = nodes_[at].list;
        for (const element* m = chain; m != nullptr; m = m->next()) {
            // Optional bodies too have their sizes: the writer asks for
            // them before it lets such a member stand.
            const std::uint32_t child = has_members(*m) ? node_of(*m, stack) : 0;
            if (in_every_value(kind, *m)) required_.emplace_back(at, child);
            const std::uint64_t count = least_count(kind, *m, in_list);
            if (count == 0) continue;
            if (kind == ET_STRUCT) ++nodes_[at].lines;
            if (has_members(*m)) {
                const bool list = m->kind == ET_UNION && count > 1;
                const std::uint64_t around = member_part(kind, *m, count, {}).content;
                uses_.push_back({child + (list ? 1u : 0u), at, m, static_cast<std::uint32_t>(count),
                                 static_cast<std::uint32_t>(std::min(around, saturated_use))});
                if (kind == ET_STRUCT) ++nodes_[at].pending;
                continue;
            }
            least_size part = member_part(kind, *m, count, flat(plain_least(*m)));
            if (kind == ET_STRUCT) {
                part.lines = add(part.lines, 1);
                append(nodes_[at].size, part);
            } else {
                offer(nodes_[at], m, part);
            }
        }
    }
}

void example_maker::sizes::settle() {
    // The uses of each chain together, in the order they were found (a
    // stable order, so that ties go the same way everywhere).
    std::vector<std::size_t> first(nodes_.size() + 1, 0);
    for (const use& u : uses_) ++first[u.child + 1];
    for (std::size_t i = 0; i < nodes_.size(); ++i) first[i + 1] += first[i];
    {
        std::vector<use> by_child(uses_.size());
        std::vector<std::size_t> next(first.begin(), first.end() - 1);
        for (const use& u : uses_) by_child[next[u.child]++] = u;
        uses_.swap(by_child);
    }

    using entry = std::pair<std::uint64_t, std::uint32_t>;
    std::priority_queue<entry, std::vector<entry>, std::greater<>> queue;
    for (std::uint32_t i = 0; i < nodes_.size(); ++i) {
        node& n = nodes_[i];
        if (n.kind == ET_STRUCT && n.pending == 0) finish(n);
        if (n.ready) queue.emplace(n.size.deep(), i);
    }
    bool extended = false;
    for (;;) {
        // A union whose alternatives are all larger than the limit (or
        // that has none with a finite message) stands for an extension
        // parameter; the sizes that depend on it settle after it.
        if (!extended && (queue.empty() || queue.top().first > example_size_limit)) {
            extended = true;
            for (std::uint32_t i = 0; i < nodes_.size(); ++i) {
                node& n = nodes_[i];
                if (n.kind != ET_UNION || n.settled) continue;
                n.size = flat(extension_bytes(n.chain, n.list));
                n.choice = nullptr;
                n.ready = true;
                queue.emplace(n.size.deep(), i);
            }
        }
        if (queue.empty()) break;
        const auto [key, at] = queue.top();
        queue.pop();
        if (nodes_[at].settled || key != nodes_[at].size.deep()) continue;
        nodes_[at].settled = true;
        const least_size child = nodes_[at].size;
        for (std::size_t k = first[at]; k < first[at + 1]; ++k) {
            const use& u = uses_[k];
            node& p = nodes_[u.parent];
            if (p.settled) continue;
            // `around` holds the separators too.
            least_size part = repeated(child, u.times, 0);
            part.content = add(part.content, u.around);
            if (p.kind == ET_STRUCT) {
                part.lines = add(part.lines, 1);
                append(p.size, part);
                if (--p.pending == 0) {
                    finish(p);
                    queue.emplace(p.size.deep(), u.parent);
                }
            } else if (offer(p, u.member, part)) {
                queue.emplace(p.size.deep(), u.parent);
            }
        }
    }
}

least_size example_maker::sizes::value(const element& m, bool in_list) const {
    if (!has_members(m)) return flat(plain_least(m));
    const node* n = node_for(m, in_list);
    return n == nullptr || !n->settled ? no_size : n->size;
}

bool example_maker::sizes::has_finite_message(const element& definition) const {
    if (!has_members(definition)) return true;
    const std::int32_t* id = marks_.find(definition.children());
    return id == nullptr || finite_[static_cast<std::size_t>(*id)];
}

const element* example_maker::sizes::choice(const element& u, bool in_list) const {
    if (!has_members(u)) return nullptr;
    const node* n = node_for(u, in_list);
    return n == nullptr ? nullptr : n->choice;
}

const example_maker::sizes::node* example_maker::sizes::node_for(const element& m,
                                                                 bool in_list) const {
    const std::int32_t* id = marks_.find(m.children());
    if (id == nullptr) return nullptr;
    const auto at = static_cast<std::size_t>(*id);
    return &nodes_[nodes_[at].kind == ET_UNION && in_list ? at + 1 : at];
}

}  // namespace qrv
