// The program's entry and run sequence, callable in-process.
#pragma once

#include <cstdio>

#include "app/options.h"
#include "model/model.h"

namespace qrv {

// The whole program: banner, options, usage or the run sequence. Writes
// everything meant for standard output to `console` and returns the exit
// status.
int pvx2abnf_main(int argc, char** argv, std::FILE* console);
// The same with the stream for the one message that cannot go to the
// console: that writing to the console failed (standard error above).
int pvx2abnf_main(int argc, char** argv, std::FILE* console, std::FILE* errors);

// Writes the usage text to the console (null file name) or into a file,
// which is replaced whole or not at all. Returns false when the file cannot
// be created or written.
bool print_usage(run_context& run, const char* file_name);

// Checks the output file against the inputs, reads the main and library
// sources (each file once), prints the summary, runs post-parse and the
// output step, and releases the model. `cursor` stands on the input
// file name; `remaining` counts it and the arguments after it. Returns the
// exit status of the run itself.
int run(run_context& run, const run_options& options, int remaining, char** cursor);

// The exit status with what the options add to the run's own `status`:
// --exit-code fails a run that counted an error or printed an error note,
// --warnings-as-errors one that counted a warning.
int final_status(const run_context& run, const run_options& options, int status);

}  // namespace qrv
