// The read ahead of a long source file: a thread of its own reads the next
// block of the file while the parser works on the current one, and finds
// the block's plain statements (see plain_statement.h) from its start on.
// The parser takes a statement found there only when it begins exactly
// where the parser stands; anything else (a statement not found yet, or
// found from a place where the parser never stands) the parser reads as it
// would without the thread, so the model and the messages are the same
// either way. Internal to the front end.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>

#include "frontend/parse_state.h"
#include "frontend/plain_statement.h"

namespace qrv {

class statement_scan {
public:
    statement_scan() = default;
    statement_scan(const statement_scan&) = delete;
    statement_scan& operator=(const statement_scan&) = delete;
    ~statement_scan() { stop(); }

    // The stream read a full block of the file `fd` itself: after the
    // third, the thread reads the file on from where it stands (a file of
    // a few blocks does without it).
    void full_block_read(int fd);
    // Whether the thread reads the file: then the stream's blocks come
    // from next_block below.
    bool running() const { return started_; }
    // Gives the stream the next block of the file, as the lexer's
    // next_block does: false at the end of the file or when a read failed
    // (`failed`). The block the stream held before may be filled again.
    bool next_block(source_stream& s);
    // Ends the thread; the file can be closed afterwards, and the stream
    // reads no further.
    void stop();

    // The statement found at `pos` of the stream's block, if the thread has
    // found it; the parser stands further on afterwards.
    const plain_statement* take(std::size_t pos);
    // The statement found `k` after the one last taken, if found yet.
    const plain_statement* ahead(std::uint32_t k) const {
        const std::uint32_t i = next_ - 1 + k;
        return next_ != 0 && i < known_ ? &found_[i] : nullptr;
    }

    // The blocks' size, and the most statements found in one block; the
    // parser reads the rest of a block of more itself.
    static constexpr std::size_t block_size = std::size_t{1} << 20;
    static constexpr std::uint32_t capacity = std::uint32_t{1} << 16;

private:
    // A block of the file and the statements found in it. The thread fills
    // a free slot and scans it; the parser takes a filled one and frees it
    // when it moves on.
    struct slot {
        source_block block;
        plain_statement* records = nullptr;
        std::size_t size = 0;  // 0 at the end of the file
        bool failed = false;   // the read failed
        // The thread may fill the slot. It is set under the mutex: true by
        // the parser when it leaves the block, false by the thread once the
        // slot is filled. The thread also reads it without the mutex, to
        // leave a scan and to fill the slot again.
        std::atomic<bool> released{true};
        // Statements found so far: records[0, published). On a cache line
        // of its own: the thread writes it, the parser reads it now and then.
        alignas(64) std::atomic<std::uint32_t> published{0};
    };
    static constexpr int no_slot = -1;

    void run();
    // Reads the file's next block into `s`; false at the end of the file.
    bool fill(slot& s);
    // Scans `s` on from `pos`, a batch of statements at most; false when
    // the block is done.
    bool scan(slot& s, std::size_t& pos, std::uint32_t& found);

    std::mutex mutex_;
    std::condition_variable changed_;  // a slot was filled or freed, or the thread is to end
    std::atomic<bool> quit_{false};    // set under the mutex
    slot slots_[2];
    int fd_ = -1;
    int full_blocks_ = 0;  // read by the stream before the thread starts
    bool tried_ = false;   // the thread is tried once
    bool started_ = false;
    std::thread thread_;

    // The parser's side only, away from what the thread writes.
    alignas(64) int current_ = no_slot;       // the slot the stream holds
    std::uint32_t next_ = 0;                  // the first statement not passed yet
    std::uint32_t known_ = 0;                 // published as last seen
    const plain_statement* found_ = nullptr;  // the records of the current slot
};

}  // namespace qrv
