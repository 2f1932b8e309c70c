#pragma once
// The graphs belief propagation runs on: where each node's messages are kept, which nodes the
// sweeps update together, and the slabs of the wavefront. Built once per segmentation and
// shared by every inference on it (segment/lbp.h).
#include <cstddef>
#include <vector>

// Message layout of one segmentation graph, derived once from the neighbour lists and shared by
// every inference on that graph: the slots of node n are slotOffset[n] .. slotOffset[n+1]-1, and
// reverseSlot[g] is the global slot through which the neighbour behind slot g sends back to the
// owner of g (-1 when it has none; that slot then receives an all-ones message).
struct LbpGraph {
  std::vector<int> slotOffset;
  std::vector<int> reverseSlot;
  // Where messages are kept, as places of K values below messageSlots: the message that reaches
  // slot g is read at readSlot[g] (-1: none, all ones), and the message leaving through slot g
  // is written at writeSlot[g]. The lattice keeps them by neighbour offset (one array per
  // offset, in node order; build_lattice_lbp_graph). Other graphs keep them at the slot that
  // receives them when every slot has exactly one reverse slot, else at the slot that sends them.
  std::vector<int> readSlot;
  std::vector<int> writeSlot;
  int messageSlots = 0;
  // The node that sends into slot g (-1: none). The first sweep's messages are the same through
  // every slot of a sender, so they are kept once per node and read through this.
  std::vector<int> neighbourNode;
  int maxDegree = 0;
  // The nodes in groups of groupWidth nodes of equal degree, which the sweeps update together
  // (one node per vector lane), and the rest, updated one at a time.
  int groupWidth = 1;
  std::vector<int> groupedNodes;
  std::vector<int> ungroupedNodes;
  // The wavefront route (plan_lbp_wavefront): the nodes in slabs such that every node exchanges
  // messages only with nodes of its own slab and of the two beside it. Slab b holds the nodes
  // slabNodes[slabStart[b] .. slabStart[b+1]); its groups are groupedNodes[slabGrouped[b] ..
  // slabGrouped[b+1]) and the rest ungroupedNodes[slabUngrouped[b] .. slabUngrouped[b+1]).
  // Without a plan the whole graph is one slab in node order.
  std::vector<int> slabNodes;
  std::vector<int> slabStart;
  std::vector<int> slabGrouped;
  std::vector<int> slabUngrouped;

  int nodeCount() const { return static_cast<int>(slotOffset.size()) - 1; }
  int slabCount() const { return static_cast<int>(slabGrouped.size()) - 1; }
};

// Graphs and workspaces kept across regions (one per thread) grow with a margin: regions of one
// study differ a little in size, and every regrowth would be a fresh allocation whose pages are
// faulted in again. The contents are dropped, since every use rewrites them.
template <class Vector> void lbp_reserve_with_margin(Vector &values, std::size_t needed) {
  if (values.capacity() >= needed)
    return;
  values.clear();
  values.reserve(needed + needed / 4);
}

// Builds the layout for the nodes (candidates..., representative) and their lists `nbhd` of
// (tag, 0-based voxel index) pairs in a volume of extents dims. The reverse slot of node n's
// slot towards u is the last pair of u's list holding n's own voxel index.
void build_lbp_graph(LbpGraph &graph, int representative, const std::vector<int> &candidates,
                     const std::vector<std::vector<int>> &nbhd, const std::vector<int> &dims);

// The same layout for the lattice neighbourhood (create_nbhd_system_kclustering), built from
// the voxels themselves without any array of the volume's size. Applies when the candidates are
// strictly ascending and do not hold the representative, as the region search passes them.
bool lattice_graph_applies(int representative, const std::vector<int> &candidates);
void build_lattice_lbp_graph(LbpGraph &graph, int representative,
                             const std::vector<int> &candidates, const std::vector<int> &dims);

// The lattice neighbours of the nodes (candidates..., representative), in the order of the
// lattice lists: offset j (0 .. 9) is (0,0,-1), the eight in-slice neighbours (-1,-1,0) ..
// (1,1,0) with x slowest, then (0,0,1); offset 9 - j is the opposite of offset j. Kept by the
// caller across regions so that its arrays are not faulted in again for every region.
constexpr int kLatticeOffsets = 10;
struct LatticeNeighbours {
  std::vector<unsigned short> present; // per node, the offsets whose voxel is a member, as bits
  std::vector<int> target;             // target[n * 10 + j]: that member's node, else -1
  std::vector<unsigned short> inside;  // per node, the offsets that stay inside the volume
  std::vector<int> nodeRow;            // working space of build_lattice_lbp
};
// For candidates and representative as lattice_graph_applies accepts them.
void find_lattice_neighbours(LatticeNeighbours &out, int representative,
                             const std::vector<int> &candidates, const std::vector<int> &dims);

// build_lattice_lbp_graph with working space kept by the caller.
void build_lattice_lbp_graph(LbpGraph &graph, int representative,
                             const std::vector<int> &candidates, const std::vector<int> &dims,
                             LatticeNeighbours &neighbours);

// Fills readSlot, writeSlot and neighbourNode from reverseSlot.
void place_lbp_messages(LbpGraph &graph);

// Nodes per group that this processor's vector unit serves: 8 with AVX-512, 4 with AVX, 2 with
// SSE2, else 1.
int lbp_group_width();

// Fills the graph's groups of `width` nodes of equal degree (up to 16) from its slot offsets,
// slab by slab; width 1 leaves every node to the one-node kernel.
void group_nodes_by_degree(LbpGraph &graph, int width);

// Slabs for the wavefront route, then the groups of the graph's width within them. Node n < C
// stands at place n, the last node (the representative, whose voxel may lie anywhere) midway
// between its neighbours. Slabs are runs of at least max(minSlabNodes, bound) places, where
// the bound is the largest distance in places between a node and a neighbour it reads from;
// then neighbours are never more than one slab apart. With fewer than three slabs the graph
// keeps one slab and today's sweeps. Returns the bound.
int plan_lbp_wavefront(LbpGraph &graph, int minSlabNodes);

// Slab size the builders plan with: small enough that a few slabs of messages stay in the
// caches, large enough that the groups of equal degree are rarely broken at slab ends.
constexpr int kLbpWavefrontSlabNodes = 256;
