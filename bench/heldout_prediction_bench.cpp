// Cost of the held-out files' one pass over the study: every subject's lesion volume, on studies
// of the real sizes (131 subjects, 2 mm and 1 mm volumes, about 3% of voxels lesioned).
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "data/packed_study.h"
#include "evidence/heldout_prediction.h"

namespace {

PackedStudy lesionedStudy(long voxels, long subjects) {
  PackedStudy study;
  study.reset(voxels + 1, subjects);
  std::mt19937 random(1);
  std::vector<unsigned char> states(static_cast<std::size_t>(voxels) + 1);
  for (long s = 0; s < subjects; ++s) {
    for (unsigned char &state : states)
      state = random() % 32 == 0 ? 1 : 0;
    study.setCase(s, states.data());
  }
  return study;
}

void BM_LesionVolumes(benchmark::State &state) {
  const long voxels = state.range(0);
  const PackedStudy study = lesionedStudy(voxels, 131);
  std::vector<long> volumes;
  for (auto _ : state) {
    lesionVolumes(study, voxels, volumes);
    benchmark::DoNotOptimize(volumes.data());
  }
}

} // namespace

BENCHMARK(BM_LesionVolumes)
    ->Arg(91L * 109 * 91)
    ->Arg(181L * 217 * 181)
    ->Unit(benchmark::kMillisecond);
