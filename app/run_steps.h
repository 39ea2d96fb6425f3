// The steps of the run sequence behind pvx2abnf_main.
#pragma once

#include "app/job.h"
#include "model/model.h"
#include "support/diagnostics.h"

namespace qrv {

// Writes the usage text to the console (null file name) or into a file,
// which is replaced whole or not at all. Returns false when the file cannot
// be created or written.
bool print_usage(diagnostics& diag, const char* file_name);

// Checks the output file against the inputs, reads the main and library
// sources (each file once), prints the summary, runs post-parse and the
// back end of the job's output, and releases the model. Returns the exit
// status of the run itself.
int run(run_context& run, diagnostics& diag, const job& j);

// The exit status with what the options add to the run's own `status`:
// --exit-code fails a run that counted an error or printed an error note,
// --warnings-as-errors one that counted a warning.
int final_status(const diagnostics& diag, const run_options& options, int status);

}  // namespace qrv
