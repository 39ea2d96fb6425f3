#include "frontend/parse_state.h"

#include <cstdio>
#include <string>

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
        if (ps.run->docs != nullptr) ps.run->docs->extensions.insert(e->id);
    }
    return e;
}

void parse_report(parse_state& ps, int sev, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    if (!ps.diag->file_positions) {
        try {
            vreport_at(*ps.diag, ps.path, ps.line, sev, format, args);
        } catch (...) {
            va_end(args);
            throw;
        }
        va_end(args);
        if (sev == SEV_ERROR) ++ps.error_count;
        return;
    }
    std::string message = format_text(format, args);
    va_end(args);
    if (sev == SEV_ERROR) ++ps.error_count;
    pending_error& p = ps.pending;
    if (ps.diag->one_per_mistake && sev == SEV_ERROR) {
        if (p.active) {
            ++p.follow_ons;
            return;
        }
        p.active = true;
        p.sev = sev;
        p.line = ps.line_offset + ps.line;
        p.offset = reader_offset(ps);
        p.follow_ons = 0;
        p.message = std::move(message);
        p.help.clear();
        return;
    }
    flush_pending_error(ps);
    source_place place;
    place.file = ps.path;
    place.line = ps.line_offset + ps.line;
    place.offset = reader_offset(ps);
    report_place(*ps.diag, place, sev, message);
}

void parse_help(parse_state& ps, std::string_view help) {
    if (ps.pending.active && ps.pending.follow_ons == 0 && ps.pending.help.empty()) {
        ps.pending.help = help;
    }
}

void flush_pending_error(parse_state& ps) {
    pending_error& p = ps.pending;
    if (!p.active) return;
    p.active = false;
    source_place place;
    place.file = ps.path;
    place.line = p.line;
    place.offset = p.offset;
    diagnostic_extras extras;
    extras.help = p.help;
    extras.follow_ons = p.follow_ons;
    report_place(*ps.diag, place, p.sev, p.message, extras);
}

}  // namespace qrv
