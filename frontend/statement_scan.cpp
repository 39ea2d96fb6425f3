#include "frontend/statement_scan.h"

#include <unistd.h>

#include <cerrno>
#include <new>
#include <system_error>

#include "support/signals.h"

namespace qrv {

namespace {

// Where the parser may stand after a statement the scan did not find:
// after the next `;`, `{` or `}`.
std::size_t next_boundary(const unsigned char* block, std::size_t size, std::size_t pos) {
    for (; pos < size; ++pos) {
        const unsigned char c = block[pos];
        if (c == ';' || c == '{' || c == '}') return pos + 1;
    }
    return size;
}

constexpr std::size_t records_bytes = sizeof(plain_statement) * statement_scan::capacity;

}  // namespace

void statement_scan::full_block_read(int fd) {
    // A file of a few blocks is read sooner without the thread: it starts
    // with the third.
    if (tried_ || ++full_blocks_ < 3) return;
    tried_ = true;
    // Without the memory or the thread, the stream reads every block and
    // the parser every statement itself, as in a short file.
    try {
        for (slot& s : slots_) {
            s.block.resize(block_size);
            s.records = static_cast<plain_statement*>(::operator new(records_bytes));
        }
        fd_ = fd;
        thread_ = helper_thread([this] { run(); });
    } catch (const std::bad_alloc&) {
        return;
    } catch (const std::system_error&) {
        return;
    }
    started_ = true;
}

bool statement_scan::next_block(source_stream& s) {
    if (!thread_.joinable()) {  // stopped: the stream reads no further
        s.fd = -1;
        s.size = 0;
        s.pos = 0;
        return false;
    }
    const int next = current_ == no_slot ? 0 : 1 - current_;
    {
        std::unique_lock lock(mutex_);
        // The block the stream leaves may be filled again.
        if (current_ != no_slot) slots_[current_].released.store(true, std::memory_order_release);
        changed_.notify_all();
        changed_.wait(lock, [&] { return !slots_[next].released.load(std::memory_order_acquire); });
    }
    current_ = next;
    slot& at = slots_[next];
    found_ = at.records;
    next_ = 0;
    known_ = 0;
    s.pos = 0;
    if (at.size == 0) {
        s.failed = at.failed;
        s.fd = -1;
        s.size = 0;
        return false;
    }
    s.data = at.block.data();
    s.size = at.size;
    return true;
}

void statement_scan::stop() {
    if (thread_.joinable()) {
        {
            std::lock_guard lock(mutex_);
            quit_.store(true, std::memory_order_relaxed);
        }
        changed_.notify_all();
        thread_.join();
    }
    for (slot& s : slots_) {
        ::operator delete(s.records);
        s.records = nullptr;
    }
    current_ = no_slot;
    found_ = nullptr;
    next_ = 0;
    known_ = 0;
}

const plain_statement* statement_scan::take(std::size_t pos) {
    if (current_ == no_slot) return nullptr;
    for (;;) {
        while (next_ < known_ && found_[next_].start < pos) ++next_;
        if (next_ < known_) return found_[next_].start == pos ? &found_[next_++] : nullptr;
        const std::uint32_t published = slots_[current_].published.load(std::memory_order_acquire);
        if (published == known_) return nullptr;  // the thread is not this far yet
        known_ = published;
    }
}

// The thread reads each block as soon as the parser has left the one two
// blocks back, so that the parser never waits for a read while the thread
// scans; it scans the blocks in order, and leaves a block's scan when the
// parser leaves the block.
void statement_scan::run() {
    std::uint64_t filled = 0;   // blocks read
    std::uint64_t scanned = 0;  // blocks whose scan is over
    std::size_t pos = 0;        // in block `scanned`, while it is read and not scanned
    std::uint32_t found = 0;
    bool at_end = false;
    while (!quit_.load(std::memory_order_relaxed)) {
        if (scanned < filled && slots_[scanned % 2].released.load(std::memory_order_acquire)) {
            ++scanned;  // the parser has left it
            pos = 0;
            found = 0;
            continue;
        }
        // Never the slot whose scan is on: the parser may leave that block
        // just after the check above, and its scan must end first.
        slot& next = slots_[filled % 2];
        if (!at_end && filled < scanned + 2 && next.released.load(std::memory_order_acquire)) {
            at_end = !fill(next);
            ++filled;
            continue;
        }
        if (scanned < filled) {
            if (!scan(slots_[scanned % 2], pos, found)) {
                ++scanned;
                pos = 0;
                found = 0;
            }
            continue;
        }
        if (at_end) return;
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] {
            return quit_.load(std::memory_order_relaxed) ||
                   next.released.load(std::memory_order_relaxed);
        });
    }
}

bool statement_scan::fill(slot& s) {
    ssize_t n;
    do {
        n = ::read(fd_, s.block.data(), block_size);
    } while (n < 0 && errno == EINTR);
    s.size = n > 0 ? static_cast<std::size_t>(n) : 0;
    s.failed = n < 0;
    s.published.store(0, std::memory_order_relaxed);
    {
        std::lock_guard lock(mutex_);
        s.released.store(false, std::memory_order_release);
    }
    changed_.notify_all();
    return n > 0;
}

bool statement_scan::scan(slot& s, std::size_t& pos, std::uint32_t& found) {
    // Published in batches, so that the parser's core seldom has to fetch
    // the count again.
    constexpr std::uint32_t batch = 32;
    const unsigned char* block = s.block.data();
    for (std::uint32_t end = found + batch; found < end;) {
        if (pos >= s.size || found >= capacity) {
            s.published.store(found, std::memory_order_release);
            return false;
        }
        plain_statement* r = ::new (s.records + found) plain_statement;
        if (scan_plain_statement(block, s.size, pos, *r)) {
            pos = r->end;
            ++found;
        } else {
            pos = next_boundary(block, s.size, pos);
        }
    }
    s.published.store(found, std::memory_order_release);
    return true;
}

}  // namespace qrv
