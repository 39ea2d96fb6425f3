// The files a run reads and writes, known from the command line before
// anything is read: the output is never one of the inputs.
#pragma once

#include <string>
#include <vector>

#include "support/diagnostics.h"
#include "support/file_identity.h"

namespace qrv {

// A file the run reads or tries to read: a source file named on the command
// line, or the directive file beside one (the source's path and "cfg").
struct input_file : file_identity {
    bool is_directive_file = false;
};

// The files a run reads, in command-line order, each source file followed
// by its directive file; a source file named again is listed once, and its
// mention is marked in `again` (one entry per source of the job).
struct run_inputs {
    std::vector<input_file> files;
    std::vector<bool> again;
};
run_inputs list_inputs(const std::vector<std::string>& sources);

// Whether `output` may be written: it is none of the inputs, and no
// existing definition or directive file is overwritten. Otherwise it prints
// an error note.
bool output_is_safe(diagnostics& diag, const run_inputs& inputs, const char* output);

// The same for a file that is no output of the run: refuses an existing
// definition or directive file (the usual slip is a "+" left out).
bool refuse_definition_file(diagnostics& diag, const char* path);

// Whether the dependency file may be written: it is none of the inputs, not
// the output, and every name of its rule can be written in it.
bool depfile_is_safe(diagnostics& diag, const run_inputs& inputs, const char* depfile,
                     const char* output);

// The files an output was made from: every source file, and every directive
// file that was there to be read.
std::vector<std::string> prerequisites(const run_inputs& inputs);

}  // namespace qrv
