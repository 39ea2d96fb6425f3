// The outputs a run can make from its definitions once post-parse
// succeeded: one function each, with one signature, in one table that the
// driver chooses from.
#pragma once

#include <optional>
#include <string>

#include "app/job.h"
#include "model/model.h"
#include "support/diagnostics.h"

namespace qrv {

// Makes the output of `j` from `model`: returns the exit status of the
// step, and tells through `written` whether it wrote its file.
using back_end_function = int (*)(const job& j, const run_context& model, diagnostics& diag,
                                  bool* written);

struct back_end {
    output_kind kind;
    // The option that asks for it ("check"), or null for the grammar.
    const char* option;
    // It writes one file, whose dependency file --depfile writes, and
    // which --warnings-as-errors keeps from being written.
    bool makes_file;
    back_end_function make;
    // Checks run on the sources as read, before post-parse (which runs only
    // while they found no error), or null.
    int (*check_sources)(run_context& model, diagnostics& diag);
    // A back end over two versions of the definitions (--compat): the old
    // one, read from the job's old sources with the same front end and
    // post-parse, and the new one; used instead of `make` when set.
    int (*compare)(const job& j, const run_context& old_model, const run_context& new_model,
                   diagnostics& diag) = nullptr;
};

const back_end& back_end_for(output_kind kind);

// The file the job's output goes to: the output file of a grammar, the
// example file; none for checks.
std::optional<std::string> output_file(const job& j);

}  // namespace qrv
