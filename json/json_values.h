// The simple values in JSON: for each row of encoding/kinds.def, how a
// value read from a message is written in JSON (json_out_<form>), how a JSON
// value is written back in the text encoding (json_in_<form>), and the JSON
// Schema of the JSON form (json_schema_<form>). The README's table of the
// mapping describes them.
#pragma once

#include <string>
#include <string_view>

#include "encoding/encoding.h"
#include "json/json_text.h"

namespace qrv::json {

// Integers of a smaller magnitude are JSON numbers, others decimal strings.
inline constexpr std::uint64_t exact_number_limit = std::uint64_t{1} << 53;

struct form_functions {
    // Appends the JSON of the value whose text, as the checker read it, is
    // `text`.
    void (*out)(const value_form& f, std::string_view text, std::string& out);
    // The text of the JSON value `n`, appended to `text`; false, with what
    // is wrong in `why`, when `n` is not a value of the form in JSON. The
    // text is then read by the checker's reader of the form, which makes
    // the checks of ranges and sizes.
    bool (*in)(const value_form& f, const document& d, const node& n, bool in_combination,
               std::string& text, std::string& why);
    // Appends the JSON Schema of the form's JSON values: an object without
    // its closing brace, which the caller adds.
    void (*schema)(const value_form& f, std::string& out);
};

const form_functions& functions_of(value_kind k);

// Base64 (RFC 4648, with padding) of `bytes`, and the bytes of Base64 text
// made of whole groups; false when `text` is not such Base64.
std::string base64_encode(std::string_view bytes);
bool base64_decode(std::string_view text, std::string& bytes);

}  // namespace qrv::json
