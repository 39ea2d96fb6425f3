// Whether a body has a finite message, the one answer of the encoding that
// the strict checks report and the example writer relies on.
//
// The bodies are the member chains a walk met, numbered by the walk; an
// edge a -> b says that every value of a holds a value of b: a required
// structure member of a structure (`in_every_value`). Unions always have a
// finite value (an extension parameter stands for one whose alternatives
// have none) and combinations hold simple values only, so a body has no
// finite message exactly when it reaches a structure that contains itself
// through such edges.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "model/records.h"

namespace qrv {

namespace chain_graph {
using node_id = std::uint32_t;
using edge_list = std::vector<std::pair<node_id, node_id>>;
}  // namespace chain_graph

// Whether every value of a body of kind `owner` holds a value of the
// members of `m` (the edge of the finite-message graph): a structure in a
// structure that stands at least once.
bool in_every_value(element_kind owner, const element& m);

// The nodes that lie on a cycle of the graph: in a strongly connected
// component of more than one node, or with an edge to themselves. `edges`
// is sorted and loses its duplicates.
std::vector<bool> on_cycle(std::size_t nodes, chain_graph::edge_list& edges);

struct finite_messages {
    // The body contains itself through values every message holds.
    std::vector<bool> on_cycle;
    // The body has a finite message: it reaches no such cycle.
    std::vector<bool> finite;
};

// The answer for every node of a graph of `in_every_value` edges.
finite_messages find_finite_messages(std::size_t nodes, chain_graph::edge_list edges);

}  // namespace qrv
