// The example writer. Two passes over the member chains the definition
// reaches, both from explicit stacks:
//
// 1. The shortest message of every chain (a size in values written): a
//    structure costs its required members' values, a union its cheapest
//    alternative, a combination one value. Structures are sums and unions
//    minima of their parts, so the costs settle in one pass in the order of
//    Dijkstra's algorithm (Knuth's generalisation to such functions); a
//    structure that contains itself through required members never settles
//    and has no finite message.
// 2. The message, written as it is chosen: members in order, each on a line
//    of its own, nested bodies indented. Near the top the seed decides
//    whether an optional member stands, how often a member repeats, which
//    alternative a union takes; below a few levels, or once a few hundred
//    members are written, every choice takes the shortest message, so the
//    example ends however recursive the schema is.
//
// The values are written so that a reader that takes the longest value and
// the first tag that matches reads them as they were meant: white space
// between members, integers of a combination at their full width,
// embedded texts without ")" and without blanks at their ends.
#include "example/example.h"

#include <algorithm>
#include <array>
#include <queue>
#include <utility>
#include <vector>

#include "abnf/encoding.h"

namespace qrv {

namespace {

constexpr std::uint64_t infinite = UINT64_MAX;
// The extension parameter a union may always stand for ('' as its value):
// taken only when no alternative has a message of reasonable size.
constexpr std::uint64_t extension_cost = std::uint64_t{1} << 40;

// Choices stay the seed's for this many levels and members.
constexpr std::uint32_t free_depth = 4;
constexpr std::uint64_t free_members = 200;
// Deeper lines are indented like this level, so the output stays linear.
constexpr std::uint32_t max_indent = 32;

std::uint64_t add_capped(std::uint64_t a, std::uint64_t b) {
    return a > infinite - b ? infinite : a + b;
}
std::uint64_t mul_capped(std::uint64_t a, std::uint64_t b) {
    if (a == 0 || b == 0) return 0;
    return a > infinite / b ? infinite : a * b;
}

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

bool has_members(const element& e) { return has_body_kind(e) && e.children() != nullptr; }

// A chain is known by its first element.
const element* chain_of(const element& m) { return m.children(); }

// ---- shortest messages ---------------------------------------------------

class shortest_messages {
public:
    explicit shortest_messages(const element& definition) {
        if (has_members(definition)) discover(definition);
        settle();
    }

    // The size of the shortest value of one occurrence of `m`.
    std::uint64_t value_cost(const element& m) const {
        if (!has_body_kind(m)) return 1;
        if (m.children() == nullptr) return m.kind == ET_UNION ? 2 : 1;
        const std::int32_t* id = marks_.find(chain_of(m));
        return id == nullptr ? infinite : nodes_[static_cast<std::size_t>(*id)].cost;
    }

private:
    struct node {
        const element* owner;  // the first element met that holds the chain
        std::uint64_t cost = infinite;
        std::uint64_t sum = 1;      // structure: the settled parts so far
        std::uint32_t pending = 0;  // structure: required body members not settled
        bool settled = false;
    };
    struct use {
        std::uint32_t child;
        std::uint32_t parent;
        std::uint64_t times;
        bool operator<(const use& o) const { return child < o.child; }
    };
    using entry = std::pair<std::uint64_t, std::uint32_t>;

    std::uint32_t node_of(const element& m, std::vector<std::uint32_t>& stack) {
        if (const std::int32_t* id = marks_.find(m.children()))
            return static_cast<std::uint32_t>(*id);
        const auto id = static_cast<std::uint32_t>(nodes_.size());
        marks_.insert(chain_of(m), static_cast<std::int32_t>(id));
        nodes_.push_back({&m});
        stack.push_back(id);
        return id;
    }

    // Every chain the definition reaches, and how each structure and union
    // depends on the chains of its members.
    void discover(const element& definition) {
        std::vector<std::uint32_t> stack;
        node_of(definition, stack);
        while (!stack.empty()) {
            const std::uint32_t at = stack.back();
            stack.pop_back();
            const element_kind kind = nodes_[at].owner->kind;
            std::uint64_t cheapest = 1 + extension_cost;  // union: its simple alternatives
            for (const element* m = nodes_[at].owner->children(); m != nullptr; m = m->next()) {
                const occurrences o = occurrences_of(*m);
                if (o.never() || kind == ET_COMBINED) continue;
                const std::uint64_t times =
                    kind == ET_UNION ? std::max<std::uint64_t>(o.min, 1) : o.min;
                // Optional bodies too have their chains' costs: the writer
                // asks for them before it lets such a member stand.
                const std::uint32_t child = has_members(*m) ? node_of(*m, stack) : 0;
                if (times == 0) continue;
                if (has_members(*m)) {
                    uses_.push_back({child, at, times});
                    if (kind == ET_STRUCT) ++nodes_[at].pending;
                } else if (kind == ET_STRUCT) {
                    nodes_[at].sum = add_capped(nodes_[at].sum, mul_capped(times, value_cost(*m)));
                } else {
                    cheapest = std::min(cheapest, add_capped(1, mul_capped(times, value_cost(*m))));
                }
            }
            if (kind == ET_UNION) nodes_[at].cost = cheapest;
            if (kind == ET_COMBINED) nodes_[at].cost = 1;
        }
    }

    void settle() {
        std::sort(uses_.begin(), uses_.end());
        std::vector<std::size_t> first(nodes_.size() + 1, 0);
        for (const use& u : uses_) ++first[u.child + 1];
        for (std::size_t i = 0; i < nodes_.size(); ++i) first[i + 1] += first[i];

        std::priority_queue<entry, std::vector<entry>, std::greater<>> queue;
        for (std::uint32_t i = 0; i < nodes_.size(); ++i) {
            node& n = nodes_[i];
            if (n.owner->kind == ET_STRUCT && n.pending == 0) n.cost = n.sum;
            if (n.cost != infinite) queue.emplace(n.cost, i);
        }
        while (!queue.empty()) {
            const auto [cost, at] = queue.top();
            queue.pop();
            if (nodes_[at].settled || cost != nodes_[at].cost) continue;
            nodes_[at].settled = true;
            for (std::size_t k = first[at]; k < first[at + 1]; ++k) {
                node& p = nodes_[uses_[k].parent];
                if (p.settled) continue;
                const std::uint64_t part = mul_capped(uses_[k].times, cost);
                if (p.owner->kind == ET_STRUCT) {
                    p.sum = add_capped(p.sum, part);
                    if (--p.pending == 0) {
                        p.cost = p.sum;
                        queue.emplace(p.cost, uses_[k].parent);
                    }
                } else if (add_capped(1, part) < p.cost) {
                    p.cost = add_capped(1, part);
                    queue.emplace(p.cost, uses_[k].parent);
                }
            }
        }
    }

    chain_marks marks_;
    std::vector<node> nodes_;
    std::vector<use> uses_;
};

// ---- output ----------------------------------------------------------------

// Text goes to a string, or through a buffer to a file.
class text_out {
public:
    explicit text_out(std::string& s) : text_(s) {}
    explicit text_out(std::FILE* f) : text_(buffer_), file_(f) {}
    ~text_out() { flush(); }
    text_out(const text_out&) = delete;
    text_out& operator=(const text_out&) = delete;

    void put(std::string_view s) {
        text_.append(s);
        if (file_ != nullptr && text_.size() >= (1u << 16)) flush();
    }
    void put(char c) { put(std::string_view(&c, 1)); }
    void flush() {
        if (file_ == nullptr || text_.empty()) return;
        std::fwrite(text_.data(), 1, text_.size(), file_);
        text_.clear();
    }

private:
    std::string buffer_;
    std::string& text_;
    std::FILE* file_ = nullptr;
};

// ---- values ----------------------------------------------------------------

constexpr std::string_view alphanumeric =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr std::array<std::string_view, 6> wide_characters = {
    "\xC3\xA9", "\xC3\xBC", "\xC3\x9F", "\xE2\x82\xAC", "\xE6\x97\xA5", "\xF0\x9F\x99\x82"};

class value_writer {
public:
    value_writer(splitmix64& random, text_out& out) : random_(random), out_(out) {}

    // One value of a simple kind; in a combination, integers stand at the
    // full width of their range, so adjacent integers split as written.
    void write(const element& e, bool in_combination) {
        const value_form f = simple_form(e);
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

private:
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
        const std::uint64_t low = std::min(f.min, f.max);
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

class example_writer {
public:
    example_writer(const element& definition, std::uint64_t seed, text_out& out)
        : definition_(definition),
          costs_(definition),
          random_(seed),
          out_(out),
          values_(random_, out) {}

    bool write() {
        if (costs_.value_cost(definition_) == infinite) return false;
        if (definition_.kind == ET_STRUCT) {
            if (definition_.children() != nullptr) {
                stack_.push_back({&definition_, definition_.children(), 0, 0, true, false});
            }
        } else if (!open_value(definition_, 0, false, false, true)) {
            out_.put('\n');
        }
        run();
        return true;
    }

private:
    struct frame {
        const element* body;     // the structure or union written
        const element* member;   // structure: the member at hand; union: the alternative
        std::uint64_t left;      // occurrences of the member still to write
        std::uint32_t depth;     // indentation of the body's member lines
        bool root;               // the message itself: no braces
        bool minimal;            // every choice takes the shortest message
        bool started = false;    // the member's occurrences are being written
        bool first = true;       // no occurrence of the member written yet
        bool wrote_any = false;  // structure: a member line was written
        bool braced = false;     // union: the alternative stands in braces
        bool in_list = false;    // the member stands more than once
    };

    void put(std::string_view s) { out_.put(s); }

    void new_line(std::uint32_t depth) {
        put("\n");
        for (std::uint32_t k = std::min(depth, max_indent); k > 0; --k) put("    ");
    }

    bool minimal(const frame& f) const { return f.minimal || written_ >= free_members; }

    // How often a member of a structure stands.
    std::uint64_t count_of(const element& m, bool shortest) {
        const occurrences o = occurrences_of(m);
        if (o.never()) return 0;
        if (o.optional() && (shortest || costs_.value_cost(m) == infinite || random_.chance(35))) {
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

    // The alternative a union takes, or null for an extension parameter.
    // Among the occurrences of a list, an alternative that repeats is
    // taken only when every alternative does: its own list would run on
    // into the outer one.
    const element* alternative(const element& u, bool shortest, bool in_list) {
        std::vector<const element*> usable;
        std::vector<const element*> single;
        const element* cheapest = nullptr;
        std::uint64_t least = extension_cost;
        for (const element* m = u.children(); m != nullptr; m = m->next()) {
            const occurrences o = occurrences_of(*m);
            const std::uint64_t cost = costs_.value_cost(*m);
            if (o.never() || cost == infinite || (!tagged_in(u, *m) && m->kind == ET_NULL)) {
                continue;
            }
            usable.push_back(m);
            if (!o.repeats()) single.push_back(m);
            const std::uint64_t total = mul_capped(std::max<std::uint32_t>(o.min, 1), cost);
            if (total < least) {
                least = total;
                cheapest = m;
            }
        }
        if (shortest || usable.empty()) return cheapest;
        const std::vector<const element*>& from = in_list && !single.empty() ? single : usable;
        return from[random_.below(from.size())];
    }

    // Writes one value of `m`. A structure or union value opens a frame and
    // returns true; its text ends when the frame is closed.
    bool open_value(const element& m, std::uint32_t depth, bool shortest, bool in_list = false,
                    bool root = false) {
        if (!has_body_kind(m)) {
            values_.write(m, false);
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
        const element* a = alternative(m, shortest || written_ >= free_members, in_list);
        if (a == nullptr) {
            // An extension parameter; in a list, where its own list of
            // values would run on into the outer one, the empty value when
            // an alternative that may stand no time allows it.
            if (!in_list || !may_be_empty(m)) put("''");
            return false;
        }
        const occurrences o = occurrences_of(*a);
        // A list of the alternative's own inside a list takes all it can,
        // so that no reader takes the next occurrence for one of its own.
        const std::uint64_t count =
            in_list && o.repeats() && !o.unbounded ? o.max : repeat_count(o, shortest);
        frame f{&m, a, count, depth, root, shortest};
        f.in_list = count > 1;
        f.braced = braced_in(m, *a);
        if (tagged_in(m, *a)) {
            put(a->tag().view());
            if (a->kind == ET_NULL) {
                for (std::uint64_t k = 1; k < f.left; ++k) put(",");
                return false;
            }
            put(" = ");
        }
        if (f.braced) put("{ ");
        f.started = true;
        stack_.push_back(f);
        return true;
    }

    static bool may_be_empty(const element& u) {
        for (const element* m = u.children(); m != nullptr; m = m->next()) {
            if (occurrences_of(*m).optional()) return true;
        }
        return false;
    }

    // A combination's values one after the other, with nothing between.
    void combination(const element& c, bool shortest) {
        for (const element* m = c.children(); m != nullptr; m = m->next()) {
            if (has_body_kind(*m)) continue;  // no form: the strict checks report it
            const std::uint64_t count = count_of(*m, shortest);
            for (std::uint64_t k = 0; k < count; ++k) {
                if (k > 0) put(",");
                values_.write(*m, true);
            }
        }
    }

    // The occurrences of the member at hand; true when a value opened a
    // frame above (the frame at `at` is then not to be used).
    bool occurrences_of_member(std::size_t at) {
        while (stack_[at].left > 0) {
            frame& f = stack_[at];
            --f.left;
            if (!f.first) put(", ");
            f.first = false;
            if (open_value(*f.member, f.depth, minimal(f), f.in_list)) return true;
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
        while (!stack_.empty()) {
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
                    for (std::uint64_t k = 1; k < count; ++k) put(",");
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
    shortest_messages costs_;
    splitmix64 random_;
    text_out& out_;
    value_writer values_;
    std::vector<frame> stack_;
    std::uint64_t written_ = 0;  // member lines written
};

bool write_to(const element& definition, std::uint64_t seed, text_out& out) {
    example_writer writer(definition, seed, out);
    return writer.write();
}

}  // namespace

bool write_example(const element& definition, std::uint64_t seed, std::FILE* out) {
    // A definition without a finite message writes nothing at all.
    {
        shortest_messages costs(definition);
        if (costs.value_cost(definition) == infinite) return false;
    }
    text_out text(out);
    return write_to(definition, seed, text);
}

bool write_example(const element& definition, std::uint64_t seed, std::string& out) {
    text_out text(out);
    return write_to(definition, seed, text);
}

}  // namespace qrv
