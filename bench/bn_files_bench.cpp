// Writing and reading the text network format for networks of growing node count. Every node
// but the first has its predecessor as parent, so arcs grow with nodes; the time per node
// should stay flat as the count grows.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <unistd.h>

#include "bn/bn.h"

namespace {

void buildChain(BN &bn, int nodes) {
  bn.setSize(nodes, std::vector<int>(static_cast<std::size_t>(nodes), 2));
  Dag dag(nodes);
  for (int i = 1; i < nodes; ++i)
    dag.set(i - 1, i, 1);
  bn.setDag(dag);
}

std::string scratchPath() { return "/tmp/torva-bn-bench-" + std::to_string(getpid()) + ".txt"; }

void BM_WriteTextNetwork(benchmark::State &state) {
  BN bn;
  buildChain(bn, static_cast<int>(state.range(0)));
  const std::string path = scratchPath();
  for (auto _ : state)
    bn.toFileBNT(path.c_str());
  std::remove(path.c_str());
  state.SetComplexityN(state.range(0));
}

void BM_ReadTextNetwork(benchmark::State &state) {
  BN bn;
  buildChain(bn, static_cast<int>(state.range(0)));
  const std::string path = scratchPath();
  bn.toFileBNT(path.c_str());
  BN read;
  for (auto _ : state)
    benchmark::DoNotOptimize(read.readFile(path.c_str()));
  std::remove(path.c_str());
  state.SetComplexityN(state.range(0));
}

} // namespace

BENCHMARK(BM_WriteTextNetwork)->Arg(1000)->Arg(4000)->Arg(16000)->Complexity();
BENCHMARK(BM_ReadTextNetwork)->Arg(1000)->Arg(4000)->Arg(16000)->Complexity();
