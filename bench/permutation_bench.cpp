// The permutation test of three regions on a study of real size: 91 x 109 x 91 voxels (2 mm),
// 131 subjects, about 110,000 candidate voxels. Permutations per region are the argument; the
// targets are for 10,000.
//
// TORVA_PERMUTE_BENCH_LIST=path/to/torva.prj.filelist takes the study from a file list (for
// example one made by make_example_study --lesion); without it a study of lesion-like balls
// around a common territory is generated in memory. The three representatives are the round
// bests of the scan itself, so the rounds have real strata.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <random>

#include "data/decoded_study.h"
#include "evidence/permutation_scan.h"
#include "evidence/permutation_test.h"
#include "util/popcount.h"

namespace {

constexpr int kX = 91, kY = 109, kZ = 91, kSubjects = 131;

// Per subject one ball of radius 5 to 17 voxels, centred within 12 voxels of a common point;
// the outcome is 1 when the ball covers a small critical box, with 10% of outcomes flipped.
void generateStudy(PackedStudy &study) {
  const long voxels = static_cast<long>(kX) * kY * kZ;
  study.reset(voxels + 1, kSubjects);
  std::mt19937 random(3);
  std::vector<unsigned char> states(static_cast<std::size_t>(voxels + 1));
  for (int s = 0; s < kSubjects; ++s) {
    const int cx = 45 + static_cast<int>(random() % 25) - 12;
    const int cy = 55 + static_cast<int>(random() % 25) - 12;
    const int cz = 45 + static_cast<int>(random() % 25) - 12;
    const int radius = 5 + static_cast<int>(random() % 13);
    bool critical = false;
    for (long v = 0; v < voxels; ++v) {
      const int x = static_cast<int>(v % kX), y = static_cast<int>((v / kX) % kY),
                z = static_cast<int>(v / (kX * kY));
      const int d = (x - cx) * (x - cx) + (y - cy) * (y - cy) + (z - cz) * (z - cz);
      states[v] = d <= radius * radius ? 1 : 0;
      critical = critical || (states[v] && std::abs(x - 50) < 3 && std::abs(y - 50) < 3 &&
                              std::abs(z - 45) < 3);
    }
    states[voxels] = (critical != (random() % 10 == 0)) ? 1 : 0;
    study.setCase(s, states.data());
  }
}

struct BenchStudy {
  DecodedStudy decoded;
  PackedStudy generated;
  long voxels = 0;
  const PackedStudy &packed() const { return generated.empty() ? decoded.subjects : generated; }
};

const BenchStudy &benchStudy() {
  static BenchStudy study;
  if (study.voxels == 0) {
    if (const char *list = std::getenv("TORVA_PERMUTE_BENCH_LIST")) {
      if (decodeStudy(list, 2, study.decoded))
        std::abort();
      study.voxels = study.decoded.list.nodeCount - 1;
    } else {
      generateStudy(study.generated);
      study.voxels = static_cast<long>(kX) * kY * kZ;
    }
  }
  return study;
}

// Candidates: every voxel lesioned in some subject; representatives: the best accepted gain
// of each round, the earlier ones removed.
PermutationStudy benchInput(const BenchStudy &study) {
  PermutationStudy input{study.packed(), study.voxels, {}, {}, {}};
  const PackedStudy &packed = study.packed();
  for (long v = 0; v < study.voxels; ++v) {
    const std::uint64_t *bits = packed.node(v);
    bool any = false;
    for (int w = 0; w < packed.words(); ++w)
      any = any || bits[w] != 0;
    if (any)
      input.screened.push_back(static_cast<int>(v + 1));
  }
  input.labels.assign(static_cast<std::size_t>(study.voxels), -1);
  for (int r = 1; r <= 3; ++r) {
    const std::vector<int> candidates = roundCandidates(input, r);
    const PermutationScan scan(packed, study.voxels, input.representatives, candidates);
    int best = candidates.front();
    for (const int id : candidates)
      if (scan.accepted(id) && scan.gain(id) > scan.gain(best))
        best = id;
    input.representatives.push_back(best);
  }
  return input;
}

void BM_PermutationTestThreeRegions(benchmark::State &state) {
  const BenchStudy &study = benchStudy();
  const PermutationStudy input = benchInput(study);
  const int threads = std::getenv("TORVA_THREADS") ? std::atoi(std::getenv("TORVA_THREADS")) : 2;
  long patterns = 0;
  for (int r = 1; r <= 3; ++r)
    patterns += PermutationScan(input.subjects, input.voxels,
                                std::vector<int>(input.representatives.begin(),
                                                 input.representatives.begin() + (r - 1)),
                                roundCandidates(input, r))
                    .patterns();
  for (auto _ : state) {
    PermutationResult result;
    runPermutationTest(input, state.range(0), 1, threads, result, nullptr);
    benchmark::DoNotOptimize(result.regions.data());
  }
  state.counters["candidates"] = static_cast<double>(input.screened.size());
  state.counters["patterns"] = static_cast<double>(patterns);
  state.counters["threads"] = threads;
}
BENCHMARK(BM_PermutationTestThreeRegions)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kSecond)
    ->Iterations(1);

} // namespace
