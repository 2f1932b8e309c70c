// One region-learner call on a whole-brain-sized study (91 x 109 x 91, 100 subjects), split into
// candidate scan and segmentation, and the two scan routes on one round.
//
// TORVA_ROI_BENCH_LIST=path/to/torva.prj.filelist takes the study from a file list (for
// example one made by make_example_study --subjects 100 --size 91 109 91); without it a study
// of the same size with three planted blocks is generated in memory.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <random>
#include <string>
#include <unistd.h>

#include "bn/bn.h"
#include "data/samples.h"
#include "roi/bml.h"
#include "support/samples_from_list.h"

namespace {

constexpr int kX = 91, kY = 109, kZ = 91, kCases = 100;

// Voxels of three boxes follow three random patterns whose "or" is the function variable, with
// 10% noise; half the other voxels are all zero, the rest sparse noise.
void generateStudy(Samples &study) {
  const long voxels = static_cast<long>(kX) * kY * kZ;
  study.setSize(voxels + 1, kCases);
  study.setXYZSiz(kX, kY, kZ);
  std::mt19937 random(5);
  char signal[3][kCases];
  std::vector<char> fv(kCases);
  for (int c = 0; c < kCases; ++c) {
    bool any = false;
    for (auto &s : signal) {
      s[c] = random() % 3 == 0 ? '1' : '0';
      any = any || s[c] == '1';
    }
    fv[c] = any ? '1' : '0';
  }
  std::vector<char> column(kCases);
  for (long v = 0; v < voxels; ++v) {
    const int x = static_cast<int>(v % kX), y = static_cast<int>((v / kX) % kY),
              z = static_cast<int>(v / (kX * kY));
    int box = -1;
    for (int b = 0; b < 3; ++b)
      if (std::abs(x - 25 - 20 * b) < 6 && std::abs(y - 30 - 20 * b) < 6 && std::abs(z - 40) < 6)
        box = b;
    const bool empty = box < 0 && v % 2 == 0;
    for (int c = 0; c < kCases; ++c) {
      if (empty)
        column[c] = '0';
      else if (box >= 0 && random() % 10 != 0)
        column[c] = signal[box][c];
      else
        column[c] = random() % 10 == 0 ? '1' : '0';
    }
    study.setOneNode(column.data(), v);
  }
  study.setOneNode(fv.data(), voxels);
}

const Samples &benchStudy() {
  static Samples *study = [] {
    auto *made = new Samples();
    if (const char *list = std::getenv("TORVA_ROI_BENCH_LIST"))
      readFilelistNifti(*made, list);
    else
      generateStudy(*made);
    return made;
  }();
  return *study;
}

// Runs the learner in a scratch directory with its progress text discarded.
class QuietScratch {
public:
  explicit QuietScratch(const char *configuration) {
    char pattern[] = "/tmp/torva-bench-XXXXXX";
    dir = mkdtemp(pattern);
    previous = getcwd(nullptr, 0);
    if (chdir(dir.c_str()) != 0)
      std::abort();
    if (configuration != nullptr) {
      std::FILE *f = std::fopen("torva.configure", "w");
      std::fputs(configuration, f);
      std::fclose(f);
    }
    std::fflush(stdout);
    savedStdout = dup(1);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    close(null);
  }
  ~QuietScratch() {
    std::fflush(stdout);
    dup2(savedStdout, 1);
    close(savedStdout);
    if (chdir(previous) != 0)
      std::abort();
    std::free(previous);
    std::system(("rm -rf '" + dir + "'").c_str());
  }

private:
  std::string dir;
  char *previous = nullptr;
  int savedStdout = -1;
};

void runBml(benchmark::State &state, ScanRoute route, const char *configuration) {
  const Samples &study = benchStudy();
  BmlTimes total;
  for (auto _ : state) {
    QuietScratch scratch(configuration);
    std::vector<int> labels, representatives;
    std::vector<double> values;
    BN bn;
    BmlTimes times;
    bml(study, labels, values, bn, representatives, route, &times);
    total.scan += times.scan;
    total.segmentation += times.segmentation;
    benchmark::DoNotOptimize(labels.data());
  }
  const double runs = static_cast<double>(state.iterations());
  state.counters["scan_s"] = total.scan / runs;
  state.counters["segmentation_s"] = total.segmentation / runs;
}

// Default settings: the all-zero screening and up to three rounds.
void BM_BmlWholeBrain(benchmark::State &state) { runBml(state, ScanRoute::Packed, nullptr); }
BENCHMARK(BM_BmlWholeBrain)->Unit(benchmark::kSecond)->Iterations(1);

// One round without segmentation time dominating: Max_ROI 1, fixed two clusters.
const char *kOneRound = "m 0 t 0.2 b 1 g 5 l 5 r 1 s 2 n 0 v 0\n";
void BM_BmlOneRoundPacked(benchmark::State &state) { runBml(state, ScanRoute::Packed, kOneRound); }
BENCHMARK(BM_BmlOneRoundPacked)->Unit(benchmark::kSecond)->Iterations(1);
void BM_BmlOneRoundPlain(benchmark::State &state) { runBml(state, ScanRoute::Plain, kOneRound); }
BENCHMARK(BM_BmlOneRoundPlain)->Unit(benchmark::kSecond)->Iterations(1);

} // namespace
