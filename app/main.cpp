// pvx2abnf: translates Pavex message definitions into ABNF.
#include <cstdio>

#include "app/run.h"

int main(int argc, char** argv) {
    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    return qrv::pvx2abnf_main(argc, argv, stdout);
}
