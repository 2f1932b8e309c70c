// Segmentation hot path on a whole-brain volume: belief propagation over a 50,000-voxel lattice
// block (a self-contained call, and one on a prepared graph with reused message storage as the
// GEM loop makes it), and one whole segmentation call on the same set; and one inference on a
// region of 1 mm size by both routes, whole sweeps and the wavefront, with the bytes a whole
// sweep moves and the rate at which five of them are done.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fcntl.h>
#include <limits>
#include <unistd.h>
#include <vector>

#include "data/samples.h"
#include "segment/kclustering.h"
#include "segment/lattice_lbp.h"
#include "segment/lbp.h"
#include "segment/neighborhood.h"
#include "segment/segmentation.h"

namespace {

constexpr int kX = 91, kY = 109, kZ = 91;
constexpr int kCases = 50;

// Progress text would swamp the report, so standard output goes to /dev/null around each call.
class SilencedStdout {
public:
  SilencedStdout() {
    std::fflush(stdout);
    saved_ = dup(1);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    close(null);
  }
  ~SilencedStdout() {
    std::fflush(stdout);
    dup2(saved_, 1);
    close(saved_);
  }
  SilencedStdout(const SilencedStdout &) = delete;
  SilencedStdout &operator=(const SilencedStdout &) = delete;

private:
  int saved_;
};

// A 50 x 50 x 20 block of the volume: the candidates in ascending id order, the block's centre
// as the representative.
struct Block {
  std::vector<int> candidates;
  int representative = 0;
  std::vector<int> dims{kX, kY, kZ};
  Block() {
    const int cx = 20 + 25, cy = 30 + 25, cz = 35 + 10;
    representative = cx + kX * (cy + kY * cz) + 1;
    for (int z = 35; z < 55; ++z)
      for (int y = 30; y < 80; ++y)
        for (int x = 20; x < 70; ++x) {
          const int id = x + kX * (y + kY * z) + 1;
          if (id != representative)
            candidates.push_back(id);
        }
  }
};

// Voxels near the representative agree with it more often, so the similarity map has a blob.
void fillStudy(Samples &samples, const Block &block) {
  const long nodes = static_cast<long>(kX) * kY * kZ + 1;
  samples.setSize(nodes, kCases);
  samples.setXYZSiz(kX, kY, kZ);
  char *cells = samples.cellData();
  unsigned state = 12345u;
  auto next = [&state] {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  };
  for (long i = 0; i < nodes * kCases; ++i)
    cells[i] = '0';
  const int r = block.representative - 1;
  const int rx = r % kX, ry = (r / kX) % kY, rz = r / (kX * kY);
  for (int id : block.candidates) {
    const int v = id - 1;
    const int dx = v % kX - rx, dy = (v / kX) % kY - ry, dz = v / (kX * kY) - rz;
    const int distance2 = dx * dx + dy * dy + 4 * dz * dz;
    const unsigned flipPercent = distance2 < 200 ? 10 : (distance2 < 600 ? 40 : 60);
    for (int c = 0; c < kCases; ++c)
      if (next() % 100 < flipPercent)
        cells[static_cast<long>(c) * nodes + v] = '1';
  }
}

struct Fixture {
  Block block;
  Samples samples;
  std::vector<double> features;
  std::vector<std::vector<int>> nbhd;
  Fixture() {
    fillStudy(samples, block);
    compute_smap_kclustering(features, block.representative, block.candidates, samples);
    create_nbhd_system_kclustering(nbhd, block.representative, block.candidates, block.dims);
  }
};

Fixture &fixture() {
  static Fixture shared;
  return shared;
}

// Transition matrix and evidence for K means spread evenly over [0, 1], beta = 1.
void evenlySpacedPotentials(std::vector<double> &T, std::vector<double> &E,
                            const std::vector<double> &features, int K) {
  std::vector<double> means(K);
  for (int i = 0; i < K; ++i)
    means[i] = static_cast<double>(i) / (K - 1);
  create_transition_matrix_kclsutering(T, means, 1.0);
  create_evidence_kclustering(E, features, means);
}

void BM_LbpInference(benchmark::State &state) {
  Fixture &f = fixture();
  std::vector<double> T, E, beliefs;
  evenlySpacedPotentials(T, E, f.features, static_cast<int>(state.range(0)));
  for (auto _ : state) {
    SilencedStdout quiet;
    lbp_inference(beliefs, f.block.representative, f.block.candidates, E, T, f.nbhd, f.block.dims,
                  5);
    benchmark::DoNotOptimize(beliefs.data());
  }
  state.counters["nodes"] = static_cast<double>(f.features.size());
}
BENCHMARK(BM_LbpInference)->Arg(2)->Arg(8)->Unit(benchmark::kMillisecond);

void BM_LbpInferencePreparedGraph(benchmark::State &state) {
  Fixture &f = fixture();
  std::vector<double> T, E, beliefs;
  evenlySpacedPotentials(T, E, f.features, static_cast<int>(state.range(0)));
  LbpGraph graph;
  build_lbp_graph(graph, f.block.representative, f.block.candidates, f.nbhd, f.block.dims);
  LbpWorkspace workspace;
  for (auto _ : state) {
    SilencedStdout quiet;
    lbp_inference(beliefs, graph, E, T, 5, workspace);
    benchmark::DoNotOptimize(beliefs.data());
  }
}
BENCHMARK(BM_LbpInferencePreparedGraph)->Arg(2)->Arg(8)->Unit(benchmark::kMillisecond);

// One inference on a region of the size the first round finds at 1 mm: a 60 x 50 x 40 block
// (120,000 voxels) of the 181 x 217 x 181 volume with a few holes, through the lattice layout as
// the region search builds it. Arguments: K, and the route (0: whole sweeps one after another,
// 1: the wavefront the builder plans).
struct Region1mm {
  std::vector<int> candidates;
  int representative = 0;
  std::vector<int> dims{181, 217, 181};
  std::vector<double> features;
  Region1mm() {
    const int X = dims[0], Y = dims[1];
    const int cx = 60 + 30, cy = 80 + 25, cz = 70 + 20;
    representative = cx + X * (cy + Y * cz) + 1;
    unsigned state = 777u;
    for (int z = 70; z < 110; ++z)
      for (int y = 80; y < 130; ++y)
        for (int x = 60; x < 120; ++x) {
          const int id = x + X * (y + Y * z) + 1;
          state = state * 1664525u + 1013904223u;
          if (id != representative && (state >> 8) % 100 != 0)
            candidates.push_back(id);
        }
    // Similarities are counts over the 131 cases.
    for (std::size_t n = 0; n <= candidates.size(); ++n) {
      state = state * 1664525u + 1013904223u;
      features.push_back(static_cast<double>((state >> 8) % 132) / 131);
    }
  }
};

void BM_LbpInference1mmRegion(benchmark::State &state) {
  static const Region1mm region;
  const int K = static_cast<int>(state.range(0));
  std::vector<double> T, E, beliefs;
  evenlySpacedPotentials(T, E, region.features, K);
  LbpGraph graph;
  build_lattice_lbp_graph(graph, region.representative, region.candidates, region.dims);
  if (state.range(1) == 0)
    plan_lbp_wavefront(graph, std::numeric_limits<int>::max());
  LbpWorkspace workspace;
  constexpr int kSweeps = 5;
  for (auto _ : state) {
    SilencedStdout quiet;
    lbp_inference(beliefs, graph, E, T, kSweeps, workspace);
    benchmark::DoNotOptimize(beliefs.data());
  }
  // What a whole sweep moves: every slot reads one message and writes one (K doubles each) and
  // its two places (ints); every node reads its evidence, its slot offset and its group entry.
  const double slots = static_cast<double>(graph.slotOffset.back());
  const double nodes = static_cast<double>(graph.nodeCount());
  // The first sweep moves less and the beliefs about as much, so five of these stand for the
  // inference.
  const double bytesPerSweep = slots * (16.0 * K + 8.0) + nodes * (8.0 * K + 8.0);
  state.counters["nodes"] = nodes;
  state.counters["slabs"] = graph.slabCount();
  state.counters["bytes_per_sweep"] =
      benchmark::Counter(bytesPerSweep, benchmark::Counter::kDefaults, benchmark::Counter::kIs1024);
  state.counters["bandwidth"] =
      benchmark::Counter(bytesPerSweep * kSweeps, benchmark::Counter::kIsIterationInvariantRate,
                         benchmark::Counter::kIs1024);
}
BENCHMARK(BM_LbpInference1mmRegion)
    ->ArgsProduct({{2, 3}, {0, 1}})
    ->ArgNames({"K", "wavefront"})
    ->Unit(benchmark::kMillisecond);

// The same region through the lattice route the segmentation takes: every node as if it had
// all ten neighbours, messages kept by sender in rows. Argument: K.
void BM_LatticeLbpInference1mmRegion(benchmark::State &state) {
  static const Region1mm region;
  const int K = static_cast<int>(state.range(0));
  std::vector<double> T, E, beliefs;
  evenlySpacedPotentials(T, E, region.features, K);
  LatticeNeighbours neighbours;
  LatticeLbpGraph graph;
  build_lattice_lbp(graph, region.representative, region.candidates, region.dims, neighbours);
  LatticeLbpWorkspace workspace;
  for (auto _ : state) {
    SilencedStdout quiet;
    lattice_lbp_inference(beliefs, graph, E, T, 5, workspace);
    benchmark::DoNotOptimize(beliefs.data());
  }
  state.counters["nodes"] = static_cast<double>(graph.nodes);
  state.counters["slices"] = graph.sliceCount;
}
BENCHMARK(BM_LatticeLbpInference1mmRegion)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond);

void BM_ClusteringLbpNew(benchmark::State &state) {
  Fixture &f = fixture();
  std::vector<int> region;
  std::vector<double> values;
  for (auto _ : state) {
    SilencedStdout quiet;
    // The call appends to the run log in the working directory.
    clustering_lbp_new(region, values, f.block.candidates, f.block.representative, f.samples, 1.0,
                       5, 5, -1, 0, 0);
    benchmark::DoNotOptimize(region.data());
  }
  state.counters["region"] = static_cast<double>(region.size());
  std::remove("log.torva");
}
BENCHMARK(BM_ClusteringLbpNew)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_ComputeSmap(benchmark::State &state) {
  Fixture &f = fixture();
  std::vector<double> s;
  for (auto _ : state) {
    compute_smap_kclustering(s, f.block.representative, f.block.candidates, f.samples);
    benchmark::DoNotOptimize(s.data());
  }
}
BENCHMARK(BM_ComputeSmap)->Unit(benchmark::kMillisecond);

} // namespace
