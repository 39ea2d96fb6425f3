// The check mode of a run: message files read whole and checked one after
// another, their errors reported as counted diagnostics.
#include <string>

#include "abnf/strict_grammar.h"
#include "messages/checker.h"
#include "support/diagnostics.h"
#include "support/read_file.h"
#include "support/source_positions.h"

namespace qrv {

void report_verdict(diagnostics& diag, const std::string& path, const check_result& result) {
    if (result.verdict == check_verdict::valid) return;
    if (result.verdict == check_verdict::undecided) {
        // Not a fault shown at a place: the search gave up.
        note(diag,
             "%s: undecided: the search for a reading gave up after %zu steps; the reading "
             "it prefers fails at line %lld, column %lld (%s)\n",
             path.c_str(), result.search_steps, static_cast<long long>(result.error.line),
             static_cast<long long>(result.error.column), check_error_text(result.error).c_str());
        return;
    }
    report_at_column(diag, path.c_str(), result.error.line, result.error.column, SEV_ERROR,
                     result.error.message, result.error.path);
}

int check_message_files(const run_context& run, diagnostics& diag,
                        const std::vector<std::string>& files, std::string_view type_name,
                        bool closed) {
    // Messages are read in the language of the strict grammar, which
    // exists only for definitions that pass its checks.
    if (check_strict_grammar(run, diag) > 0) {
        error_note(diag, "error: The definitions fail the strict checks: no message checked\n");
        return 1;
    }
    const element* type = run.elements;
    if (!type_name.empty()) {
        type = find_message_type(run, type_name);
        if (type == nullptr) {
            const std::string name(type_name);
            error_note(diag, "error: No top-level definition named %s\n", name.c_str());
            return 1;
        }
    } else if (type == nullptr) {
        error_note(diag, "error: No definition to check messages against\n");
        return 1;
    }
    std::size_t valid = 0;
    std::size_t undecided = 0;
    for (const std::string& path : files) {
        std::string bytes;
        // "-" is standard input.
        const bool read =
            path == "-" ? read_standard_input(bytes) : read_whole_file(path.c_str(), bytes);
        if (!read) {
            error_note(diag, "error: Unable to read message file: %s\n", path.c_str());
            continue;
        }
        // The pretty form shows the line of an error under it.
        if (diag.format == diagnostic_format::pretty && diag.sources != nullptr) {
            diag.sources->keep(path, bytes);
        }
        const check_result result = check_message(*type, bytes, {}, closed);
        if (result.verdict == check_verdict::valid) {
            ++valid;
        } else {
            if (result.verdict == check_verdict::undecided) ++undecided;
            report_verdict(diag, path, result);
        }
    }
    if (undecided > 0) {
        note(diag, "%zu of %zu message(s) valid, %zu undecided\n", valid, files.size(), undecided);
    } else {
        note(diag, "%zu of %zu message(s) valid\n", valid, files.size());
    }
    if (valid + undecided < files.size()) return 1;
    return undecided > 0 ? 2 : 0;
}

}  // namespace qrv
