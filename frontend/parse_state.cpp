#include "frontend/parse_state.h"

namespace qrv {

element* new_element(parse_state& ps) {
    element* e = allocate_element(*ps.run);
    const text marker = marker_text(*ps.run);
    e->set_name(marker);
    e->set_c_name(marker);
    e->set_tag(marker);
    e->set_line(ps.line);
    e->set_module(ps.module);
    if (ps.frame != nullptr && ps.frame->brackets_seen) {
        // Declared after version brackets in its body: an optional extension.
        e->has_cardinality = true;
        e->cardinality_min = 0;
        e->cardinality_max = 1;
        e->cardinality_unbounded = false;
    }
    return e;
}

void parse_report(parse_state& ps, int sev, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    try {
        vreport_at(*ps.diag, ps.path, ps.line, sev, format, args);
    } catch (...) {
        va_end(args);
        throw;
    }
    va_end(args);
    if (sev == SEV_ERROR) ++ps.error_count;
}

}  // namespace qrv
