// The rules of the top-level elements, written in batches on two threads.
//
// The rules of different top-level elements are independent: each begins
// where the one before ended, normally at the start of a line with no open
// indentation. So every batch is written on its own, into memory, starting
// from that state, with its notes kept aside; the batches are handed to the
// output and their notes to the console in order. A batch whose rules
// would begin from another state (a brace in a tag moves the indentation)
// or grow too large to keep is written again in place, one rule after
// another, and so is everything after it. Either way the text and the
// notes are those of writing every rule in order.
//
// The threads share only the model, which they read.
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "abnf/rule_writer.h"
#include "support/output_writer.h"
#include "support/signals.h"

namespace qrv {

namespace {

// The rules of `first` and every top-level element after it.
void write_rules_from(rule_writer& w, const element* first) {
    for (const element* e = first; e != nullptr; e = e->next()) write_rule(w, e);
    flush_pending(w);
}

// Where the writing of a rule begins and ends: the layout of the line and
// the last character written.
struct layout_state {
    std::int32_t depth = 0;
    std::int32_t column = 0;
    std::int32_t tab_count = 0;
    char last = '\n';
    bool operator==(const layout_state&) const = default;
};

// A batch bigger than this is not kept in memory: the rules from it on
// are written straight to the output (a grammar that doubles with every
// plug level never ends up in memory).
constexpr std::size_t batch_text_limit = std::size_t{64} << 20;

// Batches written ahead of those handed on, at most.
constexpr std::size_t batches_ahead = 4;

struct batch {
    const element* first = nullptr;
    std::size_t count = 0;
    std::string text;
    std::string notes;
    std::int64_t error_count = 0;
    std::int32_t error_note_count = 0;
    layout_state end;
    bool too_large = false;
    std::exception_ptr failure;
    bool done = false;  // under the mutex
};

class batch_writer {
public:
    batch_writer(const run_context& run, output_writer& out, diagnostics& diag,
                 std::size_t batch_size)
        : run_(run), out_(out), diag_(diag) {
        std::size_t n = 0;
        for (const element* e = run.elements; e != nullptr; e = e->next(), ++n) {
            if (n % batch_size == 0) {
                batches_.emplace_back();
                batches_.back().first = e;
            }
            ++batches_.back().count;
        }
    }

    std::size_t batch_count() const { return batches_.size(); }

    void write(const layout_state& start) {
        start_ = start;
        std::thread helper;
        try {
            helper = helper_thread([this] { work(); });
        } catch (const std::system_error&) {
            // No second thread: this one writes every batch.
        }
        try {
            hand_on_all();
        } catch (...) {
            finish(helper);
            throw;
        }
        finish(helper);
    }

private:
    // The next batch to write, or none when every batch is taken or the
    // batches stopped; the helper waits while it is far ahead.
    std::size_t claim(bool wait) {
        std::unique_lock lock(mutex_);
        const auto may_claim = [this] { return next_ < handed_on_ + batches_ahead; };
        if (wait) {
            changed_.wait(lock,
                          [&] { return stopped_ || next_ >= batches_.size() || may_claim(); });
        }
        if (stopped_ || next_ >= batches_.size() || !may_claim()) return none;
        return next_++;
    }

    void work() {
        chain_states open_chains(run_.storage);
        for (std::size_t k = claim(true); k != none; k = claim(true)) write_batch(k, open_chains);
    }

    // `open_chains` is the thread's own: the marks of the bodies being
    // written, empty between rules, kept from batch to batch because
    // making them anew for every batch would cost as much as the run has
    // elements.
    void write_batch(std::size_t k, chain_states& open_chains) {
        batch& b = batches_[k];
        try {
            write_in_memory(b, open_chains);
        } catch (const output_limit_reached&) {
            b.too_large = true;
        } catch (...) {
            b.failure = std::current_exception();
        }
        std::lock_guard lock(mutex_);
        b.done = true;
        changed_.notify_all();
    }

    // The rules of `b`, from the state every rule normally begins in.
    void write_in_memory(batch& b, chain_states& open_chains) {
        // The batch's own notes and counts, handed on with its text.
        diagnostics kept;
        kept.format = diag_.format;
        char* notes = nullptr;
        std::size_t notes_size = 0;
        kept.console = ::open_memstream(&notes, &notes_size);
        if (kept.console == nullptr) throw std::bad_alloc();
        struct closer {
            std::FILE*& f;
            char*& text;
            ~closer() {
                if (f != nullptr) std::fclose(f);
                std::free(text);
            }
        } close_notes{kept.console, notes};

        b.text = spare_text();
        output_writer writer;
        writer.diag = &kept;
        writer.memory_limit = batch_text_limit;
        sink_open_memory(writer, &b.text);
        writer.depth = start_.depth;
        writer.column = start_.column;
        writer.tab_count = start_.tab_count;
        rule_writer w(run_, writer, kept);
        std::swap(w.open_chains, open_chains);
        struct give_back {
            chain_states& from;
            chain_states& to;
            ~give_back() { std::swap(from, to); }
        } keep{w.open_chains, open_chains};
        w.last = start_.last;
        const element* e = b.first;
        for (std::size_t i = 0; i < b.count; ++i, e = e->next()) write_rule(w, e);
        flush_pending(w);
        b.end = layout_state{writer.depth, writer.column, writer.tab_count, w.last};
        sink_close(writer);
        std::fflush(kept.console);
        b.notes.assign(notes, notes_size);
        b.error_count = kept.error_count;
        b.error_note_count = kept.error_note_count;
    }

    // Hands the batches on in order, writing batches itself while the one
    // to hand on next is not done.
    void hand_on_all() {
        layout_state state = start_;
        for (std::size_t k = 0; k < batches_.size(); ++k) {
            for (;;) {
                {
                    std::lock_guard lock(mutex_);
                    if (batches_[k].done) break;
                }
                const std::size_t mine = claim(false);
                if (mine != none) {
                    write_batch(mine, open_chains_);
                    continue;
                }
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] { return batches_[k].done; });
                break;
            }
            batch& b = batches_[k];
            if (b.failure) std::rethrow_exception(b.failure);
            if (b.too_large || !(state == start_)) {
                write_in_place(k, state);
                return;
            }
            sink_write(out_, b.text);
            std::fputs(b.notes.c_str(), diag_.console);
            diag_.error_count += b.error_count;
            diag_.error_note_count += b.error_note_count;
            state = b.end;
            // What was handed on is not kept; its room is used again.
            b.notes = std::string();
            std::lock_guard lock(mutex_);
            spare_.push_back(std::move(b.text));
            b.text = std::string();
            handed_on_ = k + 1;
            changed_.notify_all();
        }
        set_state(state);
    }

    // From batch `k` on, every rule one after another into the output.
    void write_in_place(std::size_t k, const layout_state& state) {
        {
            std::lock_guard lock(mutex_);
            stopped_ = true;
            changed_.notify_all();
        }
        set_state(state);
        rule_writer w(run_, out_, diag_);
        w.last = state.last;
        write_rules_from(w, batches_[k].first);
    }

    // An empty text with room from a batch handed on, if there is one.
    std::string spare_text() {
        std::lock_guard lock(mutex_);
        if (spare_.empty()) return std::string();
        std::string text = std::move(spare_.back());
        spare_.pop_back();
        text.clear();
        return text;
    }

    void set_state(const layout_state& state) {
        out_.depth = state.depth;
        out_.column = state.column;
        out_.tab_count = state.tab_count;
    }

    void finish(std::thread& helper) {
        {
            std::lock_guard lock(mutex_);
            stopped_ = true;
            changed_.notify_all();
        }
        if (helper.joinable()) helper.join();
    }

    static constexpr std::size_t none = static_cast<std::size_t>(-1);

    const run_context& run_;
    output_writer& out_;
    diagnostics& diag_;
    std::vector<batch> batches_;
    layout_state start_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t next_ = 0;
    std::size_t handed_on_ = 0;
    bool stopped_ = false;
    std::vector<std::string> spare_;
    chain_states open_chains_{run_.storage};  // this thread's (see write_batch)
};

}  // namespace

void write_rules(const run_context& run, output_writer& out, diagnostics& diag,
                 std::size_t batch_size, unsigned threads) {
    if (threads > 1 && batch_size > 0 && out.open) {
        batch_writer batches(run, out, diag, batch_size);
        if (batches.batch_count() > 1) {
            batches.write(layout_state{out.depth, out.column, out.tab_count, '\n'});
            return;
        }
    }
    rule_writer w(run, out, diag);
    write_rules_from(w, run.elements);
}

}  // namespace qrv
