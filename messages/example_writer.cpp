// The example writer. Two passes over the member chains the definition
// reaches, both from explicit stacks:
//
// 1. The shortest value of every body, in bytes as the writer lays it out
//    (example_maker::sizes): a structure is the sum of its required
//    members' lines, a union its smallest alternative, a combination its
//    required values. Structures are sums and unions minima of their parts,
//    so the sizes settle in one pass in the order of Dijkstra's algorithm
//    (Knuth's generalisation to such functions); a structure that contains
//    itself through required members never settles and has no finite
//    message. A union whose every alternative is larger than the size limit
//    stands for an extension parameter. Indentation grows with the depth up
//    to a limit, so a size is kept as bytes, line breaks and the levels its
//    lines go down: exact for a value that stands as deep as that limit or
//    deeper, a lower and an upper bound for one nearer the top. The size of
//    the shortest message itself is then added up exactly from the root
//    down to that depth.
// 2. The message, written as it is chosen: members in order, each on a line
//    of its own, nested bodies indented. Near the top the seed decides
//    whether an optional member stands, how often a member repeats, which
//    alternative a union takes and every value; below a few levels, or
//    once a few hundred members are written, every choice takes the
//    shortest value. Each choice the seed makes beyond the shortest message
//    is paid for from a budget of bytes, at the most it may add; a choice
//    the budget cannot pay for takes the shortest value, and values then
//    their shortest form. So the example holds at most the shortest
//    message and the budget, however recursive or repetitive the schema.
//
// The values are written so that a reader that takes the longest value and
// the first tag that matches reads them as they were meant: white space
// between members, integers of a combination at their full width,
// embedded texts without ")" and without blanks at their ends. The
// shortest form of a value is one of the forms the seed may give it.
#include "messages/example_writer.h"

#include <algorithm>
#include <array>
#include <queue>
#include <utility>
#include <vector>

#include "encoding/encoding.h"

namespace qrv {

namespace {

// Sizes stop growing here, far beyond any limit; a sum of two never
// overflows.
constexpr std::uint64_t saturated = std::uint64_t{1} << 62;
// No finite message.
constexpr std::uint64_t none = UINT64_MAX;
// The bytes around the values of a use are kept in 32 bits, which hold far
// more than any limit.
constexpr std::uint64_t saturated_use = UINT32_MAX;

// Choices stay the seed's for this many levels (of structures, or of unions
// directly in unions) and members.
constexpr std::uint32_t free_depth = 4;
constexpr std::uint64_t free_members = 200;
// Deeper lines are indented like this level, so the output stays linear.
constexpr std::uint32_t max_indent = 32;

std::uint64_t add(std::uint64_t a, std::uint64_t b) {
    return std::min(std::min(a, saturated) + std::min(b, saturated), saturated);
}
std::uint64_t mul(std::uint64_t a, std::uint64_t b) {
    if (a == 0 || b == 0) return 0;
    return a > saturated / b ? saturated : std::min(a * b, saturated);
}
std::uint64_t less(std::uint64_t a, std::uint64_t b) { return a > b ? a - b : 0; }

// A line break and the indentation of a line at `level`.
std::uint64_t line_bytes(std::uint64_t level) {
    return 1 + 4 * std::min<std::uint64_t>(level, max_indent);
}

// The shortest value of a body as written: its bytes besides line breaks
// and indentation, its line breaks (each followed by the indentation of its
// line), and how many levels below its own its lines go down.
struct least_size {
    std::uint64_t content = 0;
    std::uint64_t lines = 0;
    std::uint32_t height = 0;

    bool finite() const { return content != none; }
    // The bytes it takes standing at `depth` (its lines lie from that level
    // to `height` levels below): at least and at most; both are exact from
    // max_indent on, where indentation no longer grows.
    std::uint64_t at_least(std::uint64_t depth) const {
        return add(content, mul(lines, line_bytes(depth)));
    }
    std::uint64_t at_most(std::uint64_t depth) const {
        return add(content, mul(lines, line_bytes(depth + height)));
    }
    std::uint64_t deep() const { return at_least(max_indent); }
};
constexpr least_size no_size{none, 0, 0};

least_size flat(std::uint64_t bytes) { return {bytes, 0, 0}; }

// `count` values, `separator` bytes between two.
least_size repeated(const least_size& v, std::uint64_t count, std::uint64_t separator) {
    if (count == 0) return {};
    return {add(mul(v.content, count), mul(separator, count - 1)), mul(v.lines, count), v.height};
}

void append(least_size& to, const least_size& part) {
    to.content = add(to.content, part.content);
    to.lines = add(to.lines, part.lines);
    to.height = std::max(to.height, part.height);
}

bool has_members(const element& e) { return has_body_kind(e) && e.children() != nullptr; }

// ---- the shortest form of a simple value ------------------------------------

std::uint64_t decimal_length(std::uint64_t v) {
    std::uint64_t n = 1;
    for (; v >= 10; v /= 10) ++n;
    return n;
}

std::uint64_t magnitude(std::int64_t v) {
    return v < 0 ? static_cast<std::uint64_t>(-(v + 1)) + 1 : static_cast<std::uint64_t>(v);
}

// The integer of fewest characters in the range: 0 where it may be.
std::int64_t least_integer(const value_form& f) {
    if (!f.ranged) return 0;
    const std::int64_t low = std::min(f.low, f.high);
    const std::int64_t high = std::max(f.low, f.high);
    if (low > 0) return low;
    if (high < 0) return high;
    return 0;
}

// The fewest characters (bytes of data for Base64) a text may hold.
// The least length a value of `f` is written with. An unquoted text is never
// written empty where it may hold a character: an empty one could not be
// told from the white space around it (the reader would take the next word
// for the text).
std::uint64_t least_length(const value_form& f) {
    const std::uint64_t least = std::min(f.min, f.max);
    return f.kind == value_kind::unquoted && least == 0 && f.max > 0 ? 1 : least;
}

std::uint64_t base64_length(std::uint64_t bytes) { return mul((bytes + 2) / 3, 4); }

// The bytes of the shortest form of a value of a simple kind.
std::uint64_t least_bytes(const value_form& f, bool in_combination) {
    switch (f.kind) {
        case value_kind::none:
        case value_kind::empty: return 0;
        case value_kind::boolean: return 4;  // True
        case value_kind::integer: {
            const std::int64_t v = least_integer(f);
            const std::uint64_t width = in_combination ? f.digits : 0;
            return (v < 0 ? 1 : 0) + std::max(decimal_length(magnitude(v)), width);
        }
        case value_kind::floating: return 1;
        case value_kind::oid: return 3;
        case value_kind::ascii:
        case value_kind::unicode:
        case value_kind::embedded: return add(least_length(f), 2);
        case value_kind::unquoted: return least_length(f);
        case value_kind::bytes: return add(base64_length(least_length(f)), f.any_lines ? 3 : 2);
        case value_kind::constant: return f.text.size();
        case value_kind::ipv4: return 7;
        case value_kind::ipv6: return 2;
        case value_kind::date: return 10;
        case value_kind::time: return 8;
    }
    return 0;
}

// The most bytes a value the seed chooses may take (value_writer::write).
std::uint64_t most_bytes(const value_form& f) {
    const std::uint64_t low = least_length(f);
    switch (f.kind) {
        case value_kind::none:
        case value_kind::empty: return 0;
        case value_kind::boolean: return 5;
        case value_kind::integer: return 1 + std::max<std::uint64_t>(f.digits, 5);
        case value_kind::floating: return 12;
        case value_kind::oid: return 23;
        case value_kind::ascii: return add(mul(add(low, 16), 2), 2);
        case value_kind::unicode: return add(mul(add(low, 16), 4), 2);
        case value_kind::unquoted: return add(low, 12);
        case value_kind::embedded: return add(low, 18);
        case value_kind::bytes: return add(base64_length(add(low, 9)), 3);
        case value_kind::constant: return f.text.size();
        case value_kind::ipv4: return 15;
        case value_kind::ipv6: return 39;
        case value_kind::date: return 10;
        case value_kind::time: return 8;
    }
    return 0;
}

// ---- how members stand -------------------------------------------------------

// How often `m` stands in the shortest value of `owner`; 0 where it does not
// stand. In a list of values, a union's alternative that repeats a bounded
// number of times takes all it can, so that no reader takes the next value
// of the list for one of its own.
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

// In a list, an extension parameter standing for a union is the empty value
// when an alternative that may stand no time allows it.
bool may_be_empty(const element* alternatives) {
    for (const element* m = alternatives; m != nullptr; m = m->next()) {
        if (occurrences_of(*m).optional()) return true;
    }
    return false;
}

std::uint64_t extension_bytes(const element* alternatives, bool in_list) {
    return in_list && may_be_empty(alternatives) ? 0 : 2;  // '' or nothing
}

}  // namespace

// ---- the shortest values of every body -----------------------------------------

class example_maker::sizes {
public:
    explicit sizes(const element& definition) {
        if (has_members(definition)) discover(definition);
        settle();
    }

    // The shortest value of one occurrence of `m` (a member, or a
    // definition), standing alone or among others of a list; no_size when it
    // has no finite message.
    least_size value(const element& m, bool in_list) const {
        if (!has_members(m)) return flat(plain_least(m));
        const node* n = node_for(m, in_list);
        return n == nullptr || !n->settled ? no_size : n->size;
    }

    // The alternative the shortest value of union `u` takes; null for an
    // extension parameter.
    const element* choice(const element& u, bool in_list) const {
        if (!has_members(u)) return nullptr;
        const node* n = node_for(u, in_list);
        return n == nullptr ? nullptr : n->choice;
    }

    // The bytes of the shortest message of `definition` (which has one),
    // written as the root: exact, or above example_size_limit. From
    // max_indent on, where indentation no longer grows, the settled sizes
    // are exact; nearer the top every body is added up where it stands.
    // Repeated values are added up once and multiplied, and the sum stops
    // once it passes the limit, so this takes no more steps than the limit
    // has bytes.
    std::uint64_t message_size(const element& definition) const {
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

private:
    // The node of a chain keeps what the passes ask of its owner, so that
    // they do not read the owner (which lies anywhere) again.
    struct node {
        const element* chain;
        element_kind kind;
        bool list;        // union: its value stands among others of a list
        least_size size;  // structure: the settled parts so far; union: the best so far
        const element* choice = nullptr;  // union: the alternative of `size`
        std::uint32_t pending = 0;        // structure: required body members not settled
        std::uint32_t lines = 0;          // structure: member lines of its shortest value
        bool ready = false;               // `size` holds a value (a union: a candidate)
        bool settled = false;
    };
    // A body member in the shortest value of a structure or union: `times`
    // values of chain `child` and `around` bytes of tag, braces and
    // separators (member_part).
    struct use {
        std::uint32_t child;
        std::uint32_t parent;
        const element* member;
        std::uint32_t times;
        std::uint32_t around;
    };
    struct item {
        const element* value;
        std::uint64_t times;
        std::uint32_t depth;
        bool in_list;
    };

    // A union's chain has two nodes: its value alone, and in a list.
    const node* node_for(const element& m, bool in_list) const {
        const std::int32_t* id = marks_.find(m.children());
        if (id == nullptr) return nullptr;
        const auto at = static_cast<std::size_t>(*id);
        return &nodes_[nodes_[at].kind == ET_UNION && in_list ? at + 1 : at];
    }

    // The lines of the members of structure `s` written `times` over, at
    // `level`; their values, at the same depth, go on the stack. Returns how
    // many lines one copy has.
    template <typename Bytes>
    static std::uint64_t members(const element& s, std::uint64_t times, std::uint32_t level,
                                 bool root, std::vector<item>& stack, const Bytes& bytes) {
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
    static void value_of(const element& m, std::uint64_t times, std::uint32_t depth, bool in_list,
                         std::vector<item>& stack, const Bytes& bytes) {
        if (has_members(m)) {
            stack.push_back({&m, times, depth, in_list});
        } else {
            bytes(times, plain_least(m));
        }
    }

    std::uint32_t node_of(const element& m, std::vector<std::uint32_t>& stack) {
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

    // A candidate for a union's shortest value; true when it is the best.
    static bool offer(node& u, const element* alternative, const least_size& size) {
        if (u.ready && size.deep() >= u.size.deep()) return false;
        u.size = size;
        u.choice = alternative;
        u.ready = true;
        return true;
    }

    // A structure whose parts are all settled: its braces and the line of
    // its closing brace.
    static void finish(node& s) {
        s.size.content = add(s.size.content, 2);
        if (s.lines > 0) {
            s.size.lines = add(s.size.lines, 1);
            s.size.height = std::min(s.size.height + 1, max_indent);
        }
        s.ready = true;
    }

    // Every chain the definition reaches, and how each structure and union
    // depends on the chains of its members.
    void discover(const element& definition) {
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
                const std::uint64_t count = least_count(kind, *m, in_list);
                if (count == 0) continue;
                if (kind == ET_STRUCT) ++nodes_[at].lines;
                if (has_members(*m)) {
                    const bool list = m->kind == ET_UNION && count > 1;
                    const std::uint64_t around = member_part(kind, *m, count, {}).content;
                    uses_.push_back({child + (list ? 1u : 0u), at, m,
                                     static_cast<std::uint32_t>(count),
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

    void settle() {
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

    chain_marks marks_;
    std::vector<node> nodes_;
    std::vector<use> uses_;
};

namespace {

// splitmix64: small, fast and the same on every platform.
class splitmix64 {
public:
    explicit splitmix64(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        state_ += 0x9E3779B97F4A7C15u;
        std::uint64_t z = state_;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
        return z ^ (z >> 31);
    }
    // 0 to n - 1 (n > 0); the slight bias of the remainder does not matter.
    std::uint64_t below(std::uint64_t n) { return next() % n; }
    bool chance(unsigned percent) { return below(100) < percent; }

private:
    std::uint64_t state_;
};

// ---- output ----------------------------------------------------------------

// Text goes to a string, or through a buffer to a file. The first write the
// file refuses ends the output: nothing more is written, and failed() says
// so.
class text_out {
public:
    explicit text_out(std::string& s) : text_(s) {}
    explicit text_out(std::FILE* f) : text_(buffer_), file_(f) {}
    text_out(const text_out&) = delete;
    text_out& operator=(const text_out&) = delete;

    void put(std::string_view s) {
        if (failed_) return;
        text_.append(s);
        size_ += s.size();
        if (file_ != nullptr && text_.size() >= (1u << 16)) flush();
    }
    void put(char c) { put(std::string_view(&c, 1)); }
    // `count` times the character `c`.
    void put(char c, std::uint64_t count) {
        std::array<char, 256> chunk;
        chunk.fill(c);
        while (count > 0 && !failed_) {
            const std::size_t n = std::min<std::uint64_t>(count, chunk.size());
            put(std::string_view(chunk.data(), n));
            count -= n;
        }
    }
    // Hands the buffer to the file; false once a write failed.
    bool flush() {
        if (file_ == nullptr || failed_) return !failed_;
        if (!text_.empty() && (std::fwrite(text_.data(), 1, text_.size(), file_) != text_.size() ||
                               std::ferror(file_) != 0)) {
            failed_ = true;
        }
        text_.clear();
        return !failed_;
    }
    bool failed() const { return failed_; }
    // Bytes written so far.
    std::uint64_t size() const { return size_; }

private:
    std::string buffer_;
    std::string& text_;
    std::FILE* file_ = nullptr;
    std::uint64_t size_ = 0;
    bool failed_ = false;
};

// ---- values ----------------------------------------------------------------

constexpr std::string_view alphanumeric =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr std::array<std::string_view, 6> wide_characters = {
    "\xC3\xA9", "\xC3\xBC", "\xC3\x9F", "\xE2\x82\xAC", "\xE6\x97\xA5", "\xF0\x9F\x99\x82"};

class value_writer {
public:
    value_writer(splitmix64& random, text_out& out) : random_(random), out_(out) {}

    // One value of a simple kind as the seed chooses it (at most
    // most_bytes(f)); in a combination, integers stand at the full width of
    // their range, so adjacent integers split as written.
    void write(const value_form& f, bool in_combination) {
        switch (f.kind) {
            case value_kind::none:
            case value_kind::empty: break;
            case value_kind::boolean: out_.put(random_.chance(50) ? "True" : "False"); break;
            case value_kind::integer: integer(f, in_combination); break;
            case value_kind::floating: floating(); break;
            case value_kind::oid: oid(); break;
            case value_kind::ascii: quoted(f, '\'', "\\'", false); break;
            case value_kind::unquoted: unquoted(f); break;
            case value_kind::unicode: quoted(f, '"', "\\\"", true); break;
            case value_kind::bytes: bytes(f); break;
            case value_kind::constant: out_.put(f.text); break;
            case value_kind::ipv4: ipv4(); break;
            case value_kind::ipv6: ipv6(); break;
            case value_kind::date: date(); break;
            case value_kind::time: time(); break;
            case value_kind::embedded: embedded(f); break;
        }
    }

    // The shortest form (least_bytes(f) bytes), chosen by no seed.
    void least(const value_form& f, bool in_combination) {
        const std::uint64_t n = least_length(f);
        switch (f.kind) {
            case value_kind::none:
            case value_kind::empty: break;
            case value_kind::boolean: out_.put("True"); break;
            case value_kind::integer: {
                const std::int64_t v = least_integer(f);
                if (v < 0) out_.put('-');
                number(magnitude(v), in_combination ? f.digits : 0);
                break;
            }
            case value_kind::floating: out_.put('0'); break;
            case value_kind::oid: out_.put("0~0"); break;
            case value_kind::ascii: text('\'', n, '\''); break;
            case value_kind::unquoted: out_.put('a', n); break;
            case value_kind::unicode: text('"', n, '"'); break;
            case value_kind::bytes:
                // Zero bytes: whole groups, then the padded last one.
                out_.put(f.any_lines ? "[^" : "[");
                out_.put('A', n / 3 * 4);
                if (n % 3 == 1) out_.put("AA==");
                if (n % 3 == 2) out_.put("AAA=");
                out_.put(']');
                break;
            case value_kind::constant: out_.put(f.text); break;
            case value_kind::ipv4: out_.put("0.0.0.0"); break;
            case value_kind::ipv6: out_.put("::"); break;
            case value_kind::date: out_.put("2000-01-01"); break;
            case value_kind::time: out_.put("00:00:00"); break;
            case value_kind::embedded: text('(', n, ')'); break;
        }
    }

private:
    void text(char open, std::uint64_t length, char close) {
        out_.put(open);
        out_.put('a', length);
        out_.put(close);
    }

    void number(std::uint64_t v, std::uint32_t width = 0) {
        const std::string digits = std::to_string(v);
        for (std::size_t n = digits.size(); n < width; ++n) out_.put('0');
        out_.put(digits);
    }

    void integer(const value_form& f, bool in_combination) {
        if (!f.ranged) {
            number(random_.below(100000));
            return;
        }
        const std::int64_t low = std::min(f.low, f.high);
        const std::int64_t high = std::max(f.low, f.high);
        // The bounds themselves now and then: they are where readers slip.
        std::int64_t v = low;
        const std::uint64_t roll = random_.below(10);
        if (roll == 1) {
            v = high;
        } else if (roll > 1) {
            const auto span = static_cast<std::uint64_t>(high - low);
            v = low + static_cast<std::int64_t>(random_.below(span + 1));
        }
        if (v < 0) out_.put('-');
        const std::uint64_t magnitude =
            v < 0 ? static_cast<std::uint64_t>(-v) : static_cast<std::uint64_t>(v);
        number(magnitude, in_combination ? f.digits : 0);
    }

    void floating() {
        if (random_.chance(30)) {
            out_.put('-');
        } else if (random_.chance(10)) {
            out_.put('+');
        }
        number(random_.below(1000));
        if (random_.chance(70)) {
            out_.put('.');
            number(random_.below(1000));
        }
        if (random_.chance(25)) {
            out_.put(random_.chance(50) ? 'e' : 'E');
            if (random_.chance(50)) out_.put('-');
            number(random_.below(20));
        }
    }

    // At least two arcs; the first 0 to 2, the second below 40 under 0 and 1.
    void oid() {
        const std::uint64_t first = random_.below(3);
        number(first);
        out_.put('~');
        number(random_.below(first < 2 ? 40 : 1000));
        for (std::uint64_t n = random_.below(4); n > 0; --n) {
            out_.put('~');
            number(random_.below(100000));
        }
    }

    // A count within the size: a little above the least, rarely far.
    std::uint64_t length(const value_form& f, std::uint64_t spread) {
        const std::uint64_t low = least_length(f);
        const std::uint64_t high = f.max == no_limit ? low + spread : std::min(f.max, low + spread);
        return low + random_.below(std::max(high, low) - low + 1);
    }

    // A quoted text: now and then an escape (of the quote or of "\\"), a
    // wide character (UTF-8 texts only) or a blank, otherwise a letter or
    // digit. `escaped` is the quote's escape.
    void quoted(const value_form& f, char quote, std::string_view escaped, bool wide) {
        const std::uint64_t wide_below = wide ? 8 : 2;
        const std::uint64_t blank_below = wide ? 12 : 6;
        out_.put(quote);
        for (std::uint64_t n = length(f, 16); n > 0; --n) {
            const std::uint64_t roll = random_.below(40);
            if (roll == 0) {
                out_.put(escaped);
            } else if (roll == 1) {
                out_.put("\\\\");
            } else if (roll < wide_below) {
                out_.put(wide_characters[random_.below(wide_characters.size())]);
            } else if (roll < blank_below) {
                out_.put(' ');
            } else {
                out_.put(alphanumeric[random_.below(alphanumeric.size())]);
            }
        }
        out_.put(quote);
    }

    void unquoted(const value_form& f) {
        for (std::uint64_t n = length(f, 12); n > 0; --n) {
            out_.put(alphanumeric[random_.below(alphanumeric.size())]);
        }
    }

    void embedded(const value_form& f) {
        out_.put('(');
        const std::uint64_t count = length(f, 16);
        for (std::uint64_t n = 0; n < count; ++n) {
            // Blanks only inside: at the ends they would be white space.
            if (n > 0 && n + 1 < count && random_.chance(12)) {
                out_.put(' ');
            } else {
                out_.put(alphanumeric[random_.below(alphanumeric.size())]);
            }
        }
        out_.put(')');
    }

    // Base64 of random bytes; the groups run on without a break, so the
    // lines of 19 groups fall where the reader counts them, and only the
    // last group is padded.
    void bytes(const value_form& f) {
        static constexpr char digits[] =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        out_.put(f.any_lines ? "[^" : "[");
        // Few bytes beyond the least: Base64 groups split into lines in
        // many ways, and a recogniser that follows every way slows down.
        std::uint64_t left = length(f, 9);
        while (left > 0) {
            const std::uint64_t take = std::min<std::uint64_t>(left, 3);
            std::uint32_t group = 0;
            for (std::uint64_t k = 0; k < 3; ++k) {
                group =
                    (group << 8) | (k < take ? static_cast<std::uint32_t>(random_.below(256)) : 0);
            }
            char text[4];
            for (int k = 0; k < 4; ++k) text[k] = digits[(group >> (18 - 6 * k)) & 0x3F];
            if (take < 3) text[3] = '=';
            if (take < 2) text[2] = '=';
            out_.put(std::string_view(text, 4));
            left -= take;
        }
        out_.put(']');
    }

    void ipv4() {
        for (int k = 0; k < 4; ++k) {
            if (k > 0) out_.put('.');
            number(random_.below(256));
        }
    }

    void hex_group() {
        static constexpr char digits[] = "0123456789abcdef";
        std::uint64_t v = random_.chance(30) ? random_.below(16) : random_.below(0x10000);
        char text[4];
        int n = 0;
        do {
            text[n++] = digits[v & 0xF];
            v >>= 4;
        } while (v != 0);
        while (n > 0) out_.put(text[--n]);
    }

    // Eight groups, or at most seven around one "::".
    void ipv6() {
        if (random_.chance(40)) {
            for (int k = 0; k < 8; ++k) {
                if (k > 0) out_.put(':');
                hex_group();
            }
            return;
        }
        const std::uint64_t groups = random_.below(8);
        const std::uint64_t before = random_.below(groups + 1);
        for (std::uint64_t k = 0; k < before; ++k) {
            if (k > 0) out_.put(':');
            hex_group();
        }
        out_.put("::");
        for (std::uint64_t k = before; k < groups; ++k) {
            if (k > before) out_.put(':');
            hex_group();
        }
    }

    void two_digits(std::uint64_t v) { number(v, 2); }

    // A day that exists, leap days included.
    void date() {
        static constexpr std::array<std::uint64_t, 12> days = {31, 28, 31, 30, 31, 30,
                                                               31, 31, 30, 31, 30, 31};
        const std::uint64_t year = 1900 + random_.below(200);
        const std::uint64_t month = 1 + random_.below(12);
        const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
        const std::uint64_t in_month = days[month - 1] + (month == 2 && leap ? 1 : 0);
        number(year, 4);
        out_.put('-');
        two_digits(month);
        out_.put('-');
        two_digits(1 + random_.below(in_month));
    }

    void time() {
        two_digits(random_.below(24));
        out_.put(':');
        two_digits(random_.below(60));
        out_.put(':');
        two_digits(random_.below(60));
    }

    splitmix64& random_;
    text_out& out_;
};

// ---- the message -------------------------------------------------------------

class message_writer {
public:
    // `extra`: the bytes the seed's choices may add to the shortest message;
    // 0 writes the shortest message itself.
    message_writer(const element& definition, const example_maker::sizes& sizes, std::uint64_t seed,
                   std::uint64_t extra, text_out& out)
        : definition_(definition),
          sizes_(sizes),
          random_(seed),
          out_(out),
          values_(random_, out),
          spare_(extra),
          least_only_(extra == 0) {}

    void write() {
        if (definition_.kind == ET_STRUCT) {
            if (definition_.children() != nullptr) {
                stack_.push_back({&definition_, definition_.children(), 0, 0, true, least_only_});
            }
        } else if (!open_value(definition_, 0, least_only_, false, true)) {
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
    };

    void put(std::string_view s) { out_.put(s); }

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
    void value(const element& e, bool in_combination) {
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
    std::uint64_t count_of(const element& m, bool shortest) {
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
    const element* alternative(const element& u, bool shortest, bool in_list) {
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
    bool open_value(const element& m, std::uint32_t depth, bool shortest, bool in_list = false,
                    bool root = false, std::uint32_t unions = 0) {
        if (!has_body_kind(m)) {
            value(m, false);
            return false;
        }
        if (m.children() == nullptr) {
            if (m.kind == ET_STRUCT) put("{}");
            if (m.kind == ET_UNION) put("''");
            return false;
        }
        if (m.kind == ET_COMBINED) {
            combination(m, shortest);
            return false;
        }
        if (m.kind == ET_STRUCT) {
            put("{");
            stack_.push_back(
                {&m, m.children(), 0, depth + 1, false, shortest || depth + 1 >= free_depth});
            return true;
        }
        // A union standing in as many unions as structures may nest freely
        // takes its shortest value: recursion through unions ends too.
        const bool least = shortest || unions >= free_depth;
        const element* a = alternative(m, least || written_ >= free_members, in_list);
        std::uint64_t count = 0;
        if (a != nullptr) {
            const occurrences o = occurrences_of(*a);
            // A list of the alternative's own inside a list takes all it
            // can, so that no reader takes the next occurrence for one of
            // its own.
            count = in_list && o.repeats() && !o.unbounded ? o.max : repeat_count(o, least);
        }
        fit_alternative(m, depth, in_list, a, count);
        if (a == nullptr) {
            // An extension parameter; in a list, where its own list of
            // values would run on into the outer one, the empty value when
            // an alternative that may stand no time allows it.
            if (extension_bytes(m.children(), in_list) > 0) put("''");
            return false;
        }
        frame f{&m, a, count, depth, root, least};
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
    void combination(const element& c, bool shortest) {
        for (const element* m = c.children(); m != nullptr; m = m->next()) {
            if (has_body_kind(*m)) continue;  // no form: the strict checks report it
            std::uint64_t count = count_of(*m, shortest);
            const std::uint64_t low = least_count(ET_COMBINED, *m, false);
            if (count > low) {
                const std::uint64_t each = add(least_bytes(simple_form(*m), true), 1);
                if (!take(mul(count - low, each))) count = low;
            }
            for (std::uint64_t k = 0; k < count; ++k) {
                if (k > 0) put(",");
                value(*m, true);
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
            if (open_value(*f.member, f.depth, minimal(f), f.in_list, false, unions)) return true;
        }
        return false;
    }

    void close(const frame& f) {
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
                count = usable ? count_of(*f.member, minimal(f)) : 0;
                if (count > 0) count = fitted(f, *f.member, count);
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
};

}  // namespace

example_maker::example_maker(const element& definition)
    : definition_(definition), sizes_(std::make_unique<sizes>(definition)) {
    if (!sizes_->value(definition, false).finite()) {
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

bool write_example(const element& definition, std::uint64_t seed, std::string& out) {
    const example_maker maker(definition);
    return maker.write(seed, out) == example_status::ready;
}

}  // namespace qrv
