// ABNF generation: the rules of each element and the assembly of the file.
#pragma once

#include <string>

#include "model/model.h"

namespace qrv {

// The output step: takes the output file name at the argument cursor,
// writes the file and lists the definitions nothing refers to. Returns the
// exit status (0, or 1 when the file could not be created or written).
int write_output(run_context& run, int remaining, char** cursor);

// Writes the whole ABNF file; false when it could not be created or written.
bool write_abnf_file(run_context& run, const char* path);

// The same text into memory (tests, fuzzing).
void write_abnf_to_memory(run_context& run, std::string& out);

// The right-hand side of one element's rule, and the end of an output line.
void write_value(run_context& run, element* e);
void end_line(run_context& run);

}  // namespace qrv
