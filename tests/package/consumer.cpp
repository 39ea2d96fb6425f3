// Runs a whole translation in-process through the installed library and
// checks what the run printed.
//
//   consumer <arguments of pvx2abnf>
//
// Prints the console text of the run; exits non-zero when the run failed
// or its console text lacks the banner or a clean summary.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/run.h"

int main(int argc, char** argv) {
    char* console_text = nullptr;
    std::size_t console_size = 0;
    std::FILE* console = open_memstream(&console_text, &console_size);
    if (console == nullptr) return 2;

    const int status = qrv::pvx2abnf_main(argc, argv, console);
    std::fclose(console);

    std::fputs(console_text, stdout);
    const bool banner = std::strncmp(console_text, "pvx2abnf version ", 17) == 0;
    const bool clean = std::strstr(console_text, "\n0 error(s), 0 warning(s)\n") != nullptr;
    std::free(console_text);
    if (status != 0) {
        std::fprintf(stderr, "consumer: the run ended with status %d\n", status);
        return 1;
    }
    if (!banner || !clean) {
        std::fprintf(stderr, "consumer: the run printed no banner or no clean summary\n");
        return 1;
    }
    return 0;
}
