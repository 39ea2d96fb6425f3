#include "abnf/abnf.h"
// (stub: replaced by the generator)
namespace qrv {
int write_output(run_context&, int, char**) { return 0; }
bool write_abnf_file(run_context&, const char*) { return false; }
void write_abnf_to_memory(run_context&, std::string&) {}
void write_value(run_context&, element*) {}
void end_line(run_context&) {}
}  // namespace qrv
