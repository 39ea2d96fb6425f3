// The scan ahead: while the parser works through a block of a source file,
// a thread of its own finds the block's plain statements (see
// plain_statement.h) from the block's start on, and the parser takes each
// one that begins exactly where it stands. A statement it has not found
// yet, or found from a place where the parser never stands, the parser
// reads as it would without the scan: the model and the messages are the
// same either way. Internal to the front end.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>

#include "frontend/plain_statement.h"

namespace qrv {

class statement_scan {
public:
    statement_scan() = default;
    statement_scan(const statement_scan&) = delete;
    statement_scan& operator=(const statement_scan&) = delete;
    ~statement_scan();

    // The parser begins on a block of `size` bytes. The thread starts with
    // the third `full` block (a file of a few blocks does without it);
    // without a thread, nothing is found.
    void begin_block(const unsigned char* block, std::size_t size, bool full);
    // The parser leaves the block: when this returns, the thread no longer
    // reads it, and the block may be filled again.
    void end_block();

    // The statement found at `pos` of the block, if the thread has found
    // it; the parser stands further on afterwards.
    const plain_statement* take(std::size_t pos);
    // The statement found `k` after the one last taken, if found yet.
    const plain_statement* ahead(std::uint32_t k) const {
        const std::uint32_t i = next_ - 1 + k;
        return next_ != 0 && i < known_ ? &found_[i] : nullptr;
    }

    // At most this many statements of a block are found; the parser reads
    // the rest of a block of more itself.
    static constexpr std::uint32_t capacity = std::uint32_t{1} << 16;

private:
    void run();
    void scan(const unsigned char* block, std::size_t size);

    std::mutex mutex_;
    std::condition_variable wake_;          // the thread: a block to scan, or the end
    std::condition_variable idle_;          // the parser: the thread left the block
    const unsigned char* block_ = nullptr;  // under the mutex
    std::size_t size_ = 0;                  // under the mutex
    bool work_ = false;                     // under the mutex: a block waits
    bool busy_ = false;                     // under the mutex: the thread reads a block
    bool quit_ = false;                     // under the mutex
    std::thread thread_;
    plain_statement* records_ = nullptr;
    int full_blocks_ = 0;  // seen before the thread started
    bool tried_ = false;   // the thread is tried once

    // What the thread writes and the parser reads now and then, on a
    // cache line of its own, away from what the parser writes at every
    // statement: a line written by one core and read by the other moves
    // between them each time.
    alignas(64) std::atomic<bool> stop_{false};  // leave the block now
    // Statements of the block found so far: records_[0, published_).
    std::atomic<std::uint32_t> published_{0};

    // The parser's side only.
    alignas(64) bool active_ = false;         // a block is being scanned
    std::uint32_t next_ = 0;                  // the first statement not passed yet
    std::uint32_t known_ = 0;                 // published_ as last seen
    const plain_statement* found_ = nullptr;  // records_, for the parser
};

}  // namespace qrv
