#include "encoding/finite_messages.h"

#include <algorithm>

#include "encoding/encoding.h"

namespace qrv {

using chain_graph::edge_list;
using chain_graph::node_id;

bool in_every_value(element_kind owner, const element& m) {
    if (owner != ET_STRUCT || m.kind != ET_STRUCT || m.children() == nullptr) return false;
    const occurrences o = occurrences_of(m);
    return !o.never() && o.min >= 1;
}

// Tarjan's algorithm with an explicit stack.
std::vector<bool> on_cycle(std::size_t nodes, edge_list& edges) {
    std::sort(edges.begin(), edges.end());
    edges.erase(std::unique(edges.begin(), edges.end()), edges.end());
    std::vector<std::size_t> first(nodes + 1, 0);
    for (const auto& e : edges) ++first[e.first + 1];
    for (std::size_t v = 0; v < nodes; ++v) first[v + 1] += first[v];

    constexpr std::uint32_t unvisited = UINT32_MAX;
    std::vector<std::uint32_t> index(nodes, unvisited);
    std::vector<std::uint32_t> low(nodes, 0);
    std::vector<bool> stacked(nodes, false);
    std::vector<bool> cyclic(nodes, false);
    std::vector<node_id> component;
    struct call {
        node_id v;
        std::size_t next;
    };
    std::vector<call> calls;
    std::uint32_t counter = 0;

    auto enter = [&](node_id v) {
        index[v] = low[v] = counter++;
        component.push_back(v);
        stacked[v] = true;
        calls.push_back({v, first[v]});
    };
    for (node_id s = 0; s < nodes; ++s) {
        if (index[s] != unvisited) continue;
        enter(s);
        while (!calls.empty()) {
            call& c = calls.back();
            const node_id v = c.v;
            if (c.next < first[v + 1]) {
                const node_id w = edges[c.next++].second;
                if (w == v) cyclic[v] = true;
                if (index[w] == unvisited) {
                    enter(w);
                } else if (stacked[w]) {
                    low[v] = std::min(low[v], index[w]);
                }
                continue;
            }
            calls.pop_back();
            if (!calls.empty()) low[calls.back().v] = std::min(low[calls.back().v], low[v]);
            if (low[v] != index[v]) continue;
            std::size_t pos = component.size() - 1;
            while (component[pos] != v) --pos;
            const bool several = component.size() - pos > 1;
            for (std::size_t k = pos; k < component.size(); ++k) {
                stacked[component[k]] = false;
                if (several) cyclic[component[k]] = true;
            }
            component.resize(pos);
        }
    }
    return cyclic;
}

finite_messages find_finite_messages(std::size_t nodes, edge_list edges) {
    finite_messages out;
    out.on_cycle = on_cycle(nodes, edges);
    // A node is not finite when it is on a cycle or reaches one: walked
    // back along the edges from the nodes on cycles.
    std::vector<std::size_t> first(nodes + 1, 0);
    for (const auto& e : edges) ++first[e.second + 1];
    for (std::size_t v = 0; v < nodes; ++v) first[v + 1] += first[v];
    std::vector<node_id> into(edges.size());
    {
        std::vector<std::size_t> next(first.begin(), first.end() - 1);
        for (const auto& e : edges) into[next[e.second]++] = e.first;
    }
    out.finite.assign(nodes, true);
    std::vector<node_id> stack;
    for (node_id v = 0; v < nodes; ++v) {
        if (out.on_cycle[v]) {
            out.finite[v] = false;
            stack.push_back(v);
        }
    }
    while (!stack.empty()) {
        const node_id v = stack.back();
        stack.pop_back();
        for (std::size_t k = first[v]; k < first[v + 1]; ++k) {
            const node_id from = into[k];
            if (!out.finite[from]) continue;
            out.finite[from] = false;
            stack.push_back(from);
        }
    }
    return out;
}

}  // namespace qrv
