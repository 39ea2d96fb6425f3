// Shared pieces of the fuzz targets: a run context whose console goes
// nowhere, and the split of one input into several texts.
#pragma once

#include <cstdio>
#include <string_view>
#include <vector>

#include "model/model.h"

namespace qrv::fuzz {

inline std::FILE* null_console() {
    static std::FILE* f = std::fopen("/dev/null", "w");
    return f;
}

// Splits the input at each occurrence of the two bytes "\0\n".
inline std::vector<std::string_view> split_input(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string_view> parts;
    std::string_view all(reinterpret_cast<const char*>(data), size);
    std::size_t start = 0;
    for (;;) {
        std::size_t at = all.find(std::string_view("\0\n", 2), start);
        if (at == std::string_view::npos) break;
        parts.push_back(all.substr(start, at - start));
        start = at + 2;
    }
    parts.push_back(all.substr(start));
    return parts;
}

}  // namespace qrv::fuzz
