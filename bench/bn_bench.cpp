// Cost of scoring one candidate voxel in the region search: count a two-parent family over
// 300 cases and score it (and each half alone, to see where the time goes).
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "bn/bn.h"

namespace {

// Node 2 with parents 0 and 1 over 300 random two-state cases.
void buildFamily(Samples &data, BN &bn) {
  std::srand(1);
  data.setSize(3, 300);
  for (int c = 0; c < 300; ++c)
    for (int i = 0; i < 3; ++i)
      data.setCell(c, i, static_cast<char>('0' + std::rand() % 2));
  bn.setSize(3, {2, 2, 2});
  Dag dag(3);
  dag.set(0, 2, 1);
  dag.set(1, 2, 1);
  bn.setDag(dag);
}

void BM_CountAndScoreTwoParentFamily(benchmark::State &state) {
  Samples data;
  BN bn;
  buildFamily(data, bn);
  for (auto _ : state) {
    bn.getSuffStatNode(data, 2);
    benchmark::DoNotOptimize(bn.K2ScoreNode(2, 1));
  }
}

void BM_CountTwoParentFamily(benchmark::State &state) {
  Samples data;
  BN bn;
  buildFamily(data, bn);
  for (auto _ : state) {
    bn.getSuffStatNode(data, 2);
    benchmark::ClobberMemory();
  }
}

void BM_ScoreTwoParentFamily(benchmark::State &state) {
  Samples data;
  BN bn;
  buildFamily(data, bn);
  bn.getSuffStatNode(data, 2);
  for (auto _ : state)
    benchmark::DoNotOptimize(bn.K2ScoreNode(2, 1));
}

} // namespace

BENCHMARK(BM_CountAndScoreTwoParentFamily);
BENCHMARK(BM_CountTwoParentFamily);
BENCHMARK(BM_ScoreTwoParentFamily);
