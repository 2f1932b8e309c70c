// The lattice neighbourhood built straight into the message layout of belief propagation, for
// the segmentation sets the region search hands over (ascending candidates without the
// representative). It keeps nothing of the volume's size: a whole-brain volume has millions of
// voxels, a segmentation set tens of thousands.
#include <algorithm>
#include <vector>

#include "segment/lbp.h"

namespace {

// The neighbour offsets in list order; offset 9 - j is the opposite of offset j.
struct Offset {
  int dx, dy, dz;
};
constexpr Offset kOffsets[10] = {{0, 0, -1}, {-1, -1, 0}, {-1, 0, 0}, {-1, 1, 0}, {0, -1, 0},
                                 {0, 1, 0},  {1, -1, 0},  {1, 0, 0},  {1, 1, 0},  {0, 0, 1}};

// Node of a member voxel by open addressing; -1 for a voxel outside the set.
class VoxelNodes {
public:
  explicit VoxelNodes(std::size_t members) {
    std::size_t capacity = 16;
    while (capacity < 2 * members)
      capacity *= 2;
    mask_ = capacity - 1;
    voxels_.assign(capacity, -1);
    nodes_.assign(capacity, -1);
  }
  void insert(int voxel, int node) {
    std::size_t at = slotOf(voxel);
    while (voxels_[at] != -1 && voxels_[at] != voxel)
      at = (at + 1) & mask_;
    voxels_[at] = voxel;
    nodes_[at] = node;
  }
  int find(int voxel) const {
    for (std::size_t at = slotOf(voxel);; at = (at + 1) & mask_) {
      if (voxels_[at] == voxel)
        return nodes_[at];
      if (voxels_[at] == -1)
        return -1;
    }
  }

private:
  std::size_t slotOf(int voxel) const {
    return (static_cast<std::size_t>(voxel) * 0x9E3779B97F4A7C15u >> 17) & mask_;
  }
  std::size_t mask_;
  std::vector<int> voxels_;
  std::vector<int> nodes_;
};

} // namespace

bool lattice_graph_applies(int representative, const std::vector<int> &candidates) {
  for (std::size_t i = 1; i < candidates.size(); ++i)
    if (candidates[i - 1] >= candidates[i])
      return false;
  return !std::binary_search(candidates.begin(), candidates.end(), representative);
}

void build_lattice_lbp_graph(LbpGraph &graph, int representative,
                             const std::vector<int> &candidates, const std::vector<int> &dims) {
  const int N = static_cast<int>(candidates.size()) + 1;
  auto voxelOf = [&](int n) { return n + 1 < N ? candidates[n] - 1 : representative - 1; };
  VoxelNodes nodeOf(static_cast<std::size_t>(N));
  for (int n = 0; n < N; ++n)
    nodeOf.insert(voxelOf(n), n);

  const long X = dims[0];
  const long Y = dims[1];
  const long Z = dims[2];
  // Per node the offsets whose target is a member, as bits, and those targets' nodes.
  std::vector<unsigned short> present(static_cast<std::size_t>(N), 0);
  std::vector<int> target(static_cast<std::size_t>(N) * 10, -1);
  for (int n = 0; n < N; ++n) {
    const long v = voxelOf(n);
    const long x = v % X;
    const long y = (v / X) % Y;
    const long z = v / (X * Y);
    for (int j = 0; j < 10; ++j) {
      const Offset &o = kOffsets[j];
      const long tx = x + o.dx;
      const long ty = y + o.dy;
      const long tz = z + o.dz;
      const bool inside =
          o.dz != 0 ? (tz >= 0 && tz < Z) : (tx >= 0 && tx < X && ty >= 0 && ty < Y);
      if (!inside)
        continue;
      const int u = nodeOf.find(static_cast<int>(tx + X * (ty + Y * tz)));
      if (u < 0)
        continue;
      present[n] |= static_cast<unsigned short>(1u << j);
      target[static_cast<std::size_t>(n) * 10 + j] = u;
    }
  }

  graph.slotOffset.assign(static_cast<std::size_t>(N) + 1, 0);
  graph.maxDegree = 0;
  for (int n = 0; n < N; ++n) {
    const int degree = __builtin_popcount(present[n]);
    graph.slotOffset[n + 1] = graph.slotOffset[n] + degree;
    graph.maxDegree = std::max(graph.maxDegree, degree);
  }
  // The neighbour behind offset j lists this node at the opposite offset; its slot there is
  // the number of its present offsets before that one.
  graph.reverseSlot.assign(static_cast<std::size_t>(graph.slotOffset[N]), -1);
  for (int n = 0; n < N; ++n) {
    int slot = graph.slotOffset[n];
    for (int j = 0; j < 10; ++j) {
      if (!(present[n] & (1u << j)))
        continue;
      const int u = target[static_cast<std::size_t>(n) * 10 + j];
      const unsigned before = present[u] & ((1u << (9 - j)) - 1u);
      graph.reverseSlot[slot++] = graph.slotOffset[u] + __builtin_popcount(before);
    }
  }
  place_lbp_messages(graph);
  group_nodes_by_degree(graph, lbp_group_width());
}
