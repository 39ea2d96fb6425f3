// The state the front end keeps while it reads one module: the characters
// of the source with their push-back, the open bodies, the step of the
// parser's step machine. Internal to the front end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "model/model.h"
#include "support/diagnostics.h"

namespace qrv {

// The characters of one source, all in memory, and two characters of
// push-back.
struct source_stream {
    const unsigned char* data = nullptr;
    std::size_t size = 0;
    std::size_t pos = 0;
    int pushed[2] = {0, 0};
    int pushed_count = 0;
    std::uint64_t base = 0;  // the offset in the text of data[0]
};

struct body_frame {
    bool in_brackets = false;
    bool brackets_seen = false;
    bool tagged_seen = false;
};

// The parse steps of the parser's step machine.
enum parse_step : int {
    STEP_STATEMENT = 0,
    STEP_CONSTRAINT_OR_NAME = 1,
    STEP_CONSTRAINT = 2,
    STEP_NAME = 3,
    STEP_AFTER_NAME = 4,
    STEP_CARDINALITY = 5,
    STEP_AFTER_CARDINALITY = 6,
    STEP_TAG = 7,
    STEP_AFTER_TAG = 8,
    STEP_SKIP = 9,
    STEP_END_BODY = 10,
};

// The first error of the statement being read, held while the statement
// goes on so that its follow-on errors are folded into it (one report per
// mistake); written when the next statement begins or the module ends.
struct pending_error {
    bool active = false;
    int sev = SEV_ERROR;
    std::int64_t line = 0;
    std::uint64_t offset = 0;
    std::int64_t follow_ons = 0;
    std::string message;
    std::string help;
};

struct parse_state {
    const char* path = "";
    std::int64_t line = 1;  // 64 bits: every real line of any file
    source_stream* stream = nullptr;
    run_context* run = nullptr;
    diagnostics* diag = nullptr;
    module_record* module = nullptr;
    bool in_header = true;
    int step = STEP_STATEMENT;
    std::int64_t error_count = 0;
    std::int32_t depth = 0;
    std::int32_t plug_level = 0;
    plug_record* plug = nullptr;
    body_frame* frame = nullptr;
    bool last_module = true;
    // Only for diagnostics, after what the parser reads at every token.
    // The lines of the file before the module's first line: the leading
    // text and the modules before it (known only with file positions).
    std::int64_t line_offset = 0;
    pending_error pending;
};

// A new element with its allocation defaults: the uninitialised marker as
// its name and tag, the current line and module, and optional when it
// follows version brackets in its body. Never null (out of memory unwinds
// as std::bad_alloc).
element* new_element(parse_state& ps);

// The parser's entry: reports at the parse state's path and line and counts
// an error in the parse state as well.
void parse_report(parse_state& ps, int sev, const char* format, ...) QRV_PRINTF(3, 4);

// A help text for the error just reported in the statement (the first one
// given is kept); shown by the pretty and json forms.
void parse_help(parse_state& ps, std::string_view help);

// Writes the statement's held error, if any.
void flush_pending_error(parse_state& ps);

// The offset in the file of the character the reader stands at.
inline std::uint64_t reader_offset(const parse_state& ps) {
    const source_stream& s = *ps.stream;
    const std::uint64_t at = s.base + s.pos;
    const auto pushed = static_cast<std::uint64_t>(s.pushed_count);
    return at >= pushed ? at - pushed : 0;
}

}  // namespace qrv
