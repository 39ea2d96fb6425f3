#include "qrvutil/diagnostics.h"

#include <cstdio>

namespace qrv {

namespace {

const char* label_of(int sev) {
    switch (sev) {
        case SEV_FATAL: return "FATAL error";
        case SEV_ERROR: return "error";
        default: return "warning";
    }
}

}  // namespace

void vreport_at(run_context& run, const char* file, std::int64_t line, int sev, const char* format,
                std::va_list args) {
    std::FILE* out = run.console;
    if (file != nullptr && file[0] != '\0') {
        std::fputs(file, out);
        if (line > 0) std::fprintf(out, "(%lld)", static_cast<long long>(line));
        std::fputs(" : ", out);
    }
    std::fprintf(out, "%s: ", label_of(sev));
    std::vfprintf(out, format, args);
    std::fputc('\n', out);

    if (sev == SEV_ERROR) {
        ++run.error_count;
    } else {
        ++run.warning_count;
    }
    if (sev == SEV_FATAL) throw fatal_stop{1};
}

void report(run_context& run, int sev, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    vreport_at(run, nullptr, 0, sev, format, args);
    va_end(args);
}

void report_at(run_context& run, const char* file, std::int64_t line, int sev, const char* format,
               ...) {
    std::va_list args;
    va_start(args, format);
    vreport_at(run, file, line, sev, format, args);
    va_end(args);
}

void report_no_memory(run_context& run) {
    report(run, SEV_FATAL, "Unable to allocate memory");
    throw fatal_stop{1};  // not reached: a fatal report unwinds
}

void parse_report(parse_state& ps, int sev, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    try {
        vreport_at(*ps.run, ps.path, ps.line, sev, format, args);
    } catch (...) {
        va_end(args);
        throw;
    }
    va_end(args);
    if (sev == SEV_ERROR) ++ps.error_count;
}

void note(run_context& run, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::vfprintf(run.console, format, args);
    va_end(args);
}

}  // namespace qrv
