// The walks over shared member chains against their plain recursive form,
// on many small random graphs, and on shapes where the plain form would take
// quadratic or exponential time.
#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "generated_names.h"
#include "support/diagnostics.h"
#include "test_model.h"
#include "tests/unit/postparse_fixture.h"

namespace qrv {
namespace {

// ---- the plain walks -------------------------------------------------------

void plain_mark_walk(element* chain, std::vector<element*>& enclosing) {
    for (element* q = chain; q != nullptr; q = q->next()) {
        if (q->children() == nullptr) continue;
        if (std::find(enclosing.begin(), enclosing.end(), q->children()) != enclosing.end()) {
            q->recursive = true;
        }
        if (!q->recursive) {
            enclosing.push_back(q->children());
            plain_mark_walk(q->children(), enclosing);
            enclosing.pop_back();
        }
    }
}

void plain_mark(element* first) {
    for (element* p = first; p != nullptr; p = p->next()) {
        if (p->children() == nullptr) continue;
        std::vector<element*> enclosing{p->children()};
        plain_mark_walk(p->children(), enclosing);
    }
}

// Every path, so an element met again takes its ordinal as the counter.
void plain_number(run_context& run, diagnostics& diag, element* chain,
                  std::map<const element*, int>& ordinals) {
    std::int32_t plain = 0;
    std::int32_t plugin = run.plugin_ordinal_base;
    for (element* p = chain; p != nullptr; p = p->next()) {
        std::int32_t& counter = p->plugin ? plugin : plain;
        const auto [at, fresh] = ordinals.try_emplace(p, counter);
        if (!fresh) counter = at->second;
        ++counter;
        rename_reserved(run, diag, p);
        if (p->children() != nullptr && !p->recursive)
            plain_number(run, diag, p->children(), ordinals);
    }
}

void plain_collect(std::vector<element*>& members, element* chain, std::vector<element*>& path) {
    for (element* p = chain; p != nullptr; p = p->next()) {
        if (!p->link().empty()) continue;
        if (p->kind == ET_UNION) {
            for (element* u = p->children(); u != nullptr; u = u->next()) {
                bool known = false;
                for (element* k : members) {
                    if (k->c_name() == u->c_name()) known = true;
                }
                if (!known) members.push_back(u);
            }
        }
        if ((p->kind == ET_STRUCT || p->kind == ET_UNION) && p->children() != nullptr &&
            std::find(path.begin(), path.end(), p->children()) == path.end()) {
            path.push_back(p->children());
            plain_collect(members, p->children(), path);
            path.pop_back();
        }
    }
}

using name_table = std::map<const element*, std::string>;

void plain_name_members(run_context& run, diagnostics& diag, name_table& names,
                        const std::string& parent, element* chain) {
    for (element* q = chain; q != nullptr; q = q->next()) {
        if (!q->link().empty()) continue;
        if (parent.size() + 1 + q->c_name().size() > 255) {
            note(diag, "FATAL: Constructed type name is too long: %s_%s\n", parent.c_str(),
                 q->c_name().c_str());
            throw fatal_stop{1};
        }
        std::string name = parent + "_" + std::string(q->c_name().view());
        names[q] = name;
        if (q->children() != nullptr) plain_name_members(run, diag, names, name, q->children());
    }
}

void plain_qualify(run_context& run, diagnostics& diag, name_table& names, element* first) {
    for (element* p = first; p != nullptr; p = p->next()) {
        names[p] = p->c_name().view();
        if (p->children() != nullptr && p->link().empty()) {
            plain_name_members(run, diag, names, std::string(p->c_name().view()), p->children());
        }
    }
}

// ---- random graphs of member chains ----------------------------------------

struct graph_shape {
    int chains;
    int most_members;
    int tops;
    bool cycles;
    int shortest_name;
    int longest_name;
};

struct saved_state {
    bool recursive;
    text c_name;
};

struct walks : postparse_fixture {
    std::vector<element*> all;
    element* first = nullptr;

    element* fresh(std::mt19937& rng, const graph_shape& shape) {
        static const char* words[] = {"a", "b", "class", "int", "u", "Class"};
        element* e = new_element(ps);
        std::uniform_int_distribution<int> pick(0, 5);
        std::uniform_int_distribution<int> length(shape.shortest_name, shape.longest_name);
        std::string name = words[pick(rng)];
        if (shape.longest_name > 5) name = std::string(length(rng), name[0]);
        e->set_name(make_text(run, name));
        e->set_c_name(e->name());
        const element_kind kinds[] = {ET_STRUCT, ET_UNION, ET_COMBINED, ET_INTEGER};
        e->kind = kinds[pick(rng) % 4];
        e->plugin = pick(rng) == 0;
        e->set_line(static_cast<int>(all.size()));
        all.push_back(e);
        return e;
    }

    void build(std::mt19937& rng, const graph_shape& shape) {
        all.clear();
        run.modules = nullptr;
        ps.module = module("m");
        std::vector<element*> heads;
        std::uniform_int_distribution<int> members(1, shape.most_members);
        for (int i = 0; i < shape.chains; ++i) {
            element* head = nullptr;
            for (int n = members(rng); n > 0; --n) append_element(&head, fresh(rng, shape));
            heads.push_back(head);
        }
        first = nullptr;
        for (int i = 0; i < shape.tops; ++i) append_element(&first, fresh(rng, shape));
        // Every element points at a random chain or at none; without cycles
        // only at chains further on.
        std::uniform_int_distribution<int> coin(0, 2);
        std::size_t in_chains = all.size() - static_cast<std::size_t>(shape.tops);
        for (std::size_t i = 0; i < all.size(); ++i) {
            if (coin(rng) == 0) continue;
            int from = 0;
            if (!shape.cycles && i < in_chains) {
                // the chain index of element i
                int c = 0;
                for (std::size_t seen = 0; c < shape.chains; ++c) {
                    seen += static_cast<std::size_t>(count(heads[c]));
                    if (i < seen) break;
                }
                from = c + 1;
                if (from >= shape.chains) continue;
            }
            std::uniform_int_distribution<int> target(from, shape.chains - 1);
            all[i]->set_children(heads[target(rng)]);
            if (coin(rng) == 0 && i >= in_chains) all[i]->set_link(make_text(run, "Ref"));
            if (coin(rng) == 0 && i < in_chains && shape.cycles) {
                all[i]->set_link(make_text(run, "Ref"));
            }
        }
    }

    std::vector<saved_state> save() const {
        std::vector<saved_state> s;
        for (element* e : all) s.push_back({e->recursive, e->c_name()});
        return s;
    }
    void restore(const std::vector<saved_state>& s) {
        for (std::size_t i = 0; i < all.size(); ++i) {
            all[i]->recursive = s[i].recursive;
            all[i]->set_c_name(s[i].c_name);
        }
        run.union_members.clear();
    }
    std::string since(std::size_t from) { return console().substr(from); }
};

TEST_F(walks, fast_walks_match_the_plain_walks_on_random_graphs) {
    std::mt19937 rng(20240611);
    for (int round = 0; round < 3000; ++round) {
        graph_shape shape{1 + round % 7, 1 + round % 3, 1 + round % 4, true, 1, 1};
        build(rng, shape);
        // Some marks set before the walk on members are never descended
        // into (nothing marks a top-level element before the walk).
        const std::size_t members = all.size() - static_cast<std::size_t>(shape.tops);
        if (round % 5 == 0 && members > 0) all[rng() % members]->recursive = true;
        std::vector<saved_state> initial = save();

        // The plain walks one after the other: marks, then numbering, which
        // ends with the marks set; the one walk agrees on marks, ordinals,
        // renamed identifiers and notes.
        std::size_t at = console().size();
        plain_mark(first);
        std::map<const element*, int> plain_ordinals;
        plain_number(run, diag, first, plain_ordinals);
        std::string plain_notes = since(at);
        std::vector<saved_state> expected = save();
        restore(initial);
        at = console().size();
        run.elements = first;
        mark_recursive_and_rename(run, diag, first);
        ASSERT_EQ(since(at), plain_notes) << "round " << round;
        const generated_names names(run);
        for (std::size_t i = 0; i < all.size(); ++i) {
            const auto plain = plain_ordinals.find(all[i]);
            ASSERT_EQ(all[i]->recursive, expected[i].recursive) << "round " << round << " #" << i;
            ASSERT_EQ(names.ordinal(*all[i]), plain == plain_ordinals.end() ? -1 : plain->second)
                << "round " << round << " #" << i;
            ASSERT_EQ(all[i]->c_name(), expected[i].c_name) << "round " << round << " #" << i;
        }

        restore(initial);
        std::vector<element*> path{first};
        std::vector<element*> plain_union;
        plain_collect(plain_union, first, path);
        restore(initial);
        collect_union_members(run, first);
        ASSERT_EQ(run.union_members, plain_union) << "round " << round;
    }
}

TEST_F(walks, fast_qualified_names_match_the_plain_walk_on_random_graphs) {
    std::mt19937 rng(77);
    int stopped = 0;
    for (int round = 0; round < 3000; ++round) {
        // Long names make cycles stop after a few levels.
        bool cycles = round % 3 == 0;
        graph_shape shape{1 + round % 8,
                          1 + round % 3,
                          1 + round % 3,
                          cycles,
                          cycles ? 40 : 1 + round % 30,
                          cycles ? 63 : 30 + round % 34};
        build(rng, shape);

        std::size_t at = console().size();
        bool plain_stop = false;
        name_table expected;
        try {
            plain_qualify(run, diag, expected, first);
        } catch (const fatal_stop&) {
            plain_stop = true;
        }
        std::string plain_text = since(at);
        // What no parent names: a reference to a type with members is
        // named after what it refers to ("Ref"), anything else keeps the
        // marker.
        for (const element* e : all) {
            const bool reference = e->has_link() && (e->kind == ET_STRUCT || e->kind == ET_UNION ||
                                                     e->kind == ET_COMBINED);
            expected.try_emplace(
                e, reference ? std::string("Ref") : std::string(text{uninitialised_marker}.view()));
        }
        at = console().size();
        run.elements = first;
        bool fast_stop = false;
        try {
            build_qualified_names(run, diag);
        } catch (const fatal_stop& stop) {
            fast_stop = true;
            EXPECT_EQ(stop.status, 1);
        }
        ASSERT_EQ(fast_stop, plain_stop) << "round " << round;
        ASSERT_EQ(since(at), plain_text) << "round " << round;
        if (plain_stop) {
            ++stopped;
            continue;
        }
        const generated_names names(run);
        for (std::size_t i = 0; i < all.size(); ++i) {
            ASSERT_EQ(names.qualified_name(*all[i]), expected[all[i]])
                << "round " << round << " #" << i;
        }
    }
    EXPECT_GT(stopped, 100);
    EXPECT_LT(stopped, 2900);
}

// ---- reference resolution over shared chains ------------------------------

// Every path walked, each element that cannot be resolved reported the
// first time only (and not tried again).
void plain_resolve_walk(run_context& run, diagnostics& diag, module_record* m, element* chain,
                        std::vector<element*>& path, std::set<element*>& failed) {
    for (element* e = chain; e != nullptr; e = e->next()) {
        element_kind kind = e->kind;
        if (kind == ET_STRUCT || kind == ET_UNION) {
            if (e->children() == nullptr ||
                std::find(path.begin(), path.end(), e->children()) != path.end()) {
                continue;
            }
            path.push_back(e->children());
            plain_resolve_walk(run, diag, m, e->children(), path, failed);
            path.pop_back();
        } else if (kind == ET_LINK && !failed.contains(e) &&
                   resolve_reference(run, diag, m, e) == 0) {
            failed.insert(e);
            report_at(diag, e->module()->path.c_str(), e->line(), SEV_ERROR,
                      "Unable to expand definition of -%s- in -%s-\n", e->link().c_str(),
                      e->c_name().c_str());
        }
    }
}

// A random module of structures and references, with copies that share
// member chains the way plugged copies do (cycles included).
std::vector<element*> random_references(run_context& run, diagnostics& diag, std::uint32_t seed) {
    std::mt19937 rng(seed);
    auto roll = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    parse_state ps;
    ps.run = &run;
    ps.diag = &diag;
    module_record* m = new_module_record(run);
    m->name = make_text(run, "m");
    m->path = make_text(run, "m.pvx");
    run.modules = m;
    ps.module = m;
    std::vector<element*> all;
    std::vector<element*> chains;  // first elements of member chains
    int tops = 2 + roll(6);
    auto make = [&](int depth, bool top_level) {
        element* e = new_element(ps);
        e->set_line(static_cast<int>(all.size()) + 1);
        std::string name = top_level ? "T" + std::to_string(all.size() % 7) : "m";
        e->set_name(make_text(run, name + std::to_string(all.size())));
        if (top_level) e->set_name(make_text(run, "T" + std::to_string(roll(tops))));
        e->set_c_name(e->name());
        int k = roll(depth > 2 ? 2 : 3);
        e->kind = k == 0 ? ET_INTEGER : k == 1 ? ET_LINK : ET_STRUCT;
        if (e->kind == ET_LINK) {
            e->set_link(
                make_text(run, roll(8) == 0 ? "Missing" : "T" + std::to_string(roll(tops))));
            e->has_cardinality = roll(6) == 0;
        }
        all.push_back(e);
        return e;
    };
    std::vector<std::pair<element*, int>> open;
    chain_tail tail(&m->elements);
    for (int i = 0; i < tops; ++i) {
        element* e = make(0, true);
        tail.append(e);
        if (e->kind == ET_STRUCT) open.push_back({e, 1});
    }
    while (!open.empty()) {
        auto [parent, depth] = open.back();
        open.pop_back();
        chain_tail members(chain_head::members_of(*parent));
        for (int n = roll(3); n > 0; --n) {
            element* e = make(depth, false);
            members.append(e);
            if (e->kind == ET_STRUCT) open.push_back({e, depth + 1});
        }
        if (parent->children() != nullptr) chains.push_back(parent->children());
    }
    // Copies of elements with members appended to random chains.
    for (int n = roll(4); n > 0 && !chains.empty(); --n) {
        std::vector<element*> sources;
        for (element* e : all) {
            if (e->children() != nullptr) sources.push_back(e);
        }
        if (sources.empty()) break;
        element* source = sources[static_cast<std::size_t>(roll(static_cast<int>(sources.size())))];
        element* copy = copy_element(run, *source);
        copy->is_copy = true;
        copy->set_next(nullptr);
        element* last = chains[static_cast<std::size_t>(roll(static_cast<int>(chains.size())))];
        while (last->next() != nullptr) last = last->next();
        last->set_next(copy);
        all.push_back(copy);
    }
    return all;
}

TEST(resolution_walk, fast_walk_matches_the_plain_walk_on_random_models) {
    for (std::uint32_t seed = 1; seed <= 4000; ++seed) {
        std::string texts[2];
        std::vector<element*> models[2];
        for (int fast = 0; fast < 2; ++fast) {
            run_context run;
            diagnostics diag;
            init_run_context(run);
            char* buffer = nullptr;
            std::size_t size = 0;
            diag.console = open_memstream(&buffer, &size);
            models[fast] = random_references(run, diag, seed);
            if (fast == 1) {
                resolve_references(run, diag);
            } else {
                std::vector<element*> path{run.modules->elements};
                std::set<element*> failed;
                plain_resolve_walk(run, diag, run.modules, run.modules->elements, path, failed);
            }
            std::fclose(diag.console);
            texts[fast] = std::string(buffer, size);
            std::free(buffer);
            std::vector<element*>& all = models[fast];
            // Keep what is compared before the run's records go.
            std::string state;
            for (element* e : all) {
                auto at = std::find(all.begin(), all.end(), e->children());
                state += std::to_string(e->kind) + e->link().c_str() + ":" +
                         std::to_string(at - all.begin()) + ";";
            }
            texts[fast] += state;
        }
        ASSERT_EQ(texts[1], texts[0]) << "seed " << seed;
    }
}

// ---- shapes the plain walks cannot finish ----------------------------------

struct big_shapes : postparse_fixture {
    // Top-level structures D0 ... D(n-1); each has `fan` members of the type
    // of the next one, the last a member of its own type or an int.
    std::vector<element*> build(int n, int fan, bool self_at_bottom) {
        module_record* m = module("big");
        std::vector<element*> tops;
        chain_tail tail(&m->elements);
        ps.module = m;
        for (int i = 0; i < n; ++i) {
            element* d = new_element(ps);
            d->kind = ET_STRUCT;
            d->set_name(make_text(run, "D" + std::to_string(i)));
            d->set_c_name(d->name());
            tail.append(d);
            tops.push_back(d);
        }
        for (int i = 0; i < n; ++i) {
            chain_tail members(chain_head::members_of(*tops[i]));
            bool last = i == n - 1;
            for (int k = 0; k < fan; ++k) {
                element* e = new_element(ps);
                e->set_name(make_text(run, k == 0 ? "a" : "b"));
                e->set_c_name(e->name());
                if (last && !self_at_bottom) {
                    e->kind = ET_INTEGER;
                } else {
                    e->kind = ET_LINK;
                    e->set_link(tops[last ? i : i + 1]->name());
                }
                members.append(e);
            }
        }
        return tops;
    }
};

TEST_F(big_shapes, chain_of_100000_structures) {
    std::vector<element*> tops = build(100000, 1, false);
    ASSERT_EQ(post_parse(run, diag), 1) << console().substr(0, 500);
    for (int i : {0, 1, 50000, 99998}) {
        element* member = tops[i]->children();
        EXPECT_EQ(member->kind, ET_STRUCT);
        EXPECT_EQ(member->children(), tops[i + 1]->children());
        EXPECT_FALSE(member->recursive);
        EXPECT_EQ(ordinal_of(run, *member), 0);
        EXPECT_EQ(qualified_name(run, *member), tops[i + 1]->c_name());
        EXPECT_EQ(ordinal_of(run, *tops[i]), i);
    }
    EXPECT_EQ(qualified_name(run, *tops[99999]->children()), "D99999_a");
}

TEST_F(big_shapes, doubling_dag_of_depth_40) {
    for (bool self : {false, true}) {
        run_context fresh_run;
        diagnostics fresh_run_diag;
        init_run_context(fresh_run);
        fresh_run_diag.console = out;
        std::swap(run.modules, fresh_run.modules);
        std::vector<element*> tops = build(40, 2, self);
        ASSERT_EQ(post_parse(run, diag), 1) << console().substr(0, 500);
        int marked = 0;
        for (element* d : tops) {
            for (element* q = d->children(); q != nullptr; q = q->next()) marked += q->recursive;
            EXPECT_EQ(ordinal_of(run, *d->children()->next()), 1);
        }
        if (self) {
            // Only the members of the bottom structure close a cycle.
            EXPECT_EQ(marked, 2);
            EXPECT_TRUE(tops[39]->children()->recursive);
            EXPECT_TRUE(tops[39]->children()->next()->recursive);
        } else {
            EXPECT_EQ(marked, 0);
        }
        run.modules = nullptr;
        run.elements = nullptr;
        run.union_members.clear();
    }
}

TEST_F(big_shapes, doubling_dag_plugged_twice_resolves_and_names_once) {
    // plug struct Ext { D0 d; }; into T1, T2;  the second copy reaches the
    // whole resolved DAG through the shared member.
    std::vector<element*> tops = build(40, 2, true);
    module_record* m = run.modules;
    element* t1 = top(m, "T1", ET_STRUCT);
    member(t1, "x", ET_INTEGER);
    element* t2 = top(m, "T2", ET_STRUCT);
    member(t2, "x", ET_INTEGER);
    plug_record* s = plug(m, {"T1", "T2"});
    element* ext = add(&s->elements, m, "Ext", ET_STRUCT);
    element* d = member(ext, "d", ET_LINK, "D0");
    ASSERT_EQ(post_parse(run, diag), 1) << console().substr(0, 500);
    EXPECT_EQ(d->children(), tops[0]->children());
    EXPECT_EQ(qualified_name(run, *t2->children()->next()), "T2_Ext");
    EXPECT_EQ(qualified_name(run, *d), "D0");
}

}  // namespace
}  // namespace qrv
