// Which top-level definitions a grammar refers to, and how often: what the
// "has not been referenced" notes after a grammar are made from. A pass of
// its own over the frozen model (abnf/references.cpp) finds them; the counts
// are kept by whoever asks, keyed by element number.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "model/model.h"

namespace qrv {

class reference_counts {
public:
    reference_counts() = default;
    explicit reference_counts(const run_context& run) : counts_(run.element_count, 0) {}

    std::int32_t of(const element& e) const { return e.id < counts_.size() ? counts_[e.id] : 0; }
    void add(const element& e, std::int32_t n = 1) {
        if (e.id >= counts_.size()) counts_.resize(e.id + 1, 0);
        counts_[e.id] += n;
    }

private:
    std::vector<std::int32_t> counts_;
};

// The references of the default grammar and of the strict one, counted as
// their rules write them, without writing anything. The name index must
// hold the top chain (post-parse leaves it so).
// The default walk gives up, with what it counted so far, once `stop` is
// set.
reference_counts default_grammar_references(const run_context& run,
                                            const std::atomic<bool>* stop = nullptr);
reference_counts strict_grammar_references(const run_context& run);

}  // namespace qrv
