#include "support/diagnostics.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "support/utf8.h"

namespace qrv {

namespace {

const char* label_of(int sev) {
    switch (sev) {
        case SEV_FATAL: return "FATAL error";
        case SEV_ERROR: return "error";
        default: return "warning";
    }
}

const char* json_severity_of(int sev) {
    switch (sev) {
        case SEV_FATAL: return "fatal";
        case SEV_ERROR: return "error";
        default: return "warning";
    }
}

// `s` as a JSON string with its quotes. Control characters, '"' and '\'
// are escaped; valid UTF-8 is kept; any other byte from 0x80 up becomes
// \u00XX (the byte read as Latin-1), so every input gives valid JSON.
void put_json_string(std::FILE* out, std::string_view s) {
    std::fputc('"', out);
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c >= 0x80) {
            const std::size_t n = utf8_sequence_at(s.substr(i)).length;
            if (n > 0) {
                std::fwrite(s.data() + i, 1, n, out);
                i += n;
            } else {
                std::fprintf(out, "\\u%04x", c);
                ++i;
            }
            continue;
        }
        switch (c) {
            case '"': std::fputs("\\\"", out); break;
            case '\\': std::fputs("\\\\", out); break;
            case '\n': std::fputs("\\n", out); break;
            case '\r': std::fputs("\\r", out); break;
            case '\t': std::fputs("\\t", out); break;
            default:
                if (c < 0x20) {
                    std::fprintf(out, "\\u%04x", c);
                } else {
                    std::fputc(c, out);
                }
        }
        ++i;
    }
    std::fputc('"', out);
}

// The one formatting routine of counted diagnostics, for each form; a
// column greater than 0 (a message checker's position) follows the line.
void write_diagnostic(const diagnostics& diag, const char* file, std::int64_t line,
                      std::int64_t column, int sev, std::string_view message,
                      std::string_view path = {}) {
    std::FILE* out = diag.console;
    const diagnostic_format form = diag.format;
    const bool has_file = file != nullptr && file[0] != '\0';
    if (form == diagnostic_format::json) {
        // One object per line: a message text that ends in its own newline
        // is written without it.
        while (!message.empty() && message.back() == '\n') message.remove_suffix(1);
        std::fputs(diag.json_stream ? "{\"kind\":\"diagnostic\",\"file\":" : "{\"file\":", out);
        if (has_file) {
            put_json_string(out, file);
        } else {
            std::fputs("null", out);
        }
        if (has_file && line > 0) {
            std::fprintf(out, ",\"line\":%lld", static_cast<long long>(line));
        } else {
            std::fputs(",\"line\":null", out);
        }
        if (has_file && line > 0 && column > 0) {
            std::fprintf(out, ",\"column\":%lld", static_cast<long long>(column));
        }
        std::fprintf(out, ",\"severity\":\"%s\",\"message\":", json_severity_of(sev));
        if (diag.json_stream) {
            put_json_string(out, message);
            if (!path.empty()) {
                std::fputs(",\"path\":", out);
                put_json_string(out, path);
            }
        } else if (!path.empty()) {
            put_json_string(out, std::string(path) + ": " + std::string(message));
        } else {
            put_json_string(out, message);
        }
        std::fputs("}\n", out);
        return;
    }
    if (has_file) {
        std::fputs(file, out);
        const auto l = static_cast<long long>(line);
        const auto c = static_cast<long long>(column);
        if (form == diagnostic_format::gcc) {
            if (line > 0 && column > 0) {
                std::fprintf(out, ":%lld:%lld", l, c);
            } else if (line > 0) {
                std::fprintf(out, ":%lld", l);
            }
            std::fputs(": ", out);
        } else {
            if (line > 0 && column > 0) {
                std::fprintf(out, "(%lld,%lld)", l, c);
            } else if (line > 0) {
                std::fprintf(out, "(%lld)", l);
            }
            std::fputs(" : ", out);
        }
    }
    std::fprintf(out, "%s: ", label_of(sev));
    if (!path.empty()) {
        std::fwrite(path.data(), 1, path.size(), out);
        std::fputs(": ", out);
    }
    std::fwrite(message.data(), 1, message.size(), out);
    // The line is always ended here; a message that ends in its own newline
    // leaves an empty line after it, as it always has.
    std::fputc('\n', out);
}

// Counts a diagnostic just written; a fatal one unwinds to the entry.
void count_diagnostic(diagnostics& diag, int sev) {
    if (sev == SEV_ERROR) {
        ++diag.error_count;
    } else {
        ++diag.warning_count;
    }
    if (sev == SEV_FATAL) throw fatal_stop{1};
}

}  // namespace

void vreport_at(diagnostics& diag, const char* file, std::int64_t line, int sev, const char* format,
                std::va_list args) {
    // Most messages fit the small buffer, so the fatal out-of-memory report
    // needs no allocation.
    char small[512];
    std::string large;
    std::va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(small, sizeof small, format, args);
    std::string_view message;
    if (length < 0) {
        message = {};
    } else if (static_cast<std::size_t>(length) < sizeof small) {
        message = std::string_view(small, static_cast<std::size_t>(length));
    } else {
        try {
            large.resize(static_cast<std::size_t>(length) + 1);
        } catch (...) {
            va_end(again);
            throw;
        }
        std::vsnprintf(large.data(), large.size(), format, again);
        message = std::string_view(large.data(), static_cast<std::size_t>(length));
    }
    va_end(again);
    write_diagnostic(diag, file, line, 0, sev, message);
    count_diagnostic(diag, sev);
}

void report_at_column(diagnostics& diag, const char* file, std::int64_t line, std::int64_t column,
                      int sev, std::string_view message, std::string_view path) {
    write_diagnostic(diag, file, line, column, sev, message, path);
    count_diagnostic(diag, sev);
}

void report(diagnostics& diag, int sev, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    vreport_at(diag, nullptr, 0, sev, format, args);
    va_end(args);
}

void report_at(diagnostics& diag, const char* file, std::int64_t line, int sev, const char* format,
               ...) {
    std::va_list args;
    va_start(args, format);
    vreport_at(diag, file, line, sev, format, args);
    va_end(args);
}

void report_no_memory(diagnostics& diag) {
    report(diag, SEV_FATAL, "Unable to allocate memory");
    throw fatal_stop{1};  // not reached: a fatal report unwinds
}

namespace {

// A plain note: its text as it stands, or in a stream of JSON lines an
// object of its own.
void write_note(diagnostics& diag, bool failure, const char* format, std::va_list args) {
    if (!diag.json_stream) {
        std::vfprintf(diag.console, format, args);
        return;
    }
    std::va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    while (!text.empty() && text.back() == '\n') text.pop_back();
    std::fprintf(diag.console,
                 "{\"kind\":\"note\",\"severity\":\"%s\",\"message\":", failure ? "error" : "info");
    put_json_string(diag.console, text);
    std::fputs("}\n", diag.console);
}

}  // namespace

void note(diagnostics& diag, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    write_note(diag, false, format, args);
    va_end(args);
}

void error_note(diagnostics& diag, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    write_note(diag, true, format, args);
    va_end(args);
    ++diag.error_note_count;
}

void write_summary(diagnostics& diag) {
    if (diag.json_stream) {
        std::fprintf(diag.console, "{\"kind\":\"summary\",\"errors\":%lld,\"warnings\":%lld}\n",
                     static_cast<long long>(diag.error_count),
                     static_cast<long long>(diag.warning_count));
        return;
    }
    std::fprintf(diag.console, "%lld error(s), %lld warning(s)\n",
                 static_cast<long long>(diag.error_count),
                 static_cast<long long>(diag.warning_count));
}

}  // namespace qrv
