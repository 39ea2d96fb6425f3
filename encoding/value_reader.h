// The byte-level reading of a message: white space and comments, the
// simple values of each form, extension parameters. The structure of
// bodies is read by the checker (messages/checker.cpp) on top of this.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "encoding/encoding.h"

namespace qrv {

struct scan_failure {
    std::size_t offset = 0;
    std::string message;
};

class scanner {
public:
    explicit scanner(std::string_view bytes) : in_(bytes) {}

    // The byte `ahead` bytes on, or -1 past the end.
    int peek(std::size_t ahead = 0) const {
        return pos + ahead < in_.size() ? static_cast<unsigned char>(in_[pos + ahead]) : -1;
    }
    bool at_end() const { return pos >= in_.size(); }
    std::size_t size() const { return in_.size(); }
    std::string_view bytes() const { return in_; }

    // Skips white space and comments (OWS); true when anything was skipped.
    bool skip_ows();
    // Skips white space without comments (OWSNC).
    bool skip_wsnc();
    // The end of the comment that starts at `at`, or 0 when none starts
    // there (a comment must end in the message: "*/", or a line end).
    std::size_t comment_end(std::size_t at);

    // A tag or constant text compared as ABNF compares quoted strings: the
    // bytes at the position equal `text`, letters without regard to case.
    bool looks_at(std::string_view text) const;
    bool looks_at_from(std::size_t at, std::string_view text) const;
    // Where a constant text of the value at the position begins: the
    // position, or for one that begins with white space somewhere in the
    // white space skipped just before; npos when it is not there.
    std::size_t constant_at(std::string_view text) const;
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    // The value of `form` at the position; on failure, `failure` says why.
    bool read_value(const value_form& form, bool in_combination);
    // The digits of an integer at the position (after its sign).
    std::size_t integer_digits() const;
    // An integer of `form` made of the first `take` of those digits.
    bool read_integer_digits(const value_form& form, std::size_t take);
    // The first byte at the position can begin a value of `form`.
    bool can_begin(const value_form& form) const;

    // One extension parameter (tags, values, commas, nested braces and
    // parentheses), read from a stack of its own; it takes every comma
    // that a value follows.
    bool read_extension_param();
    // One value of an extension parameter with its tags ("a = b = {...}"):
    // the parameter up to its first comma outside braces.
    bool read_extension_group();
    // From now on, where an extension parameter read from the start of
    // one of its values ended (or failed) is kept: a reader that tries the
    // same bytes from many places reads each parameter once.
    void remember_extension_params() { remember_params_ = true; }
    // The first byte at the position can begin an extension parameter.
    bool can_begin_extension() const;

    // Records the first failure and returns false.
    bool fail(std::size_t at, std::string message);
    // "expected A, B or C, found X" at `at`.
    bool fail_expected(std::size_t at, const std::vector<std::string>& expected);
    // The bytes at `at` as an error message shows them: "x", "qty", end of
    // message.
    std::string found_at(std::size_t at) const;

    std::size_t pos = 0;
    std::optional<scan_failure> failure;

private:
    // The readers of the forms (read_<form>, starts_<form>: one each per
    // row of encoding/kinds.def).
#define QRV_FORM(form, ...)                                     \
    bool read_##form(const value_form& f, bool in_combination); \
    bool starts_##form(const value_form& f, int c) const;
#include "encoding/kinds.def"
#undef QRV_FORM
    struct form_reader {
        bool (scanner::*read)(const value_form&, bool);
        bool (scanner::*starts)(const value_form&, int) const;
    };
    static const form_reader readers_[];
    bool read_integer_taking(const value_form& f, std::size_t take);
    // A quoted text of `quote` (`shown` as an error names it) with its size.
    bool read_text_in(int quote, const char* shown, const value_form& f);
    // A quoted text of `quote`: ASCII with the \\ and \' escapes, or UTF-8
    // with \\ and \"; counts its characters.
    bool read_quoted(int quote, std::uint64_t& count);
    // A group of four Base64 characters; `padded` when it ends in "=".
    bool read_base64_group(bool check_bits, bool& padded, std::uint64_t& pads);
    bool read_extension_base64();
    std::size_t digits_at(std::size_t at) const;

    std::string_view in_;
    // What read_extension_param found from the start of a value: the end
    // of the parameter, or (SIZE_MAX) the failure kept in param_failures_.
    struct param_result {
        std::size_t end = 0;
        std::size_t failure = 0;
    };
    bool remember_params_ = false;
    std::unordered_map<std::size_t, param_result> param_ends_;
    std::vector<scan_failure> param_failures_;
    std::vector<std::size_t> param_starts_;  // the values of the parameter being read
    // Where white space that begins at a position ends, for runs long
    // enough that reading them again costs more than looking them up: a
    // search may skip the same blanks from many readings.
    std::unordered_map<std::size_t, std::size_t> blank_ends_;
    // The white space skipped last: where it began and ended.
    std::size_t blank_from_ = 0;
    std::size_t blank_to_ = SIZE_MAX;
    // Where the last search for the end of a comment began and what it
    // found, so that many unterminated comments cost one scan.
    std::size_t c_from_ = SIZE_MAX;
    std::size_t c_end_ = 0;  // the byte after "*/", or SIZE_MAX for none
    std::size_t line_from_ = SIZE_MAX;
    std::size_t line_stop_ = 0;  // where that line comment's scan stopped
    bool line_ok_ = false;       // at a line end
};

// "A", "A or B", "A, B or C"; more than five end in ", ...".
std::string join_alternatives(const std::vector<std::string>& items);
// A tag or text as a message quotes it: "qty".
std::string quote_text(std::string_view text);

}  // namespace qrv
