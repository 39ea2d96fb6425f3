#include "model/storage.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>

namespace qrv {

namespace {

// Pages are taken in steps of this size (a multiple of the huge page size,
// so that the system may back a step with one large page).
constexpr std::size_t commit_step = std::size_t{4} << 20;

// The smallest range reserved: one step of pages, enough for a small schema.
constexpr std::size_t smallest_reserve = commit_step;

void* map_range(std::size_t size) {
    void* p = ::mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

bool range_fits(std::size_t size) {
    void* p = map_range(size);
    if (p != nullptr) ::munmap(p, size);
    return p != nullptr;
}

}  // namespace

model_storage::model_storage() = default;

model_storage::~model_storage() { release(); }

void model_storage::reserve() {
    std::size_t size = max_reserve;
    void* p = map_range(size);
    if (p == nullptr) {
        // The address space is limited (ulimit -v): the largest range that
        // fits is found to a step, and three quarters of it are taken. The
        // rest is for what the run needs besides the model (its tables and
        // buffers, the stacks of its threads), about a quarter as much; a
        // range of a fixed size or a power of two would leave that part
        // nothing under some limits, and a run could fail under a larger
        // limit where it succeeded under a smaller one.
        std::size_t fits = max_reserve / 2;
        while (fits >= smallest_reserve && !range_fits(fits)) fits /= 2;
        if (fits < smallest_reserve) throw std::bad_alloc();
        for (std::size_t too_large = fits * 2; too_large - fits > commit_step;) {
            const std::size_t middle = (fits + too_large) / 2 / commit_step * commit_step;
            (range_fits(middle) ? fits : too_large) = middle;
        }
        size = std::max(smallest_reserve, (fits - fits / 4) / commit_step * commit_step);
        p = map_range(size);
        if (p == nullptr) throw std::bad_alloc();
    }
    base_ = static_cast<char*>(p);
    reserved_ = size;
    // Texts are at most a few times the size of the elements that name
    // them: a quarter of the range is theirs.
    records_ = part{0, reserved_ - reserved_ / 4};
    texts_ = part{records_.size, reserved_ / 4};
#ifdef MADV_HUGEPAGE
    // Large pages for records and texts: each small page costs the system
    // a fault of its own, which is dear on a virtual machine.
    ::madvise(base_, reserved_, MADV_HUGEPAGE);
#endif
}

bool model_storage::commit_up_to(part& p, std::size_t end) {
    std::size_t grow = ((end - p.committed + commit_step - 1) / commit_step) * commit_step;
    if (grow > p.size - p.committed) grow = p.size - p.committed;
    if (::mprotect(base_ + p.start + p.committed, grow, PROT_READ | PROT_WRITE) != 0) return false;
    p.committed += grow;
    return true;
}

void model_storage::extend(part& p, std::size_t end) {
    if (base_ == nullptr) reserve();
    // Sizes near the whole range wrap around when added: checked first.
    if (end > p.size || end < p.used) throw std::bad_alloc();
    if (end > p.committed && !commit_up_to(p, end)) throw std::bad_alloc();
}

void model_storage::release() {
    if (base_ != nullptr) ::munmap(base_, reserved_);
    base_ = nullptr;
    reserved_ = 0;
    records_ = part{};
    texts_ = part{};
}

}  // namespace qrv
