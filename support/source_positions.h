// Positions in source files for diagnostics: the text of every source a run
// read, kept or read again only when a diagnostic needs it, the line and
// column of a byte or of a name on a line, and the close names a "did you
// mean" offers. Nothing here is touched by a run without diagnostics.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace qrv {

// The column (1-based, in characters) of byte `offset` of `line`: every
// valid UTF-8 sequence is one character, any other byte one as well.
std::int64_t column_of(std::string_view line, std::size_t offset);

// The width in characters of `text` as column_of counts them.
std::int64_t width_of(std::string_view text);

// Where `token` stands in `line` as a whole word (not inside a longer name
// of letters, digits, '-', '_', '.' or ':'), searched from byte `from`;
// npos when it does not.
std::size_t find_token(std::string_view line, std::string_view token, std::size_t from = 0);

// The start of the token that ends just before byte `offset` of `line`, or
// the first character after `offset` when blanks stand before it: where a
// reader that has just read a token puts the blame.
std::size_t token_start_before(std::string_view line, std::size_t offset);

// The length of the word (a name, a number) or the one character of
// punctuation at byte `at` of `line`; at least 1 within the line.
std::size_t token_length_at(std::string_view line, std::size_t at);

// The edit distance of two names: insertions, deletions, substitutions and
// swaps of two neighbouring characters each cost 1. Letters are compared
// without case, so a name that differs only in case is at distance 1 at
// most (a substitution) and found as a close name.
std::size_t edit_distance(std::string_view a, std::string_view b);

// The names of `candidates` closest to `name`, nearest first and at most
// `most` of them: only names within a third of the longer length (at least
// 1, at most 3 edits) are close. `name` itself is never among them.
std::vector<std::string> close_names(std::string_view name,
                                     const std::vector<std::string_view>& candidates,
                                     std::size_t most = 3);

// "did you mean 'a'?" or "did you mean 'a' or 'b'?"; empty without names.
std::string did_you_mean(const std::vector<std::string>& names);

// The texts of the sources of a run, by the path the run named them with.
// A source read from standard input (or any other text that cannot be read
// again) is kept when it is read; a file is read again, once, when a
// diagnostic first needs one of its lines.
class source_texts {
public:
    // Keeps `text` as the source named `path`.
    void keep(std::string_view path, std::string_view text);
    // The line `line` (1-based, of the whole file) without its line end;
    // false when the source cannot be read or has no such line.
    bool line(std::string_view path, std::int64_t line, std::string_view* text);
    // The line and the byte in it of the file offset `offset`; false when
    // the source cannot be read or is shorter.
    bool locate(std::string_view path, std::uint64_t offset, std::int64_t* line, std::size_t* byte);

    // The lines of the source before the one that holds byte `offset`
    // (false when it cannot be read): a file is read up to there only,
    // not kept.
    bool lines_before(std::string_view path, std::uint64_t offset, std::int64_t* count);

private:
    struct source {
        bool readable = false;
        std::string text;
        std::vector<std::size_t> starts;  // the offset of each line
    };
    source* find(std::string_view path);
    static void index(source& s);
    std::map<std::string, source, std::less<>> sources_;
};

}  // namespace qrv
