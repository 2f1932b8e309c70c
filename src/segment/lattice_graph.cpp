// The lattice neighbourhood built straight into the message layout of belief propagation, for
// the segmentation sets the region search hands over (ascending candidates without the
// representative). It keeps nothing of the volume's size: a whole-brain volume has millions of
// voxels, a segmentation set tens of thousands.
#include <algorithm>
#include <vector>

#include "segment/lbp_graph.h"

namespace {

// The neighbour offsets in list order; offset 9 - j is the opposite of offset j.
struct Offset {
  int dx, dy, dz;
};
constexpr Offset kOffsets[10] = {{0, 0, -1}, {-1, -1, 0}, {-1, 0, 0}, {-1, 1, 0}, {0, -1, 0},
                                 {0, 1, 0},  {1, -1, 0},  {1, 0, 0},  {1, 1, 0},  {0, 0, 1}};

// Offsets j whose target voxel lies inside the volume, as bits.
unsigned insideOffsets(long v, long X, long Y, long Z) {
  const long x = v % X;
  const long y = (v / X) % Y;
  const long z = v / (X * Y);
  unsigned inside = 0;
  for (int j = 0; j < 10; ++j) {
    const Offset &o = kOffsets[j];
    const long tx = x + o.dx;
    const long ty = y + o.dy;
    const long tz = z + o.dz;
    if (o.dz != 0 ? (tz >= 0 && tz < Z) : (tx >= 0 && tx < X && ty >= 0 && ty < Y))
      inside |= 1u << j;
  }
  return inside;
}

} // namespace

bool lattice_graph_applies(int representative, const std::vector<int> &candidates) {
  for (std::size_t i = 1; i < candidates.size(); ++i)
    if (candidates[i - 1] >= candidates[i])
      return false;
  return !std::binary_search(candidates.begin(), candidates.end(), representative);
}

void find_lattice_neighbours(LatticeNeighbours &out, int representative,
                             const std::vector<int> &candidates, const std::vector<int> &dims) {
  const int N = static_cast<int>(candidates.size()) + 1;
  const int C = N - 1;
  const long X = dims[0];
  const long Y = dims[1];
  const long Z = dims[2];
  const long representativeVoxel = representative - 1;
  auto voxelOf = [&](int n) -> long { return n < C ? candidates[n] - 1L : representativeVoxel; };
  // Node of a member voxel; -1 outside the set. The candidates ascend, so a lookup for the
  // representative's neighbours is a binary search.
  auto nodeOfVoxel = [&](long voxel) -> int {
    if (voxel == representativeVoxel)
      return C;
    const auto at = std::lower_bound(candidates.begin(), candidates.end(), voxel + 1);
    return at != candidates.end() && *at == voxel + 1 ? static_cast<int>(at - candidates.begin())
                                                      : -1;
  };

  // For one offset the candidates' targets ascend with the candidates, so one merging walk
  // finds them.
  const std::size_t nodes = static_cast<std::size_t>(N);
  lbp_reserve_with_margin(out.present, nodes);
  lbp_reserve_with_margin(out.target, nodes * kLatticeOffsets);
  lbp_reserve_with_margin(out.inside, nodes);
  out.present.assign(nodes, 0);
  out.target.assign(nodes * kLatticeOffsets, -1);
  out.inside.resize(nodes);
  std::vector<unsigned short> &present = out.present;
  std::vector<unsigned short> &inside = out.inside;
  for (int n = 0; n < N; ++n)
    inside[n] = static_cast<unsigned short>(insideOffsets(voxelOf(n), X, Y, Z));
  auto link = [&](int n, int j, int u) {
    present[n] |= static_cast<unsigned short>(1u << j);
    out.target[static_cast<std::size_t>(n) * kLatticeOffsets + j] = u;
  };
  for (int j = 0; j < kLatticeOffsets; ++j) {
    const Offset &o = kOffsets[j];
    const long delta = o.dx + X * (o.dy + Y * o.dz);
    int walk = 0;
    for (int n = 0; n < C; ++n) {
      if (!(inside[n] & (1u << j)))
        continue;
      const long t = candidates[n] - 1L + delta;
      while (walk < C && candidates[walk] - 1L < t)
        ++walk;
      if (walk < C && candidates[walk] - 1L == t)
        link(n, j, walk);
      else if (t == representativeVoxel)
        link(n, j, C);
    }
    if (inside[C] & (1u << j)) {
      const int u = nodeOfVoxel(representativeVoxel + delta);
      if (u >= 0)
        link(C, j, u);
    }
  }
}

void build_lattice_lbp_graph(LbpGraph &graph, int representative,
                             const std::vector<int> &candidates, const std::vector<int> &dims) {
  LatticeNeighbours neighbours;
  build_lattice_lbp_graph(graph, representative, candidates, dims, neighbours);
}

void build_lattice_lbp_graph(LbpGraph &graph, int representative,
                             const std::vector<int> &candidates, const std::vector<int> &dims,
                             LatticeNeighbours &neighbours) {
  const int N = static_cast<int>(candidates.size()) + 1;
  find_lattice_neighbours(neighbours, representative, candidates, dims);
  const std::vector<unsigned short> &present = neighbours.present;
  const std::vector<int> &target = neighbours.target;

  lbp_reserve_with_margin(graph.slotOffset, static_cast<std::size_t>(N) + 1);
  graph.slotOffset.assign(static_cast<std::size_t>(N) + 1, 0);
  graph.maxDegree = 0;
  for (int n = 0; n < N; ++n) {
    const int degree = __builtin_popcount(present[n]);
    graph.slotOffset[n + 1] = graph.slotOffset[n] + degree;
    graph.maxDegree = std::max(graph.maxDegree, degree);
  }
  // The neighbour behind offset j lists this node at the opposite offset; its slot there is
  // the number of its present offsets before that one. Messages are kept by offset: the one
  // reaching node n through offset j at j * N + n. For every offset the messages then form one
  // array in node order, so a sweep over ascending nodes reads and writes ten dense streams
  // instead of scattering each message to a slot of its own receiver.
  const std::size_t slots = static_cast<std::size_t>(graph.slotOffset[N]);
  for (std::vector<int> *column :
       {&graph.reverseSlot, &graph.readSlot, &graph.writeSlot, &graph.neighbourNode}) {
    lbp_reserve_with_margin(*column, slots);
    column->resize(slots);
  }
  for (int n = 0; n < N; ++n) {
    int slot = graph.slotOffset[n];
    for (int j = 0; j < 10; ++j) {
      if (!(present[n] & (1u << j)))
        continue;
      const int u = target[static_cast<std::size_t>(n) * 10 + j];
      const unsigned before = present[u] & ((1u << (9 - j)) - 1u);
      graph.reverseSlot[slot] = graph.slotOffset[u] + __builtin_popcount(before);
      graph.readSlot[slot] = j * N + n;
      graph.writeSlot[slot] = (9 - j) * N + u;
      graph.neighbourNode[slot] = u;
      ++slot;
    }
  }
  graph.messageSlots = 10 * N;
  graph.groupWidth = lbp_group_width();
  plan_lbp_wavefront(graph, kLbpWavefrontSlabNodes);
}
