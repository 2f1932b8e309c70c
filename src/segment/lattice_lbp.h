#pragma once
// Belief propagation on the lattice neighbourhood, with every node updated as if it had all ten
// neighbours: a missing neighbour sends 1.0, and multiplying by 1.0 changes no bit, so every
// message and belief is the one segment/lbp.h computes on the same set. Any run of consecutive
// nodes then forms a group of the vector kernel, and the sweeps can work through the set in
// small pieces, a few rows of a slice at a time, whose messages stay in the processor's caches
// from one sweep to the next.
//
// Messages are kept by their sender: row j*K + s of a table holds, for every node, label s of
// the message it sends through offset j (kLatticeOffsets). Node n receives through offset j
// what its neighbour u sends through offset 9 - j, at row (9 - j)*K + s, place u. The nodes are
// taken in blocks of eight consecutive ones; for most blocks the neighbours behind one offset
// are consecutive nodes too, or two runs of them (a row end inside the block), read with one or
// two loads.
#include <vector>

#include "segment/lbp.h"
#include "segment/lbp_graph.h"

// Nodes per block: the widest vector unit's lanes.
constexpr int kLatticeLanes = 8;

// Where the lanes of a block read the messages that reach them through one offset. Lane i of
// firstLanes reads place first + i of the sending row, lane i of secondLanes place second + i;
// when neither run covers the lanes with a neighbour (`gathered`), each reads the place that
// LatticeLbpGraph::source lists for it. Lanes without a neighbour read 1.0.
struct LatticeReach {
  int first = 0;
  int second = 0;
  unsigned char lanes = 0; // the lanes with a neighbour behind the offset
  unsigned char firstLanes = 0;
  unsigned char secondLanes = 0;
  unsigned char gathered = 0;
};

// The layout and schedule of one segmentation set: node n < C is the candidate n (the
// candidates ascend), node C the representative. Rows are the volume's rows (y) within a slice
// (z); the candidates of one slice and row are consecutive nodes.
struct LatticeLbpGraph {
  int nodes = 0; // N = C + 1
  // Length of a table row: the nodes, a margin for the lanes of the last block past the last
  // node, and an odd number of cache lines, so that the rows do not fall on the same cache
  // sets.
  long rowLength = 0;
  // source[j * rowLength + n]: the node that sends to n through offset j, or -1 (no neighbour
  // there, and every place of the margin).
  std::vector<int> source;
  std::vector<LatticeReach> reach;          // reach[b * kLatticeOffsets + j] of block b
  std::vector<unsigned short> blockOffsets; // per block, the offsets any of its nodes has
  // Vector lanes of the sweeps (1, 2, 4 or 8; lbp_group_width by default).
  int width = 1;
  // Slices and rows, counted from the lowest of the set: the candidates of slice z with rows
  // at least r start at node rowStart[z * (rowCount + 1) + r].
  int sliceCount = 0;
  int rowCount = 0;
  std::vector<int> rowStart;
  int representativeSlice = 0;
  int representativeRow = 0;
  int bandRows = 1; // rows per band of the schedule (lattice_lbp_inference)
  // Of the pairs of a block and an offset with a neighbour, the share where every node of the
  // block has its neighbour and the neighbours are consecutive.
  double fullRunShare = 0.0;

  int blockCount() const { return (nodes + kLatticeLanes - 1) / kLatticeLanes; }
};

// Whether the lattice route is the faster one for the set: it computes every node as if it had
// all ten neighbours and reads a block's messages with one load where their senders are
// consecutive. On a sparse set (short rows, many holes) both go to waste, and the general
// graph, which groups nodes of equal degree, is faster.
bool lattice_route_pays(const LatticeLbpGraph &graph);

// Rows per band of the schedule: the messages of a band of a few slices stay in the processor's
// second-level cache, where those of whole slices of a large region do not.
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
  MessageTable evidence;  // row s: label s of every node's evidence

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
// The sweeps run band by band: at sweep t, band Y holds the rows r with
// Y * bandRows <= r + t < (Y + 1) * bandRows. A node reads only from nodes of its own row and
// the rows beside it, so at sweep t only from nodes of its own band or earlier bands. A band
// takes every sweep of every slice, the slices as a wavefront (at step k, slice k - t takes
// sweep t, t ascending), before the next band starts. Each node's sweep t then comes after the
// sweep t - 1 of every node it reads from, and after every reader of what it overwrites (its
// own sweep t - 2, read by those same nodes at sweep t - 1), so each message is computed from
// the same inputs as in whole sweeps.
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
