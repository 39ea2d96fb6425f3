#include "support/output_writer.h"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace qrv {

namespace {

// Bytes collected before they are handed to the file in one block.
constexpr std::size_t buffer_size = 64 * 1024;

constexpr std::int64_t tab_width = 20;
constexpr std::string_view indent_unit = "    ";

// Characters that the layout rules treat specially; everything else is
// copied as it stands.
enum char_class : unsigned char { PLAIN = 0, NEWLINE, TAB, OPEN_BRACE, CLOSE_BRACE };

constexpr std::array<unsigned char, 256> make_classes(bool braces) {
    std::array<unsigned char, 256> c{};
    c['\n'] = NEWLINE;
    c['\t'] = TAB;
    if (braces) {
        c['{'] = OPEN_BRACE;
        c['}'] = CLOSE_BRACE;
    }
    return c;
}

constexpr auto classes_with_braces = make_classes(true);
constexpr auto classes_without_braces = make_classes(false);

// Hands bytes to their place: the file, or the end of the memory text.
void hand_on(output_writer& sink, const char* bytes, std::size_t n) {
    if (n == 0) return;
    if (sink.memory != nullptr) {
        sink.memory->append(bytes, n);
        return;
    }
    // After a failed write the rest is dropped: the file is lost anyway.
    if (sink.file == nullptr || sink.failed) return;
    if (std::fwrite(bytes, 1, n, sink.file) != n) {
        sink.failed = true;
        if (!sink.closing) throw output_write_failed{};
        return;
    }
}

// The buffer's room: all of it, or in memory mode no more than the limit
// leaves, so that text in the buffer never passes the limit.
void set_capacity(output_writer& sink) {
    sink.capacity = buffer_size;
    if (sink.memory == nullptr) return;
    const std::size_t kept = sink.memory->size();
    const std::size_t left = kept < sink.memory_limit ? sink.memory_limit - kept : 0;
    sink.capacity = std::min(buffer_size, left);
}

void flush_buffer(output_writer& sink) {
    if (sink.used != 0) hand_on(sink, sink.buffer.get(), sink.used);
    sink.used = 0;
    set_capacity(sink);
}

// In memory mode, `n` more bytes must not pass the limit.
void check_limit(const output_writer& sink, std::size_t n) {
    if (sink.memory == nullptr) return;
    const std::size_t kept = sink.memory->size() + sink.used;
    if (n > sink.memory_limit || kept > sink.memory_limit - n) throw output_limit_reached{};
}

// Room for `n` more bytes in the buffer, or false when they do not fit even
// an empty one (in memory mode, check_limit has passed them).
bool make_room(output_writer& sink, std::size_t n) {
    if (n > sink.capacity - sink.used) {
        flush_buffer(sink);
        if (n > sink.capacity) return false;
    }
    return true;
}

void write_blanks(output_writer& out, std::size_t n) {
    output_writer& sink = out;
    if (!sink.buffer) return;  // nothing open: the bytes go nowhere
    check_limit(sink, n);
    while (n > 0) {
        const std::size_t piece = std::min(n, buffer_size);
        make_room(sink, piece);
        std::memset(sink.buffer.get() + sink.used, ' ', piece);
        sink.used += piece;
        n -= piece;
    }
}

void check_depth(output_writer& out) {
    if (out.depth < 0) {
        if (out.diag != nullptr) {
            note(*out.diag, "Problem with brace nesting depth encountered\n");
            ++out.diag->error_count;
        }
        out.depth = 0;
    }
}

// One tab: at least one blank, then on to the next multiple of 20 columns
// counted in tabs met on this line.
void write_tab(output_writer& out) {
    std::int64_t column = static_cast<std::int64_t>(out.column) + 1;
    ++out.tab_count;
    const std::int64_t stop = tab_width * out.tab_count;
    if (column < stop) column = stop;
    write_blanks(out, static_cast<std::size_t>(column - out.column));
    out.column = static_cast<std::int32_t>(column);
}

void write_newline(output_writer& out) {
    output_writer& sink = out;
    if (!sink.crlf && sink.used < sink.capacity) {
        sink.buffer[sink.used++] = '\n';
    } else {
        sink_write(out, sink.crlf ? std::string_view("\r\n") : std::string_view("\n"));
    }
    if (out.depth > 0) write_blanks(out, indent_unit.size() * static_cast<std::size_t>(out.depth));
    out.column = 0;
    out.tab_count = 0;
}

}  // namespace

void emit_newline(output_writer& out) {
    if (out.open) write_newline(out);
}

void emit_tab(output_writer& out) {
    if (out.open) write_tab(out);
}

void sink_write(output_writer& out, std::string_view s) {
    if (!out.open) return;  // nothing open: the bytes go nowhere
    output_writer& sink = out;
    if (!sink.buffer) return;
    check_limit(sink, s.size());
    if (!make_room(sink, s.size())) {
        hand_on(sink, s.data(), s.size());
        return;
    }
    std::memcpy(sink.buffer.get() + sink.used, s.data(), s.size());
    sink.used += s.size();
}

void sink_write_lines(output_writer& out, std::string_view s) {
    if (!out.open) return;
    if (!out.crlf) {
        sink_write(out, s);
        return;
    }
    std::size_t start = 0;
    for (std::size_t lf = s.find('\n'); lf != std::string_view::npos; lf = s.find('\n', start)) {
        sink_write(out, s.substr(start, lf - start));
        sink_write(out, "\r\n");
        start = lf + 1;
    }
    sink_write(out, s.substr(start));
}

void sink_open_stream(output_writer& sink, std::FILE* stream) {
    sink.memory = nullptr;
    sink.used = 0;
    sink.failed = false;
    sink.closing = false;
    sink.crlf = false;
    sink.file = stream;
    // The sink buffers by itself; the stream passes blocks straight on.
    std::setvbuf(sink.file, nullptr, _IONBF, 0);
    if (!sink.buffer) sink.buffer = std::make_unique_for_overwrite<char[]>(buffer_size);
    set_capacity(sink);
    sink.open = true;
}

void sink_open_memory(output_writer& sink, std::string* memory) {
    sink.file = nullptr;
    sink.memory = memory;
    sink.used = 0;
    sink.failed = false;
    sink.closing = false;
    sink.crlf = false;
    if (!sink.buffer) sink.buffer = std::make_unique_for_overwrite<char[]>(buffer_size);
    set_capacity(sink);
    sink.open = true;
}

bool sink_close(output_writer& sink) {
    if (!sink.open) return true;
    sink.closing = true;
    // In memory mode the buffer holds only text within the limit.
    if (sink.buffer) flush_buffer(sink);
    sink.closing = false;
    if (sink.file != nullptr) {
        if (std::fflush(sink.file) != 0 || std::ferror(sink.file) != 0) sink.failed = true;
        sink.file = nullptr;
    }
    sink.memory = nullptr;
    sink.buffer.reset();
    sink.used = 0;
    sink.capacity = 0;
    sink.open = false;
    return !sink.failed;
}

void emit_text(output_writer& out, std::string_view s) {
    if (!out.open) return;
    const auto& classes = out.brace_indent ? classes_with_braces : classes_without_braces;
    output_writer& sink = out;
    std::size_t i = 0;
    const std::size_t n = s.size();
    while (i < n) {
        // Copy the run of plain characters up to the next special one:
        // straight into the file's buffer when the rest of the text fits.
        std::size_t j = i;
        if (n - i <= sink.capacity - sink.used) {
            char* out = sink.buffer.get() + sink.used;
            while (j < n && classes[static_cast<unsigned char>(s[j])] == PLAIN) *out++ = s[j++];
            sink.used += j - i;
        } else {
            while (j < n && classes[static_cast<unsigned char>(s[j])] == PLAIN) ++j;
            sink_write(out, s.substr(i, j - i));
        }
        if (j > i) {
            out.column += static_cast<std::int32_t>(j - i);
            i = j;
            if (i == n) break;
        }
        switch (classes[static_cast<unsigned char>(s[i])]) {
            case NEWLINE: write_newline(out); break;
            case TAB: write_tab(out); break;
            case OPEN_BRACE:
                // Four blanks outside the column count, one level deeper,
                // then the brace itself.
                sink_write(out, indent_unit);
                ++out.depth;
                sink_write(out, "{");
                ++out.column;
                break;
            case CLOSE_BRACE:
                --out.depth;
                check_depth(out);
                sink_write(out, "}");
                ++out.column;
                break;
            default: break;
        }
        ++i;
    }
}

void emit_plain(output_writer& out, std::string_view s) {
    if (!out.open) return;
    output_writer& sink = out;
    if (sink.buffer && s.size() <= sink.capacity - sink.used) {
        std::memcpy(sink.buffer.get() + sink.used, s.data(), s.size());
        sink.used += s.size();
    } else {
        sink_write(out, s);
    }
    sink.column += static_cast<std::int32_t>(s.size());
}

void emit(output_writer& out, const char* format, ...) {
    char small[512];
    std::va_list args;
    va_start(args, format);
    std::va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (n < 0) {
        va_end(again);
        return;
    }
    if (static_cast<std::size_t>(n) < sizeof small) {
        va_end(again);
        emit_text(out, std::string_view(small, static_cast<std::size_t>(n)));
        return;
    }
    // Longer than the first buffer: format again into one that fits.
    std::string large(static_cast<std::size_t>(n) + 1, '\0');
    std::vsnprintf(large.data(), large.size(), format, again);
    va_end(again);
    large.resize(static_cast<std::size_t>(n));
    emit_text(out, large);
}

void indent_more(output_writer& out) {
    if (out.open) ++out.depth;
}

void indent_less(output_writer& out) {
    if (!out.open) return;
    --out.depth;
    check_depth(out);
}

}  // namespace qrv
