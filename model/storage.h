// The storage of one run's model: a range of addresses reserved once, from
// which the records and texts of the run are cut front to back, and which
// is given back whole when the run's model is released. Records and texts
// have a part of the range each, so that the texts lie close together and
// every element fills one cache line of its own.
//
// Because everything a record refers to lies in the same range, a reference
// is kept as its 32-bit distance from the reference itself (`rel_ptr`):
// half the size of a pointer, and followed without knowing where the range
// begins. The range is reserved, not taken: a part's pages are committed in
// steps as its front advances, and the system provides each page when it is
// first written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <stdexcept>

namespace qrv {

class model_storage {
public:
    model_storage();
    model_storage(const model_storage&) = delete;
    model_storage& operator=(const model_storage&) = delete;
    ~model_storage();

    // `bytes` of zero-filled storage for records, aligned to `align` (a
    // power of two from 8 up to 64); std::bad_alloc when the range or the
    // system's memory is used up.
    void* allocate(std::size_t bytes, std::size_t align = 8) {
        const std::size_t start = (records_.used + align - 1) & ~(align - 1);
        const std::size_t n = (bytes + 7) & ~std::size_t{7};
        if (start > records_.committed || n > records_.committed - start) {
            extend(records_, start + n);
        }
        records_.used = start + n;
        return base_ + records_.start + start;
    }
    // The same for the characters of a text, aligned to 8.
    void* allocate_text(std::size_t bytes) {
        const std::size_t n = (bytes + 7) & ~std::size_t{7};
        if (n > texts_.committed - texts_.used) extend(texts_, texts_.used + n);
        void* p = base_ + texts_.start + texts_.used;
        texts_.used += n;
        return p;
    }

    template <class T>
    T* make() {
        static_assert(alignof(T) <= 64);
        return ::new (allocate(sizeof(T), alignof(T) < 8 ? 8 : alignof(T))) T();
    }

    // Gives every record and text back; the storage can be used again.
    void release();

    // Bytes taken by records and texts.
    std::size_t used() const { return records_.used + texts_.used; }

    // Where a record of this storage lies, in units of 8 bytes from the
    // start, plus one (0 stands for none); and the record at such a place.
    std::uint32_t place_of(const void* record) const {
        return record == nullptr
                   ? 0
                   : static_cast<std::uint32_t>((static_cast<const char*>(record) - base_) / 8 + 1);
    }
    void* at_place(std::uint32_t place) const {
        return place == 0 ? nullptr : base_ + (std::size_t{place} - 1) * 8;
    }

    // The greatest range reserved: distances of a rel_ptr reach this far.
    static constexpr std::size_t max_reserve = std::size_t{1} << 33;

private:
    // One part of the range: where it starts, how far it reaches, and how
    // much of it is committed and used (counted from its start).
    struct part {
        std::size_t start = 0;
        std::size_t size = 0;
        std::size_t committed = 0;
        std::size_t used = 0;
    };

    void reserve();
    // Commits the pages of `p` up to `end` (counted from its start).
    void extend(part& p, std::size_t end);
    // Commits whole steps of `p` from its committed end to `end` (or the
    // part's end); false when the system refuses them.
    bool commit_up_to(part& p, std::size_t end);

    char* base_ = nullptr;
    std::size_t reserved_ = 0;
    part records_;
    part texts_;
};

// A reference to a record or text in the same model_storage, kept as the
// distance from this reference in units of 4 bytes; 0 is null. A copy would
// refer to another place, so it cannot be copied: records that hold one are
// copied field by field (copy_element).
template <class T>
class rel_ptr {
public:
    rel_ptr() = default;
    rel_ptr(const rel_ptr&) = delete;
    rel_ptr& operator=(const rel_ptr&) = delete;

    T* get() const {
        if (distance_ == 0) return nullptr;
        const char* self = reinterpret_cast<const char*>(this);
        return reinterpret_cast<T*>(const_cast<char*>(self + std::ptrdiff_t{distance_} * 4));
    }

    void set(const T* target) { distance_ = target == nullptr ? 0 : distance_to(target); }

    bool empty() const { return distance_ == 0; }

private:
    std::int32_t distance_to(const void* target) const {
        const std::ptrdiff_t bytes =
            reinterpret_cast<const char*>(target) - reinterpret_cast<const char*>(this);
        // Records and texts of one storage are 4-aligned and less than
        // max_reserve apart; anything else was never stored here.
        const auto units = static_cast<std::uint64_t>(bytes >> 2);
        if ((bytes & 3) != 0 || units + (std::uint64_t{1} << 31) > 0xffffffffu || units == 0) {
            throw std::logic_error("a model reference outside its storage");
        }
        return static_cast<std::int32_t>(bytes >> 2);
    }

    std::int32_t distance_ = 0;
};

}  // namespace qrv
