// The check mode of a run: message files read whole and checked one after
// another, their errors reported as counted diagnostics.
#include <string>

#include "abnf/strict.h"
#include "check/check.h"
#include "qrvutil/diagnostics.h"
#include "qrvutil/read_file.h"

namespace qrv {

int check_message_files(run_context& run, const std::vector<std::string>& files,
                        std::string_view type_name) {
    // Messages are read in the language of the strict grammar, which
    // exists only for definitions that pass its checks.
    if (check_strict_grammar(run) > 0) {
        error_note(run, "error: The definitions fail the strict checks: no message checked\n");
        return 1;
    }
    const element* type = run.elements;
    if (!type_name.empty()) {
        type = find_message_type(run, type_name);
        if (type == nullptr) {
            const std::string name(type_name);
            error_note(run, "error: No top-level definition named %s\n", name.c_str());
            return 1;
        }
    } else if (type == nullptr) {
        error_note(run, "error: No definition to check messages against\n");
        return 1;
    }
    std::size_t valid = 0;
    for (const std::string& path : files) {
        std::string bytes;
        if (!read_whole_file(path.c_str(), bytes)) {
            error_note(run, "error: Unable to read message file: %s\n", path.c_str());
            continue;
        }
        const std::optional<check_error> error = check_message(*type, bytes);
        if (!error) {
            ++valid;
            continue;
        }
        report_at_column(run, path.c_str(), error->line, error->column, SEV_ERROR,
                         check_error_text(*error));
    }
    note(run, "%zu of %zu message(s) valid\n", valid, files.size());
    return valid == files.size() ? 0 : 1;
}

}  // namespace qrv
