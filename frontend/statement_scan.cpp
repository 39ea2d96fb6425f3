#include "frontend/statement_scan.h"

#include <cstring>
#include <new>
#include <system_error>

#include "model/storage.h"

namespace qrv {

namespace {

constexpr std::size_t records_bytes = sizeof(plain_statement) * statement_scan::capacity;

// Where the parser may stand after a statement the scan did not find:
// after the next `;`, `{` or `}`.
std::size_t next_boundary(const unsigned char* block, std::size_t size, std::size_t pos) {
    for (; pos < size; ++pos) {
        const unsigned char c = block[pos];
        if (c == ';' || c == '{' || c == '}') return pos + 1;
    }
    return size;
}

}  // namespace

statement_scan::~statement_scan() {
    end_block();
    if (thread_.joinable()) {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }
    ::operator delete(records_);
}

void statement_scan::begin_block(const unsigned char* block, std::size_t size, bool full) {
    end_block();
    if (!thread_.joinable()) {
        // A file of a few blocks is read sooner without the thread: it
        // starts with the third full block.
        if (!full || tried_ || ++full_blocks_ < 3) return;
        tried_ = true;
        // Without the memory or the thread, the parser reads every
        // statement itself, as it does in a short file.
        try {
            records_ = static_cast<plain_statement*>(::operator new(records_bytes));
            thread_ = std::thread([this] { run(); });
        } catch (const std::bad_alloc&) {
            return;
        } catch (const std::system_error&) {
            return;
        }
    }
    {
        std::lock_guard lock(mutex_);
        block_ = block;
        size_ = size;
        work_ = true;
        busy_ = true;
        stop_.store(false, std::memory_order_relaxed);
        published_.store(0, std::memory_order_relaxed);
    }
    wake_.notify_one();
    active_ = true;
    found_ = records_;
    next_ = 0;
    known_ = 0;
}

void statement_scan::end_block() {
    if (!active_) return;
    active_ = false;
    stop_.store(true, std::memory_order_relaxed);
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return !busy_; });
}

const plain_statement* statement_scan::take(std::size_t pos) {
    if (!active_) return nullptr;
    for (;;) {
        while (next_ < known_ && found_[next_].start < pos) ++next_;
        if (next_ < known_) return found_[next_].start == pos ? &found_[next_++] : nullptr;
        const std::uint32_t published = published_.load(std::memory_order_acquire);
        if (published == known_) return nullptr;  // the thread is not this far yet
        known_ = published;
    }
}

void statement_scan::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return work_ || quit_; });
        if (quit_) return;
        work_ = false;
        const unsigned char* block = block_;
        const std::size_t size = size_;
        lock.unlock();
        scan(block, size);
        lock.lock();
        busy_ = false;
        idle_.notify_all();
    }
}

void statement_scan::scan(const unsigned char* block, std::size_t size) {
    // Published in batches, so that the parser's core seldom has to fetch
    // the count again.
    constexpr std::uint32_t batch = 32;
    std::size_t pos = 0;
    std::uint32_t found = 0;
    while (pos < size && found < capacity && !stop_.load(std::memory_order_relaxed)) {
        if (found % batch == 0) published_.store(found, std::memory_order_release);
        plain_statement* r = ::new (records_ + found) plain_statement;
        if (scan_plain_statement(block, size, pos, *r)) {
            pos = r->end;
            ++found;
        } else {
            pos = next_boundary(block, size, pos);
        }
    }
    published_.store(found, std::memory_order_release);
}

}  // namespace qrv
