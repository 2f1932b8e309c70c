#pragma once
// Loopy belief propagation over a voxel neighbourhood graph: a fixed number of synchronous
// sum-product sweeps on a graph of segment/lbp_graph.h, with the potentials of
// segment/kclustering.h.
//
// Graph nodes: node n < C is the voxel with id candidates[n], node C the representative.
// Slot x of node n is its x-th neighbour (pair x of its neighbour list). The message that n
// sends through slot x in sweep t+1, from the messages m_{u->n} of sweep t:
//
//   m_{n->w}(s) = E_n(s) * sum_t T(s, t) * prod_{u in N(n), u != w} m_{u->n}(t)
//
// normalised to sum 1. The sender's evidence multiplies after the sum, at the receiver's label
// s. Beliefs: b_n(s) proportional to E_n(s) * prod_{u in N(n)} m_{u->n}(s).
#include <memory>
#include <utility>
#include <vector>

#include "segment/lbp_graph.h"

// Every message is written before it is read, so growing the tables need not zero them: the
// allocator leaves new values uninitialised where std::allocator would clear them.
template <class T> struct UninitialisedAllocator : std::allocator<T> {
  template <class U> struct rebind { using other = UninitialisedAllocator<U>; };
  UninitialisedAllocator() = default;
  template <class U> UninitialisedAllocator(const UninitialisedAllocator<U> &) noexcept {}
  template <class U> void construct(U *p) noexcept { ::new (static_cast<void *>(p)) U; }
  template <class U, class... Args> void construct(U *p, Args &&...args) {
    ::new (static_cast<void *>(p)) U(std::forward<Args>(args)...);
  }
};
using MessageTable = std::vector<double, UninitialisedAllocator<double>>;

// Message storage of one graph, kept by callers that run many inferences so that the tables of
// tens of thousands of voxels are not allocated and released on every call.
struct LbpWorkspace {
  MessageTable current;
  MessageTable next;
  MessageTable nodeMessages; // the first sweep's message of each node

  // Makes room for the messages of `graph` with up to K labels.
  void reserve(const LbpGraph &graph, int K);
};

// `iterations` synchronous sweeps on a prepared graph; beliefs become N*K values, node by node
// (each written, none cleared first). K = floor(sqrt(|transition|)) taken in single precision.
//
// A graph of several slabs runs the sweeps as a skewed wavefront: at step k, slab k - t takes
// sweep t for t = 0, 1, ..., and the beliefs as sweep `iterations`. Sweep t of a slab reads
// sweep t - 1 of the slabs beside it, which the same step or the one before has just made, so a
// slab's messages pass through the caches once per inference, not once per sweep. Each message
// is computed from the same inputs with the same operations as in a whole sweep, so the beliefs
// are the same to the bit. Messages of sweep t live in the table of t's parity; the value a
// sweep overwrites there (sweep t - 2) has been read by every neighbour by then.
void lbp_inference(std::vector<double> &beliefs, const LbpGraph &graph,
                   const std::vector<double> &evidence, const std::vector<double> &transition,
                   int iterations, LbpWorkspace &workspace);

// The belief propagation of one segmentation graph, as the GEM loop runs it once per iteration
// (kclustering_lbp_fixed_cluster_number): beliefs from evidence and transition matrix.
class BeliefPropagation {
public:
  virtual ~BeliefPropagation() = default;
  virtual void infer(std::vector<double> &beliefs, const std::vector<double> &evidence,
                     const std::vector<double> &transition, int iterations) = 0;
};

// lbp_inference on a prepared graph and its workspace.
class GraphPropagation final : public BeliefPropagation {
public:
  GraphPropagation(const LbpGraph &graph, LbpWorkspace &workspace)
      : graph_(graph), workspace_(workspace) {}
  void infer(std::vector<double> &beliefs, const std::vector<double> &evidence,
             const std::vector<double> &transition, int iterations) override {
    lbp_inference(beliefs, graph_, evidence, transition, iterations, workspace_);
  }

private:
  const LbpGraph &graph_;
  LbpWorkspace &workspace_;
};

void lbp_inference(std::vector<double> &beliefs, int representative,
                   const std::vector<int> &candidates, const std::vector<double> &evidence,
                   const std::vector<double> &transition, const std::vector<std::vector<int>> &nbhd,
                   const std::vector<int> &dims, int iterations);
