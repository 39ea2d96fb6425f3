// UTF-8 as the grammar's common rules define it: no overlong forms, no
// surrogates, nothing above U+10FFFF.
#pragma once

#include <cstddef>
#include <string_view>

namespace qrv {

struct utf8_sequence {
    std::size_t length = 0;  // of the valid sequence, or 0
    std::size_t bad_at = 0;  // when invalid: the offset of the first byte that breaks it
};

// The sequence at the start of `s` (which is not empty). A cut sequence is
// broken at `s.size()`.
constexpr utf8_sequence utf8_sequence_at(std::string_view s) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char b0 = byte(0);
    std::size_t n = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        n = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        n = 3;
        if (b0 == 0xE0) low = 0xA0;
        if (b0 == 0xED) high = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        n = 4;
        if (b0 == 0xF0) low = 0x90;
        if (b0 == 0xF4) high = 0x8F;
    } else {
        return {0, 0};
    }
    for (std::size_t i = 1; i < n; ++i) {
        if (i >= s.size()) return {0, i};
        const unsigned char lo = i == 1 ? low : 0x80;
        const unsigned char hi = i == 1 ? high : 0xBF;
        if (byte(i) < lo || byte(i) > hi) return {0, i};
    }
    return {n, 0};
}

}  // namespace qrv
