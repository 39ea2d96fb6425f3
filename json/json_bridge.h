// The JSON bridge: messages of the text encoding converted to JSON and
// back, and the JSON Schema of the JSON form of a definition. The mapping
// (the README's table) is one JSON form per value:
// - a structure or a combination is an object keyed by member name, a
//   union an object with one key, its alternative (none for an empty
//   value); a member that may repeat is an array, one that is absent has
//   no key;
// - the simple values as json/json_values.h writes them;
// - extension parameters are kept, as their text, in an array under the
//   key "@extensions".
// A message is read as the checker reads it (read_message), and the text
// written from JSON is read by the checker before it is written: what goes
// out always checks.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "messages/checker.h"
#include "model/model.h"
#include "support/diagnostics.h"

namespace qrv {

// The key of extension parameters in the JSON of a structure or union.
inline constexpr std::string_view extensions_key = "@extensions";

struct json_settings {
    std::string type_name;  // the definition; empty: the root
    bool closed = false;    // no extension parameters in the messages
    bool lines = false;     // one JSON document a line, without indentation
    std::string output;     // the file to write, "-" for standard output
};

// The JSON of `message`, a message of `type`, appended to `out`: the
// checker's result, and nothing appended unless it is valid. With a
// `sink`, the text goes on to it as it is written (and `out` is left
// empty); `write_failed` tells whether a write to it failed.
check_result message_to_json(const element& type, std::string_view message, bool closed, bool lines,
                             std::string& out, std::FILE* sink = nullptr,
                             bool* write_failed = nullptr);

// The text encoding of the JSON `json` of a message of `type`, in the
// layout of the example writer; false, with the error's offset in the JSON,
// its member path and its text, when the JSON is not a message of `type`.
struct json_error {
    std::size_t offset = 0;
    std::string path;
    std::string message;
};
bool json_to_message(const element& type, std::string_view json, bool closed, std::string& out,
                     json_error& error);
// The two steps of json_to_message: the text written from the JSON
// (appended to `out`), and the checker's verdict on it.
// With a `sink`, the text goes there instead, as it is written.
bool json_to_text(const element& type, std::string_view json, bool closed, std::string& out,
                  json_error& error, std::FILE* sink = nullptr);
bool message_checks(const element& type, std::string_view text, bool closed, json_error& error);

// The JSON Schema (draft 2020-12) of the JSON of messages of `type`, with a
// definition under $defs for every top-level definition of the run; with
// `closed`, without extension parameters.
std::string json_schema_of(const run_context& run, const element& type, bool closed = false);

// The modes of a run whose post-parse succeeded; each writes its output
// whole or not at all, and returns 0, or 1 after an error (2 when a message
// could not be decided).
int to_json_files(const run_context& run, diagnostics& diag, const std::vector<std::string>& files,
                  const json_settings& settings);
int from_json_file(const run_context& run, diagnostics& diag, const std::string& file,
                   const json_settings& settings);
int write_json_schema(const run_context& run, diagnostics& diag, const json_settings& settings);

}  // namespace qrv
