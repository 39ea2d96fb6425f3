// The references each grammar writes, found without writing it: the walks
// below take the same way through the bodies as the rule writers
// (abnf/default_rules.cpp, abnf/strict_rules.cpp) and count where those
// write a reference.
#include "abnf/references.h"

#include <algorithm>
#include <atomic>
#include <vector>

#include "abnf/rule_writer.h"
#include "encoding/encoding.h"
#include "model/walk_tables.h"

namespace qrv {

namespace {

constexpr std::int64_t most_counted = INT32_MAX;

std::int32_t saturated(std::int64_t n) {
    return static_cast<std::int32_t>(std::min(n, most_counted));
}

bool repeats(const element& m) { return occurrences_of(m).repeats() && m.has_cardinality; }

// A reference counts for the first top-level definition of the name its
// link ends in; one that names none counts for nothing.
void count_by_name(const run_context& run, const element& m, std::int64_t times,
                   reference_counts& counts) {
    if (const element* found = referenced_definition(run, m)) counts.add(*found, saturated(times));
}

// ---- the default grammar -------------------------------------------------------

// Every body is written where it stands, its type once more for the further
// occurrences of a member that repeats: the same references again, so the
// walk takes such a body once, `times` over. A body inside a body still
// being written, or nested deeper than the writer goes, is left out.
class default_walk {
public:
    default_walk(const run_context& run, reference_counts& counts, const std::atomic<bool>* stop)
        : run_(run), counts_(counts), open_(run.storage), stop_(stop) {}

    // Whether whoever asked gave up (a grammar whose writing stopped may
    // have no end: bodies written in place can double at every level).
    bool stopped() const { return stop_ != nullptr && stop_->load(std::memory_order_relaxed); }

    void definition(const element& e) {
        if (e.has_link()) count_by_name(run_, e, 1, counts_);
        value(e, 1);
        run();
    }

private:
    struct step {
        const element* body;    // the body whose members are walked
        const element* member;  // the member to take next; null: the body is done
        std::int64_t times;
    };

    static bool opens_body(const element& e) {
        return !e.has_link() && (e.kind == ET_STRUCT || e.kind == ET_UNION);
    }

    // The type of `e`, written `times` over, once more each for its
    // further occurrences.
    void value(const element& e, std::int64_t times) {
        if (!opens_body(e)) return;
        const std::int64_t n = repeats(e) ? 2 * times : times;
        if (nesting_ >= max_body_depth) return;
        const element* chain = e.children();
        if (chain != nullptr && open_.get(chain) != 0) return;
        if (chain == nullptr) return;  // an empty body refers to nothing
        open_.set(chain, 1);
        ++nesting_;
        steps_.push_back({&e, chain, std::min<std::int64_t>(n, most_counted)});
    }

    void run() {
        std::uint32_t until_look = 0;
        while (!steps_.empty()) {
            if (++until_look == 4096) {
                until_look = 0;
                if (stopped()) return;
            }
            step& s = steps_.back();
            if (s.member == nullptr) {
                open_.set(s.body->children(), 0);
                --nesting_;
                steps_.pop_back();
                continue;
            }
            const element& m = *s.member;
            s.member = m.next();
            const std::int64_t times = s.times;
            if (m.has_link()) count_by_name(run_, m, times, counts_);
            if (m.kind == ET_NULL && m.has_tag()) continue;  // the tag alone
            value(m, times);  // may add a step: `s` is not used after this
        }
    }

    const run_context& run_;
    reference_counts& counts_;
    chain_states open_;
    const std::atomic<bool>* stop_;
    int nesting_ = 0;
    std::vector<step> steps_;
};

// ---- the strict grammar -----------------------------------------------------------

// A body has a rule of its own, written once, where it repeats or several
// members share it, and is written where it stands otherwise; a reference
// names the rule of the top-level definition whose members it shares, or
// counts by its name.
class strict_walk {
public:
    strict_walk(const run_context& run, reference_counts& counts) : run_(run), counts_(counts) {
        for (const element* e = run.elements; e != nullptr; e = e->next()) top_.push_back(e);
        plan();
    }

    void all() {
        for (std::size_t i = 0; i < top_.size(); ++i) {
            definition(*top_[i], i == 0);
            while (!pending_.empty()) {
                const element* chain = pending_.back();
                pending_.pop_back();
                body(chain);
            }
        }
    }

private:
    struct info {
        const element* owner_top = nullptr;
        std::uint32_t places = 0;
        bool ruled = false;
    };

    info& info_of(const element* chain) {
        if (const std::int32_t* index = chains_.find(chain)) {
            return info_[static_cast<std::size_t>(*index)];
        }
        chains_.insert(chain, static_cast<std::int32_t>(info_.size()));
        info_.emplace_back();
        return info_.back();
    }
    bool known(const element* chain) const { return chains_.find(chain) != nullptr; }

    // Which top-level definition owns each chain, and how many members
    // declared in place stand for each.
    void plan() {
        std::vector<const element*> stack;
        for (const element* p : top_) {
            if (p->children() == nullptr || p->has_link()) continue;
            const bool fresh = !known(p->children());
            info_of(p->children()).owner_top = p;
            if (fresh) stack.push_back(p->children());
        }
        while (!stack.empty()) {
            const element* chain = stack.back();
            stack.pop_back();
            for (const element* m = chain; m != nullptr; m = m->next()) {
                if (m->children() == nullptr || m->has_link()) continue;
                const bool fresh = !known(m->children());
                ++info_of(m->children()).places;
                if (fresh) stack.push_back(m->children());
            }
        }
    }

    void definition(const element& p, bool root) {
        if (p.has_link()) {
            if (root && p.children() != nullptr && has_body_kind(p)) {
                body(p.children());
            } else if (root && p.children() == nullptr && p.kind != ET_LINK) {
                count_by_name(run_, p, 1, counts_);
            } else {
                reference(p);
            }
        } else if (has_body_kind(p) && p.children() != nullptr) {
            body(p.children());
        }
    }

    void reference(const element& m) {
        if (m.kind == ET_LINK) return;  // never resolved: written as ""
        if (m.children() != nullptr && known(m.children())) {
            const info& i = info_of(m.children());
            if (i.owner_top != nullptr) {
                counts_.add(*i.owner_top);
                return;
            }
        }
        count_by_name(run_, m, 1, counts_);
    }

    bool written_in_place(const element& m) {
        if (m.has_link() || m.children() == nullptr || !has_body_kind(m)) return false;
        return !repeats(m) && info_of(m.children()).places < 2;
    }

    // The value once: a reference, or the first use of a body's own rule.
    void once(const element& m) {
        if (m.has_link()) {
            reference(m);
        } else if (has_body_kind(m) && m.children() != nullptr) {
            info& i = info_of(m.children());
            if (!i.ruled) {
                i.ruled = true;
                pending_.push_back(m.children());
            }
        }
    }

    // The members of `chain` and of the bodies written in place below them.
    void body(const element* chain) {
        std::vector<const element*> stack{chain};
        while (!stack.empty()) {
            const element* m = stack.back();
            stack.pop_back();
            if (m == nullptr) continue;
            stack.push_back(m->next());
            if (written_in_place(*m)) {
                stack.push_back(m->children());
                continue;
            }
            once(*m);
            if (repeats(*m)) once(*m);
        }
    }

    const run_context& run_;
    reference_counts& counts_;
    std::vector<const element*> top_;
    chain_marks chains_;
    std::vector<info> info_;
    std::vector<const element*> pending_;
};

}  // namespace

reference_counts default_grammar_references(const run_context& run, const std::atomic<bool>* stop) {
    reference_counts counts(run);
    default_walk walk(run, counts, stop);
    for (const element* e = run.elements; e != nullptr && !walk.stopped(); e = e->next()) {
        walk.definition(*e);
    }
    return counts;
}

reference_counts strict_grammar_references(const run_context& run) {
    reference_counts counts(run);
    strict_walk(run, counts).all();
    return counts;
}

}  // namespace qrv
