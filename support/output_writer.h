// The formatted output writer: tab stops every 20 columns after the
// indentation, four blanks of indentation per depth level after every
// newline, and braces as nesting marks.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "support/diagnostics.h"

namespace qrv {

// Where the text goes while it is written (a file, or memory) and the
// layout state of the line being written. Its owner opens it with
// sink_open_stream or sink_open_memory; sink_close lets go of it.
struct output_writer {
    // Where the note of a brace that closes more than was opened goes,
    // counted as an error; none when null.
    diagnostics* diag = nullptr;
    std::FILE* file = nullptr;
    std::string* memory = nullptr;  // when set, text is appended here instead
    // In memory mode, the most text that may be written: a write that would
    // pass it writes nothing and throws output_limit_reached (fuzzing
    // bounds its runs with it). Set before sink_open_memory.
    std::size_t memory_limit = static_cast<std::size_t>(-1);
    // Bytes not yet handed to the file or the memory, in both modes.
    std::unique_ptr<char[]> buffer;
    std::size_t used = 0;  // how many bytes of the buffer hold text
    // How many bytes the buffer may hold before it is handed on: its size,
    // or less in memory mode when the limit is near.
    std::size_t capacity = 0;
    bool open = false;
    bool failed = false;   // a write to the file failed
    bool closing = false;  // set while sink_close hands on the last bytes
    bool crlf = false;     // lines written through the layout rules end in CR LF
    // When set, `{` and `}` in the text change the indentation depth.
    bool brace_indent = true;
    std::int32_t depth = 0;      // indentation depth
    std::int32_t column = 0;     // characters written on the current line
    std::int32_t tab_count = 0;  // tabs written on the current line
};

// Thrown when text written to memory would pass the sink's memory_limit.
struct output_limit_reached {};
// Thrown by the first write to the file that fails while text is still
// being written: nothing after it could reach the file, so the writing
// stops there (sink_close reports the failure instead of throwing).
struct output_write_failed {};

// The characters the layout rules handle rather than copy: a line feed, a
// tab, and the braces (when brace_indent is set; always counted here).
constexpr bool is_layout_char(char c) { return c == '\n' || c == '\t' || c == '{' || c == '}'; }

void emit(output_writer& out, const char* format, ...) QRV_PRINTF(2, 3);
// Writes a text through the same layout rules, without formatting.
void emit_text(output_writer& out, std::string_view s);
// The same for a text that holds no line feed, tab or brace.
void emit_plain(output_writer& out, std::string_view s);
// A line feed and a tab through the layout rules, as emit_text writes them.
void emit_newline(output_writer& out);
void emit_tab(output_writer& out);
void indent_more(output_writer& out);
void indent_less(output_writer& out);

// Raw bytes to the sink, bypassing the layout rules.
void sink_write(output_writer& out, std::string_view s);
// The same, with every line feed written as the sink's line end (CR LF when
// the sink's crlf is set).
void sink_write_lines(output_writer& out, std::string_view s);
// Opens `writer` on a stream that its owner opened and closes (the writer
// buffers by itself and makes the stream unbuffered), or on memory (set the
// memory_limit first). Text written while the writer is not open goes
// nowhere. In both modes the text reaches its place
// when the buffer is full and at sink_close.
void sink_open_stream(output_writer& writer, std::FILE* stream);
void sink_open_memory(output_writer& writer, std::string* memory);
// Hands the buffered text to the stream and flushes it, then lets go of the
// writer (its layout state stays readable); false when any write failed.
bool sink_close(output_writer& writer);

}  // namespace qrv
