// The program's entry, callable in-process: the one installed header of
// the library.
#pragma once

#include <cstdio>

namespace qrv {

// The whole program: banner, options, usage or the run sequence. Writes
// everything meant for standard output to `console` and returns the exit
// status.
int pvx2abnf_main(int argc, char** argv, std::FILE* console);
// The same with the stream for the one message that cannot go to the
// console: that writing to the console failed (standard error above).
int pvx2abnf_main(int argc, char** argv, std::FILE* console, std::FILE* errors);

}  // namespace qrv
