#include "listing/definitions.h"

#include <string>
#include <vector>

#include "abnf/references.h"
#include "abnf/strict_grammar.h"
#include "encoding/encoding.h"
#include "support/source_positions.h"

namespace qrv {

namespace {

// The column of the definition's name on its line, 0 when the line cannot
// be read.
std::int64_t column_of_name(diagnostics& diag, const source_place& place) {
    std::string_view line;
    if (diag.sources == nullptr || place.file == nullptr ||
        !diag.sources->line(place.file, place.line, &line)) {
        return 0;
    }
    const std::size_t at = find_token(line, place.token);
    return at == std::string_view::npos ? 0 : column_of(line, at);
}

}  // namespace

void list_definitions(const run_context& run, diagnostics& diag, std::FILE* out, bool json) {
    // What the default grammar counts for its "has not been referenced"
    // notes: every reference a member makes.
    const reference_counts counts = default_grammar_references(run);
    const std::vector<const module_record*> modules = declaring_modules(run);
    std::size_t i = 0;
    for (const element* e = run.elements; e != nullptr; e = e->next(), ++i) {
        const module_record* m = i < modules.size() ? modules[i] : e->module();
        std::string name;
        if (m != nullptr && !m->name.empty()) name = std::string(m->name.view()) + "::";
        name += e->name().view();
        const source_place place = place_in_module(run, diag, m, e->line(), e->name().view());
        const std::int64_t column = column_of_name(diag, place);
        const char* file = place.file != nullptr ? place.file : "";
        const bool referenced = counts.of(*e) > 0;
        if (json) {
            std::fputs("{\"name\":", out);
            put_json_string(out, name);
            std::fputs(",\"kind\":", out);
            put_json_string(out, keyword_of(e->kind));
            std::fputs(",\"file\":", out);
            put_json_string(out, file);
            std::fprintf(out, ",\"line\":%lld,\"column\":%lld,\"referenced\":%s}\n",
                         static_cast<long long>(place.line), static_cast<long long>(column),
                         referenced ? "true" : "false");
        } else {
            std::fprintf(out, "%s %s %s:%lld:%lld%s\n", name.c_str(), keyword_of(e->kind), file,
                         static_cast<long long>(place.line), static_cast<long long>(column),
                         referenced ? "" : " unreferenced");
        }
    }
}

}  // namespace qrv
