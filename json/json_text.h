// JSON text as the bridge reads and writes it: a strict reader of RFC 8259
// documents into a flat tree of nodes, and the string escaping of the
// writer. The reader keeps its own stack, so nesting costs heap, and stops
// at limits of depth and size, so no input can exhaust the stack or the
// memory. It knows nothing of messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace qrv::json {

enum class node_type : std::uint8_t { null, boolean, number, string, array, object };

// One value of a document, in 16 bytes: a document of a few bytes a value
// has many. Numbers keep their text, strings the bytes between their
// quotes (decoded by string_of). The members of an object are pairs of
// nodes: a key (a string) and its value; `first` is the first key or
// element and `next` the next one, 0 for none (node 0 is the document's
// root and is never a member).
struct node {
    std::uint32_t offset = 0;  // where the value begins in the text
    std::uint32_t first = 0;
    std::uint32_t next = 0;

    node_type type() const { return static_cast<node_type>(bits_ >> 29); }
    bool escaped() const { return (bits_ & escaped_bit) != 0; }  // a string with an escape
    bool truth() const { return (bits_ & truth_bit) != 0; }      // a boolean's value
    // A number: its text; a string: the bytes between the quotes.
    std::uint32_t length() const { return bits_ & length_mask; }
    // An array: its elements; an object: its members.
    std::uint32_t count() const { return bits_ & length_mask; }

    void set_type(node_type t) {
        bits_ = (bits_ & ~(std::uint32_t{7} << 29)) | static_cast<std::uint32_t>(t) << 29;
    }
    void set_escaped() { bits_ |= escaped_bit; }
    void set_truth(bool t) { bits_ = t ? bits_ | truth_bit : bits_ & ~truth_bit; }
    void set_length(std::uint32_t n) { bits_ = (bits_ & ~length_mask) | n; }
    void add_one() { ++bits_; }  // to the count

    // The longest string or number, the most elements or members.
    static constexpr std::uint32_t most = (std::uint32_t{1} << 27) - 1;

private:
    static constexpr std::uint32_t length_mask = most;
    static constexpr std::uint32_t escaped_bit = std::uint32_t{1} << 27;
    static constexpr std::uint32_t truth_bit = std::uint32_t{1} << 28;
    std::uint32_t bits_ = 0;  // type (3 bits), truth, escaped, length or count (27 bits)
};
static_assert(sizeof(node) == 16);

struct limits {
    std::size_t depth = 4096;                  // arrays and objects inside one another
    std::size_t bytes = std::size_t{1} << 31;  // of the whole text
};

struct read_error {
    std::size_t offset = 0;
    std::string message;
};

class document {
public:
    // Reads `text` whole: one value, with white space around it. False,
    // with `error` set, when it is not a JSON text or passes the limits.
    bool read(std::string_view text, read_error& error, const limits& limits = {});

    const node& root() const { return nodes_[0]; }
    const node& at(std::uint32_t index) const { return nodes_[index]; }
    std::string_view text() const { return text_; }
    // The text of a number, the raw bytes of a string.
    std::string_view raw(const node& n) const {
        return text_.substr(n.offset + (n.type() == node_type::string ? 1 : 0), n.length());
    }
    // A string's value, its escapes decoded (UTF-8).
    std::string string_of(const node& n) const;

private:
    std::string_view text_;
    std::vector<node> nodes_;
};

// Line and column (from 1, the column in bytes) of `offset` in `text`.
void position_of(std::string_view text, std::size_t offset, std::int64_t& line,
                 std::int64_t& column);

// `s` as a JSON string with its quotes, appended to `out`. `s` is UTF-8;
// quotes, backslashes and control characters are escaped.
void append_string(std::string& out, std::string_view s);

// JSON text without white space between its tokens, indented: two spaces a
// level, a member or element a line.
std::string indented(std::string_view compact);

// Whether `s` is a number as JSON writes one.
bool is_number(std::string_view s);

// Hands the text written so far to `sink` and empties it (nothing without a
// sink); false once a write failed, which `failed` keeps.
bool hand_on(std::string& text, std::FILE* sink, bool& failed);

}  // namespace qrv::json
