#include "support/diagnostics.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string>

#include "support/source_positions.h"
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

// The one formatting routine of counted diagnostics, for each form; a
// column greater than 0 (a message checker's position) follows the line.
void write_diagnostic(const diagnostics& diag, const char* file, std::int64_t line,
                      std::int64_t column, int sev, std::string_view message,
                      std::string_view path = {}, const diagnostic_extras& extras = {}) {
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
        if (!extras.help.empty()) {
            std::fputs(",\"help\":", out);
            put_json_string(out, extras.help);
        }
        if (extras.follow_ons > 0) {
            std::fprintf(out, ",\"follow_on\":%lld", static_cast<long long>(extras.follow_ons));
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
    if (extras.follow_ons > 0) {
        // The count goes before the newline the message may end in.
        std::string_view body = message;
        while (!body.empty() && body.back() == '\n') body.remove_suffix(1);
        std::fwrite(body.data(), 1, body.size(), out);
        std::fprintf(out, " (and %lld follow-on error%s in this statement)",
                     static_cast<long long>(extras.follow_ons), extras.follow_ons == 1 ? "" : "s");
        message.remove_prefix(body.size());
    }
    std::fwrite(message.data(), 1, message.size(), out);
    // The line is always ended here; a message that ends in its own newline
    // leaves an empty line after it, as it always has.
    std::fputc('\n', out);
}

// ANSI colours of the pretty form; empty without colour.
struct palette {
    const char* bold = "";
    const char* error = "";
    const char* warning = "";
    const char* caret = "";
    const char* help = "";
    const char* reset = "";
};

palette palette_of(const diagnostics& diag) {
    if (!diag.color) return {};
    return {"\033[1m", "\033[1;31m", "\033[1;35m", "\033[1;32m", "\033[1;36m", "\033[0m"};
}

// The pretty form: "file:line:col: label: message", the source line with
// a caret under the place (an underline under its token), a help line and
// the count of follow-on errors folded into it.
void write_pretty(const diagnostics& diag, const char* file, std::int64_t line, std::int64_t column,
                  int sev, std::string_view message, std::string_view source_line,
                  std::int64_t width, const diagnostic_extras& extras) {
    std::FILE* out = diag.console;
    const palette p = palette_of(diag);
    while (!message.empty() && message.back() == '\n') message.remove_suffix(1);
    std::fputs(p.bold, out);
    if (file != nullptr && file[0] != '\0') {
        std::fputs(file, out);
        if (line > 0) std::fprintf(out, ":%lld", static_cast<long long>(line));
        if (line > 0 && column > 0) std::fprintf(out, ":%lld", static_cast<long long>(column));
        std::fputs(": ", out);
    }
    std::fprintf(out, "%s%s:%s%s ", sev == SEV_WARNING ? p.warning : p.error, label_of(sev),
                 p.reset, p.bold);
    std::fwrite(message.data(), 1, message.size(), out);
    std::fprintf(out, "%s\n", p.reset);
    if (column > 0) {
        const std::string number = std::to_string(line);
        const std::string gutter(number.size() < 4 ? 4 : number.size(), ' ');
        std::fprintf(out, "%*s | ", static_cast<int>(gutter.size()), number.c_str());
        std::fwrite(source_line.data(), 1, source_line.size(), out);
        std::fprintf(out, "\n%s | ", gutter.c_str());
        // Blanks up to the column, a tab where the line has one, so that
        // the caret stands under the character however tabs are shown.
        std::int64_t chars = 1;
        for (std::size_t i = 0; i < source_line.size() && chars < column; ++chars) {
            const std::size_t n =
                std::max<std::size_t>(1, utf8_sequence_at(source_line.substr(i)).length);
            std::fputc(source_line[i] == '\t' ? '\t' : ' ', out);
            i += n;
        }
        std::fprintf(out, "%s^", p.caret);
        for (std::int64_t k = 1; k < width; ++k) std::fputc('~', out);
        std::fprintf(out, "%s\n", p.reset);
    }
    if (!extras.help.empty()) {
        std::fprintf(out, "%shelp:%s ", p.help, p.reset);
        std::fwrite(extras.help.data(), 1, extras.help.size(), out);
        std::fputc('\n', out);
    }
    if (extras.follow_ons > 0) {
        std::fprintf(out, "%snote:%s and %lld follow-on error%s in this statement\n", p.help,
                     p.reset, static_cast<long long>(extras.follow_ons),
                     extras.follow_ons == 1 ? "" : "s");
    }
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
    if (diag.format == diagnostic_format::pretty) {
        write_pretty(diag, file, line, 0, sev, message, {}, 0, {});
    } else {
        write_diagnostic(diag, file, line, 0, sev, message);
    }
    count_diagnostic(diag, sev);
}

void report_at_column(diagnostics& diag, const char* file, std::int64_t line, std::int64_t column,
                      int sev, std::string_view message, std::string_view path) {
    if (diag.format == diagnostic_format::pretty) {
        const std::string text =
            path.empty() ? std::string(message) : std::string(path) + ": " + std::string(message);
        // The line shown under the message, when the file's text is kept.
        std::string_view source_line;
        if (diag.sources == nullptr || file == nullptr ||
            !diag.sources->line(file, line, &source_line)) {
            column = 0;
        }
        write_pretty(diag, file, line, column, sev, text, source_line, 1, {});
        count_diagnostic(diag, sev);
        return;
    }
    write_diagnostic(diag, file, line, column, sev, message, path);
    count_diagnostic(diag, sev);
}

void report_place(diagnostics& diag, const source_place& place, int sev, std::string_view message,
                  const diagnostic_extras& extras) {
    std::int64_t line = place.line;
    std::int64_t column = 0;
    std::int64_t width = 0;
    std::string_view text;
    const bool has_file = place.file != nullptr && place.file[0] != '\0';
    if (diag.file_positions && diag.sources != nullptr && has_file) {
        source_texts& sources = *diag.sources;
        std::size_t byte = 0;
        std::int64_t at_line = 0;
        if (place.offset != source_place::no_offset &&
            sources.locate(place.file, place.offset, &at_line, &byte) &&
            sources.line(place.file, at_line, &text)) {
            line = at_line;
            const std::size_t start = token_start_before(text, byte);
            column = column_of(text, start);
            width = width_of(text.substr(start, token_length_at(text, start)));
        } else if (line > 0 && sources.line(place.file, line, &text)) {
            // The name on its line, or on one of the few after it where a
            // declaration goes on; else the line's first character.
            std::string_view found_text = text;
            std::size_t at = std::string_view::npos;
            for (std::int64_t l = line; l < line + 8 && at == std::string_view::npos; ++l) {
                std::string_view candidate;
                if (!sources.line(place.file, l, &candidate)) break;
                at = find_token(candidate, place.token);
                if (at != std::string_view::npos) {
                    line = l;
                    found_text = candidate;
                }
            }
            text = found_text;
            if (at == std::string_view::npos) {
                at = 0;
                while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
                width = 1;
            } else {
                width = width_of(place.token);
            }
            column = column_of(text, at);
        }
    }
    if (diag.format == diagnostic_format::pretty) {
        write_pretty(diag, place.file, line, column, sev, message, text, width, extras);
    } else {
        write_diagnostic(diag, place.file, line, column, sev, message, {}, extras);
    }
    count_diagnostic(diag, sev);
}

std::string format_text(const char* format, std::va_list args) {
    std::va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    return text;
}

void report_place_f(diagnostics& diag, const source_place& place, int sev, std::string_view help,
                    const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    const std::string message = format_text(format, args);
    va_end(args);
    diagnostic_extras extras;
    extras.help = help;
    report_place(diag, place, sev, message, extras);
}

bool may_suggest(diagnostics& diag, std::size_t candidates) {
    if (!diag.file_positions || diag.suggestions_left <= 0) return false;
    // A search refused for its size counts too: its names were gathered.
    --diag.suggestions_left;
    return candidates <= max_suggestion_candidates;
}

void help_note(diagnostics& diag, std::string_view text) {
    if (diag.format != diagnostic_format::pretty || text.empty()) return;
    const palette p = palette_of(diag);
    std::fprintf(diag.console, "%shelp:%s ", p.help, p.reset);
    std::fwrite(text.data(), 1, text.size(), diag.console);
    std::fputc('\n', diag.console);
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
    std::string text = format_text(format, args);
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
    diag.summary_due = false;
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
