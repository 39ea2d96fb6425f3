// pvx2abnf: translates Pavex message definitions into ABNF.
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

#include "app/run.h"

namespace {

bool is_open(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

}  // namespace

int main(int argc, char** argv) {
    // A reader that goes away (pvx2abnf ... | head) makes writes to standard
    // output fail, which the run reports at its end, instead of killing the
    // process in the middle of writing the grammar.
    std::signal(SIGPIPE, SIG_IGN);
    // Likewise a file size limit (ulimit -f): the write that reaches it
    // fails, and the run reports it and removes its temporary.
    std::signal(SIGXFSZ, SIG_IGN);

    // A standard stream that was closed gets /dev/null, so that no file the
    // run opens takes its number; a closed standard output still counts as
    // one that could not be written.
    const bool stdout_closed = !is_open(STDOUT_FILENO);
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (!is_open(fd)) ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    }

    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    int status = qrv::pvx2abnf_main(argc, argv, stdout, stderr);
    if (stdout_closed) {
        std::fputs("pvx2abnf: error writing standard output\n", stderr);
        status = 1;
    }
    return status;
}
