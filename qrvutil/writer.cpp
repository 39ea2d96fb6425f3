#include "qrvutil/writer.h"

#include <array>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>

namespace qrv {

namespace {

// Bytes collected before they are handed to the file in one block.
constexpr std::size_t flush_threshold = 64 * 1024;

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

void flush_buffer(output_sink& sink) {
    if (sink.buffer.empty()) return;
    if (sink.file != nullptr && !sink.failed) {
        if (std::fwrite(sink.buffer.data(), 1, sink.buffer.size(), sink.file) !=
            sink.buffer.size()) {
            sink.failed = true;
        }
    }
    // After a failed write the rest is dropped: the file is lost anyway.
    sink.buffer.clear();
}

void write_blanks(run_context& run, std::size_t n) {
    output_sink& sink = run.output;
    if (sink.memory != nullptr) {
        sink.memory->append(n, ' ');
        return;
    }
    sink.buffer.append(n, ' ');
    if (sink.buffer.size() >= flush_threshold) flush_buffer(sink);
}

void check_depth(run_context& run) {
    if (run.depth < 0) {
        note(run, "Problem with brace nesting depth encountered\n");
        ++run.error_count;
        run.depth = 0;
    }
}

// One tab: at least one blank, then on to the next multiple of 20 columns
// counted in tabs met on this line.
void write_tab(run_context& run) {
    std::int64_t column = static_cast<std::int64_t>(run.column) + 1;
    ++run.tab_count;
    const std::int64_t stop = tab_width * run.tab_count;
    if (column < stop) column = stop;
    write_blanks(run, static_cast<std::size_t>(column - run.column));
    run.column = static_cast<std::int32_t>(column);
}

void write_newline(run_context& run) {
    sink_write(run, "\n");
    if (run.depth > 0) write_blanks(run, indent_unit.size() * static_cast<std::size_t>(run.depth));
    run.column = 0;
    run.tab_count = 0;
}

}  // namespace

void sink_write(run_context& run, std::string_view s) {
    output_sink& sink = run.output;
    if (sink.memory != nullptr) {
        sink.memory->append(s);
        return;
    }
    sink.buffer.append(s);
    if (sink.buffer.size() >= flush_threshold) flush_buffer(sink);
}

bool sink_open_file(run_context& run, const char* path) {
    output_sink& sink = run.output;
    sink.memory = nullptr;
    sink.buffer.clear();
    sink.failed = false;
    sink.file = std::fopen(path, "w");
    if (sink.file == nullptr) {
        sink.open = false;
        return false;
    }
    // The sink buffers by itself; the stream passes blocks straight on.
    std::setvbuf(sink.file, nullptr, _IONBF, 0);
    sink.buffer.reserve(flush_threshold + 4096);
    sink.open = true;
    return true;
}

void sink_open_memory(run_context& run, std::string* memory) {
    output_sink& sink = run.output;
    sink.file = nullptr;
    sink.memory = memory;
    sink.buffer.clear();
    sink.failed = false;
    sink.open = true;
}

bool sink_close(run_context& run) {
    output_sink& sink = run.output;
    if (sink.file != nullptr) {
        flush_buffer(sink);
        if (std::fflush(sink.file) != 0) sink.failed = true;
        if (std::fclose(sink.file) != 0) sink.failed = true;
        sink.file = nullptr;
    }
    sink.memory = nullptr;
    sink.buffer.clear();
    sink.buffer.shrink_to_fit();
    sink.open = false;
    return !sink.failed;
}

void emit_text(run_context& run, std::string_view s) {
    const auto& classes = run.brace_indent ? classes_with_braces : classes_without_braces;
    std::size_t i = 0;
    const std::size_t n = s.size();
    while (i < n) {
        // Copy the run of plain characters up to the next special one.
        std::size_t j = i;
        while (j < n && classes[static_cast<unsigned char>(s[j])] == PLAIN) ++j;
        if (j > i) {
            sink_write(run, s.substr(i, j - i));
            run.column += static_cast<std::int32_t>(j - i);
            i = j;
            if (i == n) break;
        }
        switch (classes[static_cast<unsigned char>(s[i])]) {
            case NEWLINE: write_newline(run); break;
            case TAB: write_tab(run); break;
            case OPEN_BRACE:
                // Four blanks outside the column count, one level deeper,
                // then the brace itself.
                sink_write(run, indent_unit);
                ++run.depth;
                sink_write(run, "{");
                ++run.column;
                break;
            case CLOSE_BRACE:
                --run.depth;
                check_depth(run);
                sink_write(run, "}");
                ++run.column;
                break;
            default: break;
        }
        ++i;
    }
}

void emit(run_context& run, const char* format, ...) {
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
        emit_text(run, std::string_view(small, static_cast<std::size_t>(n)));
        return;
    }
    // Longer than the first buffer: format again into one that fits.
    std::string large(static_cast<std::size_t>(n) + 1, '\0');
    std::vsnprintf(large.data(), large.size(), format, again);
    va_end(again);
    large.resize(static_cast<std::size_t>(n));
    emit_text(run, large);
}

void indent_more(run_context& run) { ++run.depth; }

void indent_less(run_context& run) {
    --run.depth;
    check_depth(run);
}

}  // namespace qrv
