#include "model/storage.h"

#include <sys/mman.h>

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

void model_storage::extend(std::size_t n) {
    if (base_ == nullptr) {
        for (std::size_t size = max_reserve; size >= smallest_reserve; size /= 4) {
            void* p = ::mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE,
                             -1, 0);
            if (p != MAP_FAILED) {
                base_ = static_cast<char*>(p);
                reserved_ = size;
                break;
            }
        }
        if (base_ == nullptr) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
        ::madvise(base_, reserved_, MADV_HUGEPAGE);
#endif
    }
    if (n > reserved_ - used_) throw std::bad_alloc();
    std::size_t grow = ((used_ + n - committed_ + commit_step - 1) / commit_step) * commit_step;
    if (grow > reserved_ - committed_) grow = reserved_ - committed_;
    if (::mprotect(base_ + committed_, grow, PROT_READ | PROT_WRITE) != 0) throw std::bad_alloc();
    committed_ += grow;
}

void model_storage::release() {
    if (base_ != nullptr) ::munmap(base_, reserved_);
    base_ = nullptr;
    reserved_ = 0;
    committed_ = 0;
    used_ = 0;
}

}  // namespace qrv
