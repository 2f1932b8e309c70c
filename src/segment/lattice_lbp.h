#pragma once
// Belief propagation on the lattice neighbourhood with every node updated as if it had all ten
// neighbours: a missing neighbour sends 1.0, and multiplying by 1.0 changes no bit, so every
// message and belief is the one segment/lbp.h computes on the same set. In exchange, eight
// consecutive nodes (a block) always form a group of the vector kernel, and the messages of a
// block are read and written as rows rather than gathered slot by slot.
//
// Messages are kept by their sender: row j*K + s of a table holds, for every node, label s of
// the message it sends through offset j (kLatticeOffsets). Node n receives through offset j
// what its neighbour u sends through offset 9 - j, at row (9 - j)*K + s, place u; for most
// blocks the eight neighbours behind one offset are eight consecutive places.
#include <vector>

#include "segment/lbp.h"
#include "segment/lbp_graph.h"

// Eight nodes per block: the widest vector unit's lanes.
constexpr int kLatticeBlock = 8;

// Where the block's lanes read the messages that reach them through one offset: from places
// base + lane of the sending row for the lanes whose bit is set in `lanes` (the others have no
// neighbour there and read 1.0), or, when `gathered`, from the places that
// LatticeLbpGraph::source lists lane by lane.
struct LatticeReach {
  int base = 0;
  unsigned char lanes = 0;
  unsigned char gathered = 0;
};

// The layout of one segmentation set. The candidates stand at ascending places, each slice
// starting a new block, and the representative on a block of its own after them, so that the
// schedule can place every block by the slice and row of its voxels; the other places of those
// blocks hold no node.
struct LatticeLbpGraph {
  int nodes = 0;  // N, the candidates and the representative
  int places = 0; // blocks * kLatticeBlock
  std::vector<int> placeOfNode;
  std::vector<int> nodeOfPlace; // -1 where no node stands
  // Length of a table row: the places, a margin on both sides for reads beyond a block's ends,
  // and an odd number of cache lines, so that rows do not fall on the same cache sets.
  long rowLength = 0;
  std::vector<int> source; // source[j * places + p]: the place that sends to p through j, or -1
  std::vector<LatticeReach> reach;          // reach[b * kLatticeOffsets + j]
  std::vector<unsigned short> blockOffsets; // per block, the offsets any of its nodes has
  // Vector lanes the sweeps use (1, 2, 4 or 8; lbp_group_width by default).
  int width = 1;
  // The schedule. Every block stands at the slice and row of its first node. Slabs are runs of
  // whole slices: slab k holds slabBlocks[slabStart[k] .. slabStart[k+1]), in the order of
  // their rows, and a block reads only from blocks of its own slab and of the two beside it,
  // and of rows at most rowReach from its own. Rows count from the lowest block row (0 ..
  // rowCount-1); slabRowStart[k * (rowCount + 1) + r] is the first of slab k's blocks whose
  // row is at least r.
  std::vector<int> slabBlocks;
  std::vector<int> slabStart;
  std::vector<int> slabRowStart;
  int rowCount = 0;
  int rowReach = 0;
  int bandRows = 1; // rows per band of the schedule (lattice_lbp_inference)
  int blockCount() const { return places / kLatticeBlock; }
  int slabCount() const { return static_cast<int>(slabStart.size()) - 1; }
};

// Rows per band of the schedule: a band of a few slices at a time fits in the processor's
// second-level cache, where a whole slice of a large region does not.
constexpr int kLatticeBandRows = 8;

// The layout of the lattice neighbourhood of the nodes (candidates..., representative), for
// sets that lattice_graph_applies to, in a volume of extents dims. `neighbours` is working
// space kept by the caller.
void build_lattice_lbp(LatticeLbpGraph &graph, int representative,
                       const std::vector<int> &candidates, const std::vector<int> &dims,
                       LatticeNeighbours &neighbours, int bandRows = kLatticeBandRows);

// Tables of one layout, kept by callers that run many inferences.
struct LatticeLbpWorkspace {
  MessageTable tables[2]; // the messages of even and of odd sweeps
  MessageTable evidence;  // row s: label s of every place's evidence

  // Makes room for the tables of `graph` with up to K labels.
  void reserve(const LatticeLbpGraph &graph, int K);
};

// Largest label count the lattice kernels are compiled for.
constexpr int kLatticeLargestK = 9;

// Beliefs (N*K values, node by node) after `iterations` synchronous sweeps, for
// 1 <= K <= kLatticeLargestK (K as lbp_inference takes it from the transition matrix). The
// same bits as lbp_inference on the graph build_lattice_lbp_graph makes of the same set, with
// the same progress text.
//
// The sweeps run band by band: at sweep t, band Y holds the blocks of rows r with
// Y * bandRows <= r + t * rowReach < (Y + 1) * bandRows, so that a block reads at sweep t only
// blocks of its own band or of earlier ones. A band takes every sweep of every slab, the slabs
// as a wavefront (at step k, slab k - t takes sweep t, t ascending), before the next band
// starts. Each block's sweep t then comes after the sweep t - 1 of every block it reads from,
// and after every reader of what it overwrites (its own sweep t - 2, read by those same
// blocks at sweep t - 1), so each message is computed from the same inputs as in whole
// sweeps, while the blocks a band works on stay in the caches from one sweep to the next.
void lattice_lbp_inference(std::vector<double> &beliefs, const LatticeLbpGraph &graph,
                           const std::vector<double> &evidence,
                           const std::vector<double> &transition, int iterations,
                           LatticeLbpWorkspace &workspace);

// lattice_lbp_inference on a prepared layout and its workspace.
class LatticePropagation final : public BeliefPropagation {
public:
  LatticePropagation(const LatticeLbpGraph &graph, LatticeLbpWorkspace &workspace)
      : graph_(graph), workspace_(workspace) {}
  void infer(std::vector<double> &beliefs, const std::vector<double> &evidence,
             const std::vector<double> &transition, int iterations) override {
    lattice_lbp_inference(beliefs, graph_, evidence, transition, iterations, workspace_);
  }

private:
  const LatticeLbpGraph &graph_;
  LatticeLbpWorkspace &workspace_;
};
