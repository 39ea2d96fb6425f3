// The first pass of the example writer: the shortest value of every body
// the definition reaches, in bytes as the writer lays it out, and the size
// of the shortest message. Structures are sums and unions minima of their
// parts, so the sizes settle in one pass in the order of Dijkstra's
// algorithm (Knuth's generalisation to such functions). Whether a
// structure has a finite message at all is the encoding's answer
// (encoding/finite_messages.h), the one the strict checks give. A union
// whose every alternative is larger than the size limit stands for an
// extension parameter. Indentation grows with the depth up to a limit, so a
// size is kept as bytes, line breaks and the levels its lines go down: exact
// for a value that stands as deep as that limit or deeper, a lower and an
// upper bound for one nearer the top. The size of the shortest message
// itself is then added up exactly from the root down to that depth.
#pragma once

#include <cstdint>
#include <vector>

#include "encoding/encoding.h"
#include "encoding/finite_messages.h"
#include "messages/example_values.h"
#include "messages/example_writer.h"
#include "model/walk_tables.h"

namespace qrv::examples {

// No finite message.
inline constexpr std::uint64_t none = UINT64_MAX;
// The bytes around the values of a use are kept in 32 bits, which hold far
// more than any limit.
inline constexpr std::uint64_t saturated_use = UINT32_MAX;

// Choices stay the seed's for this many levels (of structures, or of unions
// directly in unions) and members.
inline constexpr std::uint32_t free_depth = 4;
inline constexpr std::uint64_t free_members = 200;
// Deeper lines are indented like this level, so the output stays linear.
inline constexpr std::uint32_t max_indent = 32;

// A line break and the indentation of a line at `level`.
inline std::uint64_t line_bytes(std::uint64_t level) {
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
inline constexpr least_size no_size{none, 0, 0};

inline least_size flat(std::uint64_t bytes) { return {bytes, 0, 0}; }

// `count` values, `separator` bytes between two.
inline least_size repeated(const least_size& v, std::uint64_t count, std::uint64_t separator) {
    if (count == 0) return {};
    return {add(mul(v.content, count), mul(separator, count - 1)), mul(v.lines, count), v.height};
}

inline void append(least_size& to, const least_size& part) {
    to.content = add(to.content, part.content);
    to.lines = add(to.lines, part.lines);
    to.height = std::max(to.height, part.height);
}

inline bool has_members(const element& e) { return has_body_kind(e) && e.children() != nullptr; }

// ---- how members stand -------------------------------------------------------

// How often `m` stands in the shortest value of `owner`; 0 where it does not
// stand. In a list of values, a union's alternative that repeats a bounded
// number of times takes all it can, so that no reader takes the next value
// of the list for one of its own.
std::uint64_t least_count(element_kind owner, const element& m, bool in_list);

// `count` values `v` of `m` with what stands around them in `owner`: the
// tag and " = " (a void's tag and a comma for each further occurrence), the
// braces of a constrained union alternative, ", " between two values.
least_size member_part(element_kind owner, const element& m, std::uint64_t count,
                       const least_size& v);

// A member without a body chain of its own: a simple value, or a body
// without members ("{}", "''", or nothing for a combination).
std::uint64_t plain_least(const element& m);

// In a list, an extension parameter standing for a union is the empty value
// when an alternative that may stand no time allows it: 0 bytes, else 2.
std::uint64_t extension_bytes(const element* alternatives, bool in_list);

}  // namespace qrv::examples

namespace qrv {

class example_maker::sizes {
public:
    using least_size = examples::least_size;

    explicit sizes(const element& definition);
    // Of every body any of `definitions` reaches.
    explicit sizes(const std::vector<const element*>& definitions);

    // The shortest value of one occurrence of `m` (a member, or a
    // definition), standing alone or among others of a list; no_size when it
    // has no finite message.
    least_size value(const element& m, bool in_list) const;

    // Whether `definition` has a finite message: the answer of the
    // encoding (find_finite_messages), the one the strict checks report.
    bool has_finite_message(const element& definition) const;

    // The alternative the shortest value of union `u` takes; null for an
    // extension parameter.
    const element* choice(const element& u, bool in_list) const;

    // The bytes of the shortest message of `definition` (which has one),
    // written as the root: exact, or above example_size_limit. From
    // max_indent on, where indentation no longer grows, the settled sizes
    // are exact; nearer the top every body is added up where it stands.
    // Repeated values are added up once and multiplied, and the sum stops
    // once it passes the limit, so this takes no more steps than the limit
    // has bytes.
    std::uint64_t message_size(const element& definition) const;

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
    const node* node_for(const element& m, bool in_list) const;

    // The lines of the members of structure `s` written `times` over, at
    // `level`; their values, at the same depth, go on the stack. Returns how
    // many lines one copy has.
    template <typename Bytes>
    static std::uint64_t members(const element& s, std::uint64_t times, std::uint32_t level,
                                 bool root, std::vector<item>& stack, const Bytes& bytes);

    template <typename Bytes>
    static void value_of(const element& m, std::uint64_t times, std::uint32_t depth, bool in_list,
                         std::vector<item>& stack, const Bytes& bytes);

    std::uint32_t node_of(const element& m, std::vector<std::uint32_t>& stack);

    // A candidate for a union's shortest value; true when it is the best.
    static bool offer(node& u, const element* alternative, const least_size& size);

    // A structure whose parts are all settled: its braces and the line of
    // its closing brace.
    static void finish(node& s);

    // Every chain the definition reaches, and how each structure and union
    // depends on the chains of its members.
    void discover(const element& definition);

    void settle();

    chain_marks marks_;
    // The finite-message graph of the nodes (encoding/finite_messages.h),
    // and its answer.
    chain_graph::edge_list required_;
    std::vector<bool> finite_;
    std::vector<node> nodes_;
    std::vector<use> uses_;
};

}  // namespace qrv
