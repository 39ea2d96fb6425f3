// Documentation pages of the definitions read: one self-contained HTML5
// page (inline style, diagrams and script; nothing is fetched when it is
// viewed) or the same reference as GitHub-flavoured Markdown.
#pragma once

#include <cstdio>
#include <string>

#include "docpages/reference.h"
#include "model/model.h"
#include "support/diagnostics.h"

namespace qrv {

// Whether `path` asks for Markdown (".md" or ".markdown") rather than HTML.
bool is_markdown_path(const std::string& path);

void write_html_page(const doc_reference& ref, std::FILE* out);
void write_markdown(const doc_reference& ref, std::FILE* out);

// Builds the reference of the run and writes it to `path` atomically, as
// Markdown or HTML by its extension; tells through `written` whether the
// file was written. Returns the exit status of the step.
int write_doc_file(const run_context& run, diagnostics& diag, const std::string& path,
                   bool* written);

}  // namespace qrv
