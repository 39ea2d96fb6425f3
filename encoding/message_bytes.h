// The classes of message bytes the readers of encoding/ share (the common
// rules' terms), and how an error shows a byte.
#pragma once

#include <string>

#include "encoding/encoding.h"

namespace qrv::message_bytes {

inline bool is_digit(int c) { return c >= '0' && c <= '9'; }
inline bool is_hex(int c) {
    return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
inline bool is_space(int c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
inline bool is_b64(int c) { return c >= 0 && is_base64_char(static_cast<unsigned char>(c)); }
inline bool is_safe(int c) { return c >= 0 && is_safe_char(static_cast<unsigned char>(c)); }

// "byte 0x1F".
inline std::string hex_byte(int c) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out = "byte 0x";
    out += digits[(c >> 4) & 0xF];
    out += digits[c & 0xF];
    return out;
}

}  // namespace qrv::message_bytes
