#include "model/storage.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>

namespace qrv {

namespace {

// Pages are taken in steps of this size (a multiple of the huge page size,
// so that the system may back a step with one large page).
constexpr std::size_t commit_step = std::size_t{4} << 20;

// Reservations tried, largest first: a system that limits the address
// space of a process (ulimit -v) still gets the largest range it allows.
constexpr std::size_t smallest_reserve = std::size_t{64} << 20;

}  // namespace

void model_storage::reserve() {
    for (std::size_t size = max_reserve; size >= smallest_reserve; size /= 4) {
        void* p =
            ::mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (p != MAP_FAILED) {
            base_ = static_cast<char*>(p);
            reserved_ = size;
            break;
        }
    }
    if (base_ == nullptr) throw std::bad_alloc();
    // Texts are at most a few times the size of the elements that name
    // them: a quarter of the range is theirs.
    records_ = part{0, reserved_ - reserved_ / 4, 0, 0};
    texts_ = part{records_.size, reserved_ / 4, 0, 0};
#ifdef MADV_HUGEPAGE
    // Large pages for records and texts: each small page costs the system
    // a fault of its own, which is dear on a virtual machine.
    ::madvise(base_, reserved_, MADV_HUGEPAGE);
#endif
}

void model_storage::extend(part& p, std::size_t end) {
    if (base_ == nullptr) reserve();
    // Sizes near the whole range wrap around when added: checked first.
    if (end > p.size || end < p.used) throw std::bad_alloc();
    if (end <= p.committed) return;
    std::size_t grow = ((end - p.committed + commit_step - 1) / commit_step) * commit_step;
    if (grow > p.size - p.committed) grow = p.size - p.committed;
    if (::mprotect(base_ + p.start + p.committed, grow, PROT_READ | PROT_WRITE) != 0) {
        throw std::bad_alloc();
    }
    p.committed += grow;
}

namespace {

constexpr std::size_t large_block = std::size_t{256} << 10;
constexpr std::size_t large_page = std::size_t{2} << 20;

}  // namespace

void* allocate_large(std::size_t bytes) {
    if (bytes < large_block) return ::operator new(bytes);
    const std::size_t size = (bytes + large_page - 1) & ~(large_page - 1);
    void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
    ::madvise(p, size, MADV_HUGEPAGE);
#endif
    return p;
}

void release_large(void* p, std::size_t bytes) {
    if (bytes < large_block) {
        ::operator delete(p);
        return;
    }
    ::munmap(p, (bytes + large_page - 1) & ~(large_page - 1));
}

void model_storage::release() {
    if (base_ != nullptr) ::munmap(base_, reserved_);
    base_ = nullptr;
    reserved_ = 0;
    records_ = part{};
    texts_ = part{};
}

}  // namespace qrv
