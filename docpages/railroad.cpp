#include "docpages/railroad.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace qrv {

namespace {

bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_rule_char(char c) { return is_letter(c) || is_digit(c) || c == '-'; }
bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// A line without its comment: ";" outside a quoted string or prose.
std::string_view without_comment(std::string_view line) {
    char quote = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quote != 0) {
            if (c == quote) quote = 0;
        } else if (c == '"') {
            quote = '"';
        } else if (c == '<') {
            quote = '>';
        } else if (c == ';') {
            return line.substr(0, i);
        }
    }
    return line;
}

class abnf_parser {
public:
    explicit abnf_parser(std::string_view s) : s_(s) {}

    rr_node alternation() {
        rr_node choice;
        choice.what = rr_node::kind::choice;
        choice.items.push_back(concatenation());
        for (;;) {
            skip_space();
            if (at_end() || s_[pos_] != '/') break;
            ++pos_;
            choice.items.push_back(concatenation());
        }
        return choice.items.size() == 1 ? std::move(choice.items[0]) : choice;
    }

    bool at_end() const { return pos_ >= s_.size(); }
    // The rest, which the rules above did not read (a stray closing mark).
    std::string_view rest() const { return s_.substr(std::min(pos_, s_.size())); }
    void skip_one() { ++pos_; }

private:
    void skip_space() {
        while (!at_end() && is_space(s_[pos_])) ++pos_;
    }

    rr_node concatenation() {
        rr_node seq;
        seq.what = rr_node::kind::sequence;
        for (;;) {
            skip_space();
            if (at_end() || s_[pos_] == '/' || s_[pos_] == ')' || s_[pos_] == ']') break;
            seq.items.push_back(repetition());
        }
        if (seq.items.size() == 1) return std::move(seq.items[0]);
        if (seq.items.empty()) seq.what = rr_node::kind::empty;
        return seq;
    }

    bool number(std::uint32_t* value) {
        if (at_end() || !is_digit(s_[pos_])) return false;
        std::uint64_t v = 0;
        while (!at_end() && is_digit(s_[pos_])) {
            v = std::min<std::uint64_t>(v * 10 + static_cast<unsigned>(s_[pos_] - '0'), UINT32_MAX);
            ++pos_;
        }
        *value = static_cast<std::uint32_t>(v);
        return true;
    }

    // [n] ["*" [m]] element: n alone is exactly n, "*" without n from 0,
    // without m without end.
    rr_node repetition() {
        std::uint32_t low = 0;
        std::uint32_t high = 0;
        bool unbounded = false;
        const bool has_low = number(&low);
        bool counted = has_low;
        if (!at_end() && s_[pos_] == '*') {
            ++pos_;
            counted = true;
            if (!has_low) low = 0;
            unbounded = !number(&high);
        } else {
            high = low;
        }
        rr_node item = element();
        if (!counted || (low == 1 && high == 1 && !unbounded)) return item;
        rr_node rep;
        rep.what = rr_node::kind::repeat;
        rep.min = low;
        rep.max = unbounded ? 0 : high;
        rep.unbounded = unbounded;
        rep.items.push_back(std::move(item));
        return rep;
    }

    rr_node group(char close) {
        ++pos_;
        rr_node inner = alternation();
        skip_space();
        if (!at_end() && s_[pos_] == close) ++pos_;
        return inner;
    }

    rr_node terminal(std::size_t from) {
        rr_node t;
        t.what = rr_node::kind::terminal;
        t.text = std::string(s_.substr(from, pos_ - from));
        return t;
    }

    rr_node element() {
        skip_space();
        const std::size_t from = pos_;
        if (at_end()) return terminal(from);
        const char c = s_[pos_];
        if (c == '(') return group(')');
        if (c == '[') {
            rr_node opt;
            opt.what = rr_node::kind::repeat;
            opt.min = 0;
            opt.max = 1;
            opt.items.push_back(group(']'));
            return opt;
        }
        if (is_letter(c)) {
            while (!at_end() && is_rule_char(s_[pos_])) ++pos_;
            rr_node r;
            r.what = rr_node::kind::rule;
            r.text = std::string(s_.substr(from, pos_ - from));
            return r;
        }
        if (c == '"' || c == '<') {
            const char close = c == '"' ? '"' : '>';
            const std::size_t end = s_.find(close, pos_ + 1);
            pos_ = end == std::string_view::npos ? s_.size() : end + 1;
            return terminal(from);
        }
        if (c == '%') {
            ++pos_;
            if (!at_end() && (s_[pos_] == 's' || s_[pos_] == 'i')) {
                ++pos_;
                if (!at_end() && s_[pos_] == '"') {
                    const std::size_t end = s_.find('"', pos_ + 1);
                    pos_ = end == std::string_view::npos ? s_.size() : end + 1;
                }
                return terminal(from);
            }
            while (!at_end() && (is_rule_char(s_[pos_]) || s_[pos_] == '.')) ++pos_;
            return terminal(from);
        }
        // Anything else stands for itself, up to the next space.
        while (!at_end() && !is_space(s_[pos_]) && s_[pos_] != ')' && s_[pos_] != ']') ++pos_;
        if (pos_ == from) ++pos_;
        return terminal(from);
    }

    std::string_view s_;
    std::size_t pos_ = 0;
};

// ---- layout ------------------------------------------------------------

constexpr double char_width = 7.2;  // of the 12px monospace font
constexpr double box_half = 11;     // half a box's height
constexpr double box_pad = 10;      // text to box edge
constexpr double item_gap = 10;     // line between items of a sequence
constexpr double rail = 20;         // room for the curves at each side of a choice or loop
constexpr double branch_gap = 8;    // between alternatives, and to a loop
constexpr double label_height = 14;
constexpr double row_gap = 16;  // between the rows of a cut sequence

double text_width(std::string_view s) {
    // Characters, not bytes: UTF-8 continuation bytes take no room.
    std::size_t n = 0;
    for (char c : s) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return static_cast<double>(n) * char_width;
}

// Rule names compare without regard to case: a shared box goes by the
// name in small letters.
std::string lower_name(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

// An even number of pixels, so that every coordinate is a whole one.
double box_width(std::string_view text) {
    return 2 * std::ceil((text_width(text) + 2 * box_pad) / 2);
}

std::string repeat_label(const rr_node& r) {
    if (r.min <= 1 && (r.unbounded || r.max <= 1)) return {};
    if (r.unbounded) return std::to_string(r.min) + " or more";
    if (r.min == r.max) return std::to_string(r.min) + " times";
    return std::to_string(r.min) + " to " + std::to_string(r.max) + " times";
}

bool loops(const rr_node& r) { return r.unbounded || r.max > 1; }

// Items one below the other, `gap` apart, each reaching at least `least_up`
// above its line: the first one's line is the whole's.
rr_size stacked(const std::vector<rr_node>& items, double gap, double least_up) {
    rr_size s{0, 0, 0};
    for (std::size_t k = 0; k < items.size(); ++k) {
        const rr_size m = measure(items[k]);
        s.width = std::max(s.width, m.width);
        if (k == 0) {
            s.up = m.up;
            s.down = m.down;
        } else {
            s.down += gap + std::max(m.up, least_up) + m.down;
        }
    }
    return s;
}

}  // namespace

rr_size measure(const rr_node& n) {
    switch (n.what) {
        case rr_node::kind::terminal:
        case rr_node::kind::rule: return {box_width(n.text), box_half, box_half};
        case rr_node::kind::empty: return {0, 0, 0};
        case rr_node::kind::sequence: {
            rr_size s{item_gap, 0, 0};
            for (const rr_node& i : n.items) {
                const rr_size m = measure(i);
                s.width += m.width + item_gap;
                s.up = std::max(s.up, m.up);
                s.down = std::max(s.down, m.down);
            }
            return s;
        }
        case rr_node::kind::choice: {
            rr_size s = stacked(n.items, branch_gap, 2.0);
            s.width += 2 * rail;
            s.down = std::max(s.down, 2 * rail * 0.5);
            return s;
        }
        case rr_node::kind::rows: {
            rr_size s = stacked(n.items, row_gap, box_half);
            s.width += 2 * item_gap;
            return s;
        }
        case rr_node::kind::repeat: {
            const rr_size m = measure(n.items[0]);
            rr_size s{m.width + 2 * rail, m.up, m.down};
            if (n.min == 0) s.up = std::max(m.up + branch_gap, 10.0) + 2;
            if (loops(n) || n.max == 0) s.down = std::max(m.down + branch_gap, 10.0);
            if (!repeat_label(n).empty() || n.max == 0) s.down += label_height;
            return s;
        }
    }
    return {};
}

namespace {

// A coordinate to a tenth of a pixel, without a trailing ".0".
std::string number_text(double v) {
    const long long tenths = std::llround(v * 10);
    const long long whole = tenths / 10;
    const long long rest = tenths % 10;
    std::string s = tenths < 0 && whole == 0 ? "-0" : std::to_string(whole);
    if (rest != 0) {
        s += '.';
        s += static_cast<char>('0' + (rest < 0 ? -rest : rest));
    }
    return s;
}

void escape_into(std::string& out, std::string_view s) {
    for (char c : s) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
}

class svg_writer {
public:
    svg_writer(std::string& out, const std::function<std::string(std::string_view)>& link,
               rr_shared_boxes* shared)
        : out_(out), link_(link), shared_(shared) {}

    // The lines are one path of short relative steps: a step that starts
    // where the last one ended needs no move.
    void move_to(double x, double y) {
        if (pen_ && x == pen_x_ && y == pen_y_) return;
        path_ += 'M';
        path_ += number_text(x);
        path_ += ' ';
        path_ += number_text(y);
        pen_ = true;
        pen_x_ = x;
        pen_y_ = y;
    }
    void h_to(double x) {
        if (x == pen_x_) return;
        path_ += "h" + number_text(x - pen_x_);
        pen_x_ = x;
    }
    void v_to(double y) {
        if (y == pen_y_) return;
        path_ += "v" + number_text(y - pen_y_);
        pen_y_ = y;
    }
    // A straight line: across, then up or down.
    void line(double x1, double y1, double x2, double y2) {
        if (x1 == x2 && y1 == y2) return;
        move_to(x1, y1);
        h_to(x2);
        v_to(y2);
    }
    // The node whose rows end the diagram, and the line its last row is on.
    void set_top(const rr_node* top) { top_ = top; }
    double last_row() const { return last_row_; }

    // A curve of a quarter circle of radius r from (x1, y1) to (x2, y2).
    // Across first (arc), or up or down first (arc_vh).
    void arc(double x1, double y1, double x2, double y2) { curve(x1, y1, x2 - x1, 0, x2, y2); }
    void arc_vh(double x1, double y1, double x2, double y2) { curve(x1, y1, 0, y2 - y1, x2, y2); }
    void curve(double x1, double y1, double cx, double cy, double x2, double y2) {
        move_to(x1, y1);
        path_ += 'q';
        path_ += number_text(cx);
        path_ += ' ';
        path_ += number_text(cy);
        path_ += ' ';
        path_ += number_text(x2 - x1);
        path_ += ' ';
        path_ += number_text(y2 - y1);
        pen_x_ = x2;
        pen_y_ = y2;
    }

    void draw(const rr_node& n, double x, double y) {
        const rr_size s = measure(n);
        switch (n.what) {
            case rr_node::kind::terminal:
            case rr_node::kind::rule: box(n, x, y, s.width); return;
            case rr_node::kind::empty: return;
            case rr_node::kind::sequence: {
                // One line behind the items: the boxes cover it.
                line(x, y, x + s.width, y);
                double cx = x;
                for (const rr_node& i : n.items) {
                    cx += item_gap;
                    draw(i, cx, y);
                    cx += measure(i).width;
                }
                return;
            }
            case rr_node::kind::rows: {
                // Each row's end turns down below it and back to the start
                // of the next.
                const double right = x + s.width;
                double ry = y;
                for (std::size_t k = 0; k < n.items.size(); ++k) {
                    const rr_size m = measure(n.items[k]);
                    if (k > 0) ry += row_gap + std::max(m.up, box_half);
                    line(k == 0 ? x : x + item_gap / 2, ry, x + item_gap, ry);
                    draw(n.items[k], x + item_gap, ry);
                    const double end = x + item_gap + m.width;
                    if (k + 1 == n.items.size()) {
                        line(end, ry, right, ry);
                        // Back up to the line the rest goes on; the
                        // diagram's own rows end where they are.
                        if (&n == top_) {
                            last_row_ = ry;
                        } else {
                            v_to(y);
                        }
                    } else {
                        const double turn = ry + std::max(m.down, box_half) + row_gap / 2;
                        const rr_size next = measure(n.items[k + 1]);
                        move_to(end, ry);
                        h_to(right - item_gap / 2);
                        v_to(turn);
                        h_to(x + item_gap / 2);
                        v_to(turn + row_gap / 2 + std::max(next.up, box_half));
                        ry += std::max(m.down, box_half);
                    }
                }
                return;
            }
            case rr_node::kind::choice: {
                const double right = x + s.width;
                double below = 0;
                for (std::size_t k = 0; k < n.items.size(); ++k) {
                    const rr_size m = measure(n.items[k]);
                    double by = y;
                    if (k == 0) {
                        line(x, y, right, y);  // behind the first branch
                        below = m.down;
                    } else {
                        by = y + below + branch_gap + std::max(m.up, 2.0);
                        below = by - y + m.down;
                        // Down from the left rail, through the branch, up to the right one.
                        arc(x, y, x + rail / 2, y + rail / 2);
                        line(x + rail / 2, y + rail / 2, x + rail / 2, by - rail / 2);
                        arc_vh(x + rail / 2, by - rail / 2, x + rail, by);
                        arc(right - rail, by, right - rail / 2, by - rail / 2);
                        line(right - rail / 2, by - rail / 2, right - rail / 2, y + rail / 2);
                        arc_vh(right - rail / 2, y + rail / 2, right, y);
                    }
                    draw(n.items[k], x + rail, by);
                    if (k > 0) line(x + rail + m.width, by, right - rail, by);
                }
                return;
            }
            case rr_node::kind::repeat: {
                const rr_node& item = n.items[0];
                const rr_size m = measure(item);
                const double right = x + s.width;
                line(x, y, right, y);  // behind the item
                draw(item, x + rail, y);
                if (n.min == 0) {
                    const double top = y - std::max(m.up + branch_gap, 10.0);
                    arc(x, y, x + rail / 2, y - rail / 2);
                    line(x + rail / 2, y - rail / 2, x + rail / 2, top + rail / 2);
                    arc_vh(x + rail / 2, top + rail / 2, x + rail, top);
                    line(x + rail, top, right - rail, top);
                    arc(right - rail, top, right - rail / 2, top + rail / 2);
                    line(right - rail / 2, top + rail / 2, right - rail / 2, y - rail / 2);
                    arc_vh(right - rail / 2, y - rail / 2, right, y);
                }
                double bottom = y + m.down;
                if (loops(n)) {
                    bottom = y + std::max(m.down + branch_gap, 10.0);
                    arc(right - rail, y, right - rail / 2, y + rail / 2);
                    line(right - rail / 2, y + rail / 2, right - rail / 2, bottom - rail / 2);
                    arc_vh(right - rail / 2, bottom - rail / 2, right - rail, bottom);
                    line(right - rail, bottom, x + rail, bottom);
                    arc(x + rail, bottom, x + rail / 2, bottom - rail / 2);
                    line(x + rail / 2, bottom - rail / 2, x + rail / 2, y + rail / 2);
                    arc_vh(x + rail / 2, y + rail / 2, x + rail, y);
                }
                std::string label = repeat_label(n);
                if (n.max == 0 && !n.unbounded) label = "never";
                if (!label.empty()) {
                    out_ += "<text class=\"rr-label\" x=\"" + number_text(x + s.width / 2) +
                            "\" y=\"" + number_text(bottom + label_height - 3) + "\">";
                    escape_into(out_, label);
                    out_ += "</text>";
                }
                return;
            }
        }
    }

    // The lines, drawn under the boxes.
    std::string path_element() const {
        return path_.empty() ? std::string() : "<path d=\"" + path_ + "\"/>";
    }

private:
    void box(const rr_node& n, double x, double y, double width) {
        const bool rule = n.what == rr_node::kind::rule;
        const std::string href = rule ? link_(n.text) : std::string();
        if (!href.empty()) {
            out_ += "<a href=\"";
            escape_into(out_, href);
            out_ += "\">";
        }
        if (shared_ != nullptr && (!rule || !href.empty())) {
            out_ += "<use href=\"#~";
            if (rule) {
                escape_into(out_, lower_name(n.text));
            } else {
                out_ += std::to_string(shared_->number_of(n.text));
            }
            out_ += "\" x=\"" + number_text(x) + "\" y=\"" + number_text(y - box_half) + "\"/>";
            if (rule) out_ += "</a>";
            return;
        }
        // A rule's box is a link (styled as such); a terminal's is rounded.
        out_ += "<rect x=\"" + number_text(x) + "\" y=\"" + number_text(y - box_half) +
                "\" width=\"" + number_text(width) + "\" height=\"" + number_text(2 * box_half) +
                "\" rx=\"" + (rule ? "2" : "10") + "\"/>";
        out_ += "<text x=\"" + number_text(x + width / 2) + "\" y=\"" + number_text(y + 4) + "\">";
        escape_into(out_, n.text);
        out_ += "</text>";
        if (!href.empty()) out_ += "</a>";
    }

    std::string& out_;
    const std::function<std::string(std::string_view)>& link_;
    rr_shared_boxes* shared_;
    std::string path_;
    bool pen_ = false;
    double pen_x_ = 0;
    double pen_y_ = 0;
    const rr_node* top_ = nullptr;
    double last_row_ = 0;
};

}  // namespace

std::vector<abnf_rule> read_abnf_rules(std::string_view grammar) {
    std::vector<abnf_rule> rules;
    std::size_t pos = 0;
    while (pos < grammar.size()) {
        std::size_t end = grammar.find('\n', pos);
        if (end == std::string_view::npos) end = grammar.size();
        std::string_view line = without_comment(grammar.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty()) continue;
        if (is_letter(line[0])) {
            const std::size_t equals = line.find('=');
            if (equals == std::string_view::npos) continue;
            std::string_view name = line.substr(0, equals);
            while (!name.empty() && is_space(name.back())) name.remove_suffix(1);
            std::string_view rest = line.substr(equals + 1);
            if (!rest.empty() && rest[0] == '/') {
                // An incremental alternative: added to the rule of that name.
                rest.remove_prefix(1);
                for (abnf_rule& r : rules) {
                    if (r.name == name) {
                        r.definition += " / ";
                        r.definition.append(rest);
                        break;
                    }
                }
                continue;
            }
            rules.push_back({std::string(name), std::string(rest)});
        } else if (is_space(line[0]) && !rules.empty()) {
            rules.back().definition += ' ';
            rules.back().definition.append(line);
        }
    }
    return rules;
}

rr_node parse_abnf(std::string_view definition) {
    abnf_parser p(definition);
    rr_node seq;
    seq.what = rr_node::kind::sequence;
    seq.items.push_back(p.alternation());
    // A stray closing mark stands as a terminal; the reading goes on after it.
    while (!p.at_end()) {
        rr_node stray;
        stray.what = rr_node::kind::terminal;
        stray.text = std::string(p.rest().substr(0, 1));
        seq.items.push_back(std::move(stray));
        p.skip_one();
        seq.items.push_back(p.alternation());
    }
    if (seq.items.size() == 1) return std::move(seq.items[0]);
    return seq;
}

rr_node fit(const rr_node& node, double max_width) {
    rr_node out = node;
    switch (node.what) {
        case rr_node::kind::choice:
        case rr_node::kind::repeat:
            for (rr_node& i : out.items) i = fit(i, max_width - 2 * rail);
            return out;
        case rr_node::kind::sequence: {
            for (rr_node& i : out.items) i = fit(i, max_width - 4 * item_gap);
            if (measure(out).width <= max_width) return out;
            rr_node rows;
            rows.what = rr_node::kind::rows;
            rr_node row;
            row.what = rr_node::kind::sequence;
            double width = item_gap;
            const double room = max_width - 2 * item_gap;
            for (rr_node& item : out.items) {
                const double w = measure(item).width + item_gap;
                if (!row.items.empty() && width + w > room) {
                    rows.items.push_back(std::move(row));
                    row = rr_node{};
                    row.what = rr_node::kind::sequence;
                    width = item_gap;
                }
                row.items.push_back(std::move(item));
                width += w;
            }
            rows.items.push_back(std::move(row));
            return rows;
        }
        default: return out;
    }
}

std::string railroad_svg(const rr_node& node,
                         const std::function<std::string(std::string_view)>& link, double max_width,
                         rr_shared_boxes* shared) {
    constexpr double margin = 10;
    const rr_node fitted = fit(node, max_width - 2 * margin - 2 * item_gap);
    const rr_size s = measure(fitted);
    const double width = std::ceil(s.width + 2 * margin + 2 * item_gap);
    const double height =
        std::ceil(std::max(s.up, box_half) + std::max(s.down, box_half) + 2 * margin);
    const double y = margin + std::max(s.up, box_half);
    const double x0 = margin + item_gap;

    std::string body;
    svg_writer w(body, link, shared);
    w.line(margin, y - 6, margin, y + 6);  // where the rule begins
    w.line(margin, y, x0, y);
    w.set_top(&fitted);
    w.draw(fitted, x0, y);
    const double end = x0 + s.width;
    const double last = fitted.what == rr_node::kind::rows ? w.last_row() : y;
    w.line(end, last, end + item_gap, last);
    w.line(end + item_gap, last - 6, end + item_gap, last + 6);  // where it ends
    std::string out = "<svg class=\"rr\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                      number_text(width) + "\" height=\"" + number_text(height) +
                      "\" viewBox=\"0 0 " + number_text(width) + " " + number_text(height) + "\">";
    out += w.path_element();
    out += body;
    out += "</svg>";
    return out;
}

std::size_t rr_shared_boxes::number_of(std::string_view terminal) {
    const auto [at, added] = numbers.try_emplace(std::string(terminal), terminals.size());
    if (added) terminals.emplace_back(terminal);
    return at->second;
}

namespace {

void box_def(std::string& out, const std::string& id, const std::string& label, bool rule) {
    const double width = box_width(label);
    out += "<g id=\"~";
    escape_into(out, id);
    out += rule ? "\">" : "\" class=\"t\">";
    // The copies a <use> makes are not matched by the page's style
    // sheet: their look goes with them (the colours of the page's scheme).
    out += "<rect width=\"" + number_text(width) + "\" height=\"" + number_text(2 * box_half) +
           "\" rx=\"" + (rule ? "2" : "10") +
           (rule ? "\" style=\"fill:var(--rule);stroke:var(--rule-line)\"/>"
                 : "\" style=\"fill:var(--term);stroke:var(--term-line)\"/>") +
           "<text x=\"" + number_text(width / 2) + "\" y=\"" + number_text(box_half + 4) +
           "\" style=\"font:12px ui-monospace,monospace;fill:var(--fg);text-anchor:middle\">";
    escape_into(out, label);
    out += "</text></g>";
}

}  // namespace

std::string shared_box_defs(const std::vector<std::string>& rule_names,
                            const rr_shared_boxes& shared) {
    std::string out =
        "<svg class=\"rr-defs\" xmlns=\"http://www.w3.org/2000/svg\" width=\"0\" height=\"0\" "
        "aria-hidden=\"true\"><defs>";
    for (const std::string& name : rule_names) box_def(out, lower_name(name), name, true);
    for (std::size_t i = 0; i < shared.terminals.size(); ++i) {
        box_def(out, std::to_string(i), shared.terminals[i], false);
    }
    out += "</defs></svg>";
    return out;
}

}  // namespace qrv
