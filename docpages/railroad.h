// Railroad (syntax) diagrams of ABNF rules as inline SVG: the rules of a
// grammar text are read into expression trees, laid out left to right with
// the alternatives below one another, and drawn with the names of other
// rules as links.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace qrv {

struct rr_node {
    // rows: a sequence cut into rows (items: the rows), one under the other.
    enum class kind : std::uint8_t { sequence, choice, repeat, terminal, rule, empty, rows };
    kind what = kind::empty;
    std::string text;            // terminal: its ABNF text; rule: its name
    std::vector<rr_node> items;  // sequence, choice: the items; repeat: the one repeated
    std::uint32_t min = 1;       // repeat: how often, min to max or unbounded
    std::uint32_t max = 1;
    bool unbounded = false;
};

struct abnf_rule {
    std::string name;
    std::string definition;  // the text after "=", comments and line breaks removed
};

// The rules of a grammar text in order: a rule begins on a line that starts
// with a letter and goes on over the indented lines after it; ";" comments
// (outside quoted strings) are dropped.
std::vector<abnf_rule> read_abnf_rules(std::string_view grammar);

// The expression of a rule's definition. Text the reader does not know
// stands as a terminal, so that every definition gives a diagram.
rr_node parse_abnf(std::string_view definition);

// The size of a laid-out diagram in pixels.
struct rr_size {
    double width = 0;
    double up = 0;    // above the line through it
    double down = 0;  // below that line
};
rr_size measure(const rr_node& node);

// `node` with every sequence wider than `max_width` pixels, where it
// stands, cut into rows that are not.
rr_node fit(const rr_node& node, double max_width);

// The diagram of `node` as an <svg> element; `link` gives the href of a
// rule name, or "" for one that is not linked. It is fitted to
// `max_width` pixels first.
//
// With `shared`, every box of a linked rule and of a terminal is a <use>
// of a box that shared_box_defs() draws once for the page (`#~name`, the
// rule's name in small letters, or `#~N`, the terminal's number): a page
// of many diagrams holds far less markup.
struct rr_shared_boxes;
std::string railroad_svg(const rr_node& node,
                         const std::function<std::string(std::string_view)>& link,
                         double max_width = 760, rr_shared_boxes* shared = nullptr);

// The terminals the diagrams of a page used, numbered in order.
struct rr_shared_boxes {
    std::unordered_map<std::string, std::size_t> numbers;
    std::vector<std::string> terminals;
    std::size_t number_of(std::string_view terminal);
};

// The boxes for the diagrams drawn with `shared`: of the rules `rule_names`
// and of the terminals used, in an <svg> without size.
std::string shared_box_defs(const std::vector<std::string>& rule_names,
                            const rr_shared_boxes& shared);

}  // namespace qrv
