#include "docpages/docpages.h"

#include "support/atomic_file.h"

namespace qrv {

bool is_markdown_path(const std::string& path) {
    return path.ends_with(".md") || path.ends_with(".markdown") || path.ends_with(".MD");
}

int write_doc_file(const run_context& run, diagnostics& diag, const std::string& path,
                   bool* written) {
    if (run.docs == nullptr) {
        error_note(diag, "error: The sources were read without their comments: no page written\n");
        return 1;
    }
    doc_reference ref;
    if (!build_reference(run, diag, ref)) return 1;
    const char* name = path == "-" ? "/dev/stdout" : path.c_str();
    atomic_file file;
    if (!file.open(name)) {
        error_note(diag, "error: Unable to create file: %s\n", name);
        return 1;
    }
    if (is_markdown_path(path)) {
        write_markdown(ref, file.stream());
    } else {
        write_html_page(ref, file.stream());
    }
    if (!file.commit()) {
        file.abandon();
        error_note(diag, "error: Unable to write file: %s\n", name);
        return 1;
    }
    *written = true;
    return 0;
}

}  // namespace qrv
