// The ABNF file: the output step, the header, one rule per top-level
// element, the common rules, and the list of definitions nothing refers to.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <limits>
#include <system_error>
#include <thread>

#include "abnf/default_grammar.h"
#include "abnf/references.h"
#include "abnf/rule_writer.h"
#include "abnf/strict_grammar.h"
#include "support/atomic_file.h"
#include "support/diagnostics.h"
#include "support/output_writer.h"
#include "support/signals.h"

namespace qrv {

namespace {

// not_written: the file could not be completed; stopped: a write failed
// while the grammar was being written, so the rest was not generated.
enum class file_result { written, not_created, not_written, stopped };

constexpr const char* weekday_names[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* month_names[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Written through the formatter without arguments: no "%" and no braces.
constexpr std::string_view notice_block =
    ";\n"
    "; Disclaimer\n"
    ";\n"
    "; This file is generated from the message definitions named above and is\n"
    "; provided as is, without warranty of any kind, express or implied,\n"
    "; including fitness for a particular purpose and correctness of the rules.\n"
    ";\n"
    "; The authors accept no liability for any damage arising from its use.\n"
    ";\n"
    "; Change the definitions rather than this file: changes made here are\n"
    "; lost when the file is generated again.\n"
    ";\n"
    "\n";

// A plain non-negative decimal number that fits the platform's time.
bool parse_epoch(const char* s, std::time_t& out) {
    if (s == nullptr || *s == '\0') return false;
    std::uint64_t value = 0;
    constexpr auto limit = static_cast<std::uint64_t>(std::numeric_limits<std::time_t>::max());
    for (const char* p = s; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') return false;
        const auto digit = static_cast<std::uint64_t>(*p - '0');
        if (value > (limit - digit) / 10) return false;
        value = value * 10 + digit;
    }
    out = static_cast<std::time_t>(value);
    return true;
}

void write_header(output_writer& out, const std::tm& tm, const char* path) {
    emit_text(out, "; Created by pavex2abnf\n");
    emit(out, "; From: %s\n", path);
    emit(out, "; On: %s\n", date_line_text(tm).c_str());
    emit(out, "; Generated in %04d. The notice below applies to the whole file.\n",
         tm.tm_year + 1900);
    emit_text(out, notice_block);
}

void write_text(const run_context& run, output_writer& out, diagnostics& diag,
                const grammar_settings& settings) {
    const std::tm& tm = settings.header_time;
    const char* path = run.input_path != nullptr ? run.input_path : "";
    if (settings.strict) {
        // Lines end in CR LF, as RFC 5234 has them; no byte of the path may
        // end its comment line or move the layout.
        out.crlf = true;
        write_header(out, tm, comment_text(path).c_str());
        write_strict_rules(run, out, diag, settings.root);
        sink_write_lines(out, "\n\n");
        sink_write_lines(out, strict_common_rules());
        out.crlf = false;
        return;
    }
    write_header(out, tm, path);
    // The rules of 64 top-level definitions make a batch of about 40 KB.
    write_rules(run, out, diag, 64, settings.threads);
    sink_write(out, "\n\n");
    sink_write(out, common_rules());
}

// The file is written whole or not at all: an existing one stays as it was
// when anything fails on the way (see atomic_file).
file_result write_file(const run_context& run, diagnostics& diag, const grammar_settings& settings,
                       const char* path) {
    atomic_file file;
    if (!file.open(path)) {
        error_note(diag, "error: Unable to create output file: %s\n", path);
        return file_result::not_created;
    }
    output_writer writer;
    writer.diag = &diag;
    sink_open_stream(writer, file.stream());
    try {
        write_text(run, writer, diag, settings);
    } catch (const output_write_failed&) {
        sink_close(writer);
        file.abandon();
        error_note(diag, "error: Unable to write output file: %s\n", path);
        return file_result::stopped;
    } catch (...) {
        sink_close(writer);
        file.abandon();
        throw;
    }
    const bool written = sink_close(writer);
    if (!written || !file.commit()) {
        file.abandon();
        error_note(diag, "error: Unable to write output file: %s\n", path);
        return file_result::not_written;
    }
    return file_result::written;
}

}  // namespace

std::tm header_time(const char* source_date_epoch) {
    std::tm tm{};
    std::time_t t = 0;
    // Years beyond four digits do not fit the date line; such a value is
    // ignored like one the platform cannot convert.
    if (parse_epoch(source_date_epoch, t) && ::gmtime_r(&t, &tm) != nullptr &&
        tm.tm_year <= 9999 - 1900) {
        return tm;
    }
    tm = std::tm{};
    t = std::time(nullptr);
    if (::localtime_r(&t, &tm) == nullptr) tm = std::tm{};
    return tm;
}

std::string date_line_text(const std::tm& tm) {
    const char* weekday = tm.tm_wday >= 0 && tm.tm_wday < 7 ? weekday_names[tm.tm_wday] : "???";
    const char* month = tm.tm_mon >= 0 && tm.tm_mon < 12 ? month_names[tm.tm_mon] : "???";
    char line[96];
    std::snprintf(line, sizeof line, "%s %s %02d %02d:%02d:%02d %04d", weekday, month, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec, tm.tm_year + 1900);
    return line;
}

void report_unreferenced(const run_context& run, const reference_counts& counts,
                         diagnostics& diag) {
    for (const element* e = run.elements; e != nullptr; e = e->next()) {
        if (e != run.elements && counts.of(*e) == 0) {
            note(diag, "%-15s : has not been referenced\n", e->name().c_str());
        }
    }
}

void write_abnf_to_memory(const run_context& run, diagnostics& diag,
                          const grammar_settings& settings, std::string& out) {
    output_writer writer;
    write_abnf_to_memory(run, diag, settings, writer, out);
}

void write_abnf_to_memory(const run_context& run, diagnostics& diag,
                          const grammar_settings& settings, output_writer& writer,
                          std::string& out) {
    out.clear();
    if (writer.diag == nullptr) writer.diag = &diag;
    sink_open_memory(writer, &out);
    try {
        write_text(run, writer, diag, settings);
    } catch (...) {
        sink_close(writer);
        throw;
    }
    sink_close(writer);
}

int write_output(const run_context& run, diagnostics& diag, const char* output,
                 const grammar_settings& settings, bool* written) {
    if (written != nullptr) *written = false;
    if (output == nullptr) {
        error_note(diag, "error: Output file not specified\n");
        return 0;
    }
    // The strict grammar is written only when it passes its checks.
    if (settings.strict && check_strict_grammar(run, diag) > 0) return 0;
    // A grammar rooted elsewhere holds only what its root reaches: every
    // definition in it but the root is referenced.
    const bool counted = settings.list_unreferenced && settings.root == nullptr;
    reference_counts counts;
    std::exception_ptr failure;
    std::atomic<bool> stop{false};
    auto count = [&] {
        try {
            counts = settings.strict ? strict_grammar_references(run)
                                     : default_grammar_references(run, &stop);
        } catch (...) {
            failure = std::current_exception();
        }
    };
    // With two threads the references are counted beside the writing: both
    // only read the frozen model, and the notes come after the file as
    // they always do. Where no thread can be had, they are counted after.
    std::thread counter;
    if (counted && settings.threads > 1) {
        try {
            counter = helper_thread(count);
        } catch (const std::system_error&) {
        }
    }
    struct joined {
        std::thread& t;
        std::atomic<bool>& stop;
        ~joined() {
            stop = true;
            if (t.joinable()) t.join();
        }
    } join_counter{counter, stop};
    const file_result result = write_file(run, diag, settings, output);
    // Counts of a grammar whose writing stopped part way are not wanted.
    if (result == file_result::stopped || result == file_result::not_created) stop = true;
    const bool aside = counter.joinable();
    if (aside) counter.join();
    if (result == file_result::not_created) return 1;
    // After a stopped write only part of the grammar is there: nothing is
    // reported about what it refers to.
    if (result != file_result::stopped && counted) {
        if (!aside) count();
        if (failure) std::rethrow_exception(failure);
        report_unreferenced(run, counts, diag);
    }
    if (written != nullptr) *written = result == file_result::written;
    return result == file_result::written ? 0 : 1;
}

}  // namespace qrv
