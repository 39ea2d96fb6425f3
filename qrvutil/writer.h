// The formatted output writer: tab stops every 20 columns after the
// indentation, four blanks of indentation per depth level after every
// newline, and braces as nesting marks.
#pragma once

#include <cstdio>
#include <string_view>

#include "model/model.h"
#include "qrvutil/diagnostics.h"

namespace qrv {

// Thrown when text written to memory would pass the sink's memory_limit.
struct output_limit_reached {};

void emit(run_context& run, const char* format, ...) QRV_PRINTF(2, 3);
// Writes a text through the same layout rules, without formatting.
void emit_text(run_context& run, std::string_view s);
void indent_more(run_context& run);
void indent_less(run_context& run);

// Raw bytes to the sink, bypassing the layout rules.
void sink_write(run_context& run, std::string_view s);
// The same, with every line feed written as the sink's line end (CR LF when
// the sink's crlf is set).
void sink_write_lines(run_context& run, std::string_view s);
// Opens the sink on a stream that its owner opened and closes (the sink
// buffers by itself and makes the stream unbuffered), or on memory.
void sink_open_stream(run_context& run, std::FILE* stream);
void sink_open_memory(run_context& run, std::string* memory);
// Hands the buffered text to the stream and flushes it, then lets go of it;
// false when any write failed.
bool sink_close(run_context& run);

}  // namespace qrv
