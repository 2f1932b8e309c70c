// Cost of scoring one candidate voxel in the region search: count a two-parent family over
// 300 cases and score it.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "bn/bn.h"

static void BM_CountAndScoreTwoParentFamily(benchmark::State &state) {
  std::srand(1);
  Samples data;
  data.setSize(3, 300);
  for (int c = 0; c < 300; ++c)
    for (int i = 0; i < 3; ++i)
      data.setCell(c, i, static_cast<char>('0' + std::rand() % 2));
  BN bn;
  bn.setSize(3, {2, 2, 2});
  Dag dag(3);
  dag.set(0, 2, 1);
  dag.set(1, 2, 1);
  bn.setDag(dag);
  for (auto _ : state) {
    bn.getSuffStatNode(data, 2);
    benchmark::DoNotOptimize(bn.K2ScoreNode(2, 1));
  }
}
BENCHMARK(BM_CountAndScoreTwoParentFamily);
