// Texts of a run: immutable, NUL-terminated, each kept once in the run's
// storage with its hash and length before it, so that equal texts are the
// same text and a text is compared by its address.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "model/storage.h"

namespace qrv {

// The hash of a text, kept with it so that it is computed once: eight
// characters at a time, the same at compile time and at run time.
constexpr std::uint32_t text_hash(std::string_view s) {
    std::uint64_t h = 0x9e3779b97f4a7c15ULL ^ s.size();
    std::size_t i = 0;
    for (; i + 8 <= s.size(); i += 8) {
        std::uint64_t w = 0;
        if (std::is_constant_evaluated() || std::endian::native != std::endian::little) {
            for (std::size_t k = 0; k < 8; ++k) {
                w |= std::uint64_t{static_cast<unsigned char>(s[i + k])} << (8 * k);
            }
        } else {
            std::memcpy(&w, s.data() + i, 8);
        }
        h = (h ^ w) * 0xff51afd7ed558ccdULL;
        h ^= h >> 32;
    }
    std::uint64_t w = 0;
    for (std::size_t k = 0; i + k < s.size(); ++k) {
        w |= std::uint64_t{static_cast<unsigned char>(s[i + k])} << (8 * k);
    }
    h = (h ^ w) * 0xc4ceb9fe1a85ec53ULL;
    h ^= h >> 29;
    return static_cast<std::uint32_t>(h ^ (h >> 32));
}

// The characters of a text are stored after its hash and its length (4
// bytes each, in the machine's byte order) and before a terminating NUL.
// Texts that are not in a run's storage, such as the empty text, are built
// at compile time this way.
template <std::size_t N>
struct counted_chars {
    alignas(8) char bytes[8 + N] = {};  // N counts the terminator
    constexpr const char* chars() const { return bytes + 8; }
};

template <std::size_t N>
constexpr counted_chars<N> make_counted_chars(const char (&s)[N]) {
    counted_chars<N> out;
    const auto hash = std::bit_cast<std::array<char, 4>>(text_hash(std::string_view(s, N - 1)));
    const auto length = std::bit_cast<std::array<char, 4>>(static_cast<std::uint32_t>(N - 1));
    for (std::size_t i = 0; i < 4; ++i) out.bytes[i] = hash[i];
    for (std::size_t i = 0; i < 4; ++i) out.bytes[4 + i] = length[i];
    for (std::size_t i = 0; i < N; ++i) out.bytes[8 + i] = s[i];
    return out;
}

inline constexpr counted_chars<1> empty_text_chars = make_counted_chars("");

// An immutable, NUL-terminated text: one pointer to counted characters in
// the run's storage or in static storage. Copying a handle never copies
// the characters.
struct text {
    const char* p = empty_text_chars.chars();

    const char* c_str() const { return p; }
    std::size_t size() const {
        std::uint32_t n;
        std::memcpy(&n, p - 4, sizeof n);
        return n;
    }
    std::uint32_t hash() const {
        std::uint32_t h;
        std::memcpy(&h, p - 8, sizeof h);
        return h;
    }
    bool empty() const { return size() == 0; }
    std::string_view view() const { return {p, size()}; }
    char operator[](std::size_t i) const { return p[i]; }
    friend bool operator==(text a, std::string_view b) { return a.view() == b; }
    friend bool operator==(text a, text b) { return a.p == b.p || a.view() == b.view(); }
};

// The texts of a run, each kept once in the run's storage: equal
// characters give the same text.
class text_table {
public:
    explicit text_table(model_storage& storage) : storage_(storage) {}
    text_table(const text_table&) = delete;
    text_table& operator=(const text_table&) = delete;

    text copy(std::string_view s) { return intern(s, text_hash(s)); }
    // The same with the hash already computed (text_hash(s)).
    text copy(std::string_view s, std::uint32_t hash) { return intern(s, hash); }
    text concat(std::string_view a, std::string_view b);
    text concat(std::string_view a, std::string_view b, std::string_view c);
    // The text with these characters, if the run has one; else the empty
    // text.
    text find(std::string_view s) const;
    // Forgets every text (their storage is released with the model).
    void clear();
    // Whether `pred` holds for the characters of any text of the table.
    template <class Pred>
    bool any_of(Pred pred) const {
        for (const slot& t : slots_) {
            if (t.place != 0 && pred(text{chars_of(t)}.view())) return true;
        }
        return false;
    }

private:
    // A slot: where the text lies in the storage (0: free), and its hash,
    // which a probe compares before it reads the text.
    struct slot {
        std::uint32_t place = 0;
        std::uint32_t hash = 0;
    };
    const char* chars_of(const slot& t) const {
        return static_cast<const char*>(storage_.at_place(t.place)) + 8;
    }
    // The slot of `hash` in a table of `mask + 1` slots.
    static std::size_t slot_of(std::uint32_t hash, std::size_t mask) {
        return (static_cast<std::size_t>(hash) * 0x9e3779b97f4a7c15ULL >> 20) & mask;
    }
    text intern(std::string_view s, std::uint32_t hash);
    std::size_t probe(std::string_view s, std::uint32_t hash) const;
    void grow();

    model_storage& storage_;
    std::vector<slot> slots_;
    std::size_t used_ = 0;
    std::string scratch_;
};

// A text of the storage kept as a rel_ptr; the empty text is kept as null.
class rel_text {
public:
    text get() const {
        const char* p = ref_.get();
        return p == nullptr ? text{} : text{p};
    }
    void set(text t) { ref_.set(t.empty() ? nullptr : t.p); }
    // Whether the text is empty, without reading it.
    bool empty() const { return ref_.empty(); }

private:
    rel_ptr<const char> ref_;
};

inline constexpr auto uninitialised_chars = make_counted_chars("___QRV_UnInitialised___");
inline constexpr const char* uninitialised_marker = uninitialised_chars.chars();

}  // namespace qrv
