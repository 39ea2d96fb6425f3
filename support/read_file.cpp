#include "support/read_file.h"

#include <cstdio>

namespace qrv {

bool read_whole_file(const char* path, std::string& out) {
    std::FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return false;
    char buffer[16384];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out.append(buffer, n);
    const bool ok = std::ferror(f) == 0;
    std::fclose(f);
    return ok;
}

bool read_standard_input(std::string& out) {
    char buffer[16384];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0) out.append(buffer, n);
    return std::ferror(stdin) == 0;
}

}  // namespace qrv
