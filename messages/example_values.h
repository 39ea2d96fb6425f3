// The simple values of an example message: one writer per row of
// encoding/kinds.def (least_<form>: the shortest form; random_<form>: the
// seed's), with how many bytes each may take, and the seeded generator and
// the output they share with the message writer (messages/example_writer.cpp).
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "encoding/encoding.h"

namespace qrv::examples {

// Sizes stop growing here, far beyond any limit; a sum of two never
// overflows.
inline constexpr std::uint64_t saturated = std::uint64_t{1} << 62;

inline std::uint64_t add(std::uint64_t a, std::uint64_t b) {
    return std::min(std::min(a, saturated) + std::min(b, saturated), saturated);
}
inline std::uint64_t mul(std::uint64_t a, std::uint64_t b) {
    if (a == 0 || b == 0) return 0;
    return a > saturated / b ? saturated : std::min(a * b, saturated);
}
inline std::uint64_t less(std::uint64_t a, std::uint64_t b) { return a > b ? a - b : 0; }

// splitmix64: small, fast and the same on every platform.
class splitmix64 {
public:
    explicit splitmix64(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        state_ += 0x9E3779B97F4A7C15u;
        std::uint64_t z = state_;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
        return z ^ (z >> 31);
    }
    // 0 to n - 1 (n > 0); the slight bias of the remainder does not matter.
    std::uint64_t below(std::uint64_t n) { return next() % n; }
    bool chance(unsigned percent) { return below(100) < percent; }

private:
    std::uint64_t state_;
};

// ---- output ----------------------------------------------------------------

// Text goes to a string, or through a buffer to a file. The first write the
// file refuses ends the output: nothing more is written, and failed() says
// so.
class text_out {
public:
    explicit text_out(std::string& s) : text_(s) {}
    explicit text_out(std::FILE* f) : text_(buffer_), file_(f) {}
    text_out(const text_out&) = delete;
    text_out& operator=(const text_out&) = delete;

    void put(std::string_view s) {
        if (failed_) return;
        text_.append(s);
        size_ += s.size();
        if (file_ != nullptr && text_.size() >= (1u << 16)) flush();
    }
    void put(char c) { put(std::string_view(&c, 1)); }
    // `count` times the character `c`.
    void put(char c, std::uint64_t count) {
        std::array<char, 256> chunk;
        chunk.fill(c);
        while (count > 0 && !failed_) {
            const std::size_t n = std::min<std::uint64_t>(count, chunk.size());
            put(std::string_view(chunk.data(), n));
            count -= n;
        }
    }
    // Hands the buffer to the file; false once a write failed.
    bool flush() {
        if (file_ == nullptr || failed_) return !failed_;
        if (!text_.empty() && (std::fwrite(text_.data(), 1, text_.size(), file_) != text_.size() ||
                               std::ferror(file_) != 0)) {
            failed_ = true;
        }
        text_.clear();
        return !failed_;
    }
    bool failed() const { return failed_; }
    // Bytes written so far.
    std::uint64_t size() const { return size_; }

private:
    std::string buffer_;
    std::string& text_;
    std::FILE* file_ = nullptr;
    std::uint64_t size_ = 0;
    bool failed_ = false;
};

// The bytes of the shortest form of a value (what value_writer::least
// writes), and the most a value the seed chooses may take
// (value_writer::write).
std::uint64_t least_bytes(const value_form& f, bool in_combination);
std::uint64_t most_bytes(const value_form& f);

class value_writer {
public:
    value_writer(splitmix64& random, text_out& out) : random_(random), out_(out) {}

    // One value of a simple kind as the seed chooses it (at most
    // most_bytes(f)); in a combination, integers stand at the full width of
    // their range, so adjacent integers split as written.
    void write(const value_form& f, bool in_combination);
    // The shortest form (least_bytes(f) bytes), chosen by no seed.
    void least(const value_form& f, bool in_combination);

private:
#define QRV_FORM(form, ...)                                       \
    void random_##form(const value_form& f, bool in_combination); \
    void least_##form(const value_form& f, bool in_combination);
#include "encoding/kinds.def"
#undef QRV_FORM
    using form_writer = void (value_writer::*)(const value_form&, bool);
    struct form_writers {
        form_writer random;
        form_writer least;
    };
    static const form_writers writers_[];

    void text(char open, std::uint64_t length, char close);
    void number(std::uint64_t v, std::uint32_t width = 0);
    std::uint64_t length(const value_form& f, std::uint64_t spread);
    void quoted(const value_form& f, char quote, std::string_view escaped, bool wide);
    void hex_group();
    void two_digits(std::uint64_t v) { number(v, 2); }

    splitmix64& random_;
    text_out& out_;
};

}  // namespace qrv::examples
