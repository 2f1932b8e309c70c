#include "segment/lbp_graph.h"

#include <algorithm>
#include <cstdlib>

#include "segment/lbp_lanes.h"

namespace {

long volumeOf(const std::vector<int> &dims) {
  if (dims.empty())
    return 0;
  long volume = 1;
  for (int extent : dims)
    volume *= extent;
  return volume;
}

// Last slot of `list` whose voxel index is `voxel`, or -1.
int lastSlotHolding(const std::vector<int> &list, int voxel) {
  for (int y = static_cast<int>(list.size() / 2) - 1; y >= 0; --y)
    if (list[2 * y + 1] == voxel)
      return y;
  return -1;
}

} // namespace

int lbp_group_width() {
#ifdef TORVA_LANES
#ifdef TORVA_AVX_LANES
  static const int width = __builtin_cpu_supports("avx512f") ? 8
                           : __builtin_cpu_supports("avx")   ? 4
                                                             : 2;
#else
  static const int width = 2;
#endif
  return width;
#else
  return 1;
#endif
}

void place_lbp_messages(LbpGraph &graph) {
  const std::size_t slots = graph.reverseSlot.size();
  std::vector<int> sender(slots, -1); // receiving slot of each sending slot
  bool oneToOne = true;
  for (std::size_t h = 0; h < slots && oneToOne; ++h) {
    const int g = graph.reverseSlot[h];
    if (g < 0 || sender[g] >= 0)
      oneToOne = false;
    else
      sender[g] = static_cast<int>(h);
  }
  lbp_reserve_with_margin(graph.readSlot, slots);
  lbp_reserve_with_margin(graph.writeSlot, slots);
  lbp_reserve_with_margin(graph.neighbourNode, slots);
  graph.readSlot.resize(slots);
  graph.writeSlot.resize(slots);
  graph.messageSlots = static_cast<int>(slots);
  for (std::size_t g = 0; g < slots; ++g) {
    graph.readSlot[g] = oneToOne ? static_cast<int>(g) : graph.reverseSlot[g];
    graph.writeSlot[g] = oneToOne ? sender[g] : static_cast<int>(g);
  }
  std::vector<int> owner(slots);
  for (int n = 0; n < graph.nodeCount(); ++n)
    std::fill(owner.begin() + graph.slotOffset[n], owner.begin() + graph.slotOffset[n + 1], n);
  graph.neighbourNode.resize(slots);
  for (std::size_t g = 0; g < slots; ++g) {
    const int h = graph.reverseSlot[g];
    graph.neighbourNode[g] = h < 0 ? -1 : owner[h];
  }
}

void group_nodes_by_degree(LbpGraph &graph, int width) {
  graph.groupedNodes.clear();
  graph.ungroupedNodes.clear();
  graph.groupWidth = width;
  const int N = graph.nodeCount();
  const bool planned = !graph.slabStart.empty();
  const int slabs = planned ? static_cast<int>(graph.slabStart.size()) - 1 : 1;
  graph.slabGrouped.assign(1, 0);
  graph.slabUngrouped.assign(1, 0);
  constexpr int kLargest = 16; // the grouped kernel's degree limit
  std::vector<std::vector<int>> waiting(kLargest + 1);
  for (int b = 0; b < slabs; ++b) {
    const int begin = planned ? graph.slabStart[b] : 0;
    const int end = planned ? graph.slabStart[b + 1] : N;
    for (int i = begin; i < end; ++i) {
      const int n = planned ? graph.slabNodes[i] : i;
      const int degree = graph.slotOffset[n + 1] - graph.slotOffset[n];
      if (width < 2 || degree == 0 || degree > kLargest) {
        graph.ungroupedNodes.push_back(n);
        continue;
      }
      std::vector<int> &group = waiting[degree];
      group.push_back(n);
      if (static_cast<int>(group.size()) == width) {
        graph.groupedNodes.insert(graph.groupedNodes.end(), group.begin(), group.end());
        group.clear();
      }
    }
    for (std::vector<int> &group : waiting) {
      graph.ungroupedNodes.insert(graph.ungroupedNodes.end(), group.begin(), group.end());
      group.clear();
    }
    graph.slabGrouped.push_back(static_cast<int>(graph.groupedNodes.size()));
    graph.slabUngrouped.push_back(static_cast<int>(graph.ungroupedNodes.size()));
  }
}

int plan_lbp_wavefront(LbpGraph &graph, int minSlabNodes) {
  const int N = graph.nodeCount();
  graph.slabNodes.clear();
  graph.slabStart.clear();
  // Places: node n at n, the last node midway between the neighbours it reads from.
  auto placeOf = [N](int n, int lastPlace) { return n == N - 1 ? lastPlace : n; };
  int lastPlace = N - 1;
  if (N > 0) {
    int low = N - 1;
    int high = 0;
    for (int g = graph.slotOffset[N - 1]; g < graph.slotOffset[N]; ++g) {
      const int u = graph.neighbourNode[g];
      if (u >= 0 && u != N - 1) {
        low = std::min(low, u);
        high = std::max(high, u);
      }
    }
    if (low <= high)
      lastPlace = low + (high - low) / 2;
  }
  int bound = 0;
  for (int n = 0; n < N; ++n)
    for (int g = graph.slotOffset[n]; g < graph.slotOffset[n + 1]; ++g) {
      const int u = graph.neighbourNode[g];
      if (u >= 0)
        bound = std::max(bound, std::abs(placeOf(n, lastPlace) - placeOf(u, lastPlace)));
    }
  const long slabSize = std::max({bound, minSlabNodes, 1});
  const long slabs = N > 0 ? (N - 1) / slabSize + 1 : 0;
  if (slabs >= 3) {
    lbp_reserve_with_margin(graph.slabNodes, static_cast<std::size_t>(N));
    lbp_reserve_with_margin(graph.slabStart, static_cast<std::size_t>(slabs) + 1);
    graph.slabStart.push_back(0);
    const long lastSlab = lastPlace / slabSize;
    for (long b = 0; b < slabs; ++b) {
      const int begin = static_cast<int>(b * slabSize);
      const int end = static_cast<int>(std::min<long>((b + 1) * slabSize, N - 1));
      for (int n = begin; n < end; ++n)
        graph.slabNodes.push_back(n);
      if (b == lastSlab)
        graph.slabNodes.push_back(N - 1);
      graph.slabStart.push_back(static_cast<int>(graph.slabNodes.size()));
    }
  }
  group_nodes_by_degree(graph, graph.groupWidth);
  return bound;
}

void build_lbp_graph(LbpGraph &graph, int representative, const std::vector<int> &candidates,
                     const std::vector<std::vector<int>> &nbhd, const std::vector<int> &dims) {
  const int N = static_cast<int>(candidates.size()) + 1;
  const long volume = volumeOf(dims);
  std::vector<int> ownVoxel(N);
  for (int n = 0; n + 1 < N; ++n)
    ownVoxel[n] = candidates[n] - 1;
  ownVoxel[N - 1] = representative - 1;

  // Filled in node order with the representative last, so its voxel always maps to node C.
  std::vector<int> nodeOfVoxel(static_cast<std::size_t>(volume > 0 ? volume : 0), -1);
  for (int n = 0; n < N; ++n)
    if (ownVoxel[n] >= 0 && ownVoxel[n] < volume)
      nodeOfVoxel[ownVoxel[n]] = n;

  static const std::vector<int> noNeighbours;
  auto listOf = [&](int n) -> const std::vector<int> & {
    return static_cast<std::size_t>(n) < nbhd.size() ? nbhd[n] : noNeighbours;
  };

  lbp_reserve_with_margin(graph.slotOffset, static_cast<std::size_t>(N) + 1);
  graph.slotOffset.assign(N + 1, 0);
  graph.maxDegree = 0;
  for (int n = 0; n < N; ++n) {
    const int degree = static_cast<int>(listOf(n).size() / 2);
    graph.slotOffset[n + 1] = graph.slotOffset[n] + degree;
    if (degree > graph.maxDegree)
      graph.maxDegree = degree;
  }
  lbp_reserve_with_margin(graph.reverseSlot, static_cast<std::size_t>(graph.slotOffset[N]));
  graph.reverseSlot.assign(graph.slotOffset[N], -1);
  for (int n = 0; n < N; ++n) {
    const std::vector<int> &list = listOf(n);
    const int degree = static_cast<int>(list.size() / 2);
    for (int x = 0; x < degree; ++x) {
      const int v = list[2 * x + 1];
      if (v < 0 || v >= volume || nodeOfVoxel[v] < 0)
        continue;
      const int u = nodeOfVoxel[v];
      const int y = lastSlotHolding(listOf(u), ownVoxel[n]);
      if (y >= 0)
        graph.reverseSlot[graph.slotOffset[n] + x] = graph.slotOffset[u] + y;
    }
  }
  place_lbp_messages(graph);
  graph.groupWidth = lbp_group_width();
  plan_lbp_wavefront(graph, kLbpWavefrontSlabNodes);
}
