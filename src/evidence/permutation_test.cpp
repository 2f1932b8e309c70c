#include "evidence/permutation_test.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>

#include "data/packed_study.h"
#include "evidence/heldout_prediction.h"
#include "evidence/permutation_scan.h"
#include "util/stop_signal.h"
#include "util/thread_team.h"

std::uint64_t drawBelow(std::mt19937_64 &generator, std::uint64_t bound) {
  // 2^64 mod bound draws at the top would favour the small results; they are drawn again.
  const std::uint64_t excess = (0 - bound) % bound;
  const std::uint64_t limit = 0 - excess; // 2^64 - excess, 0 standing for 2^64
  for (;;) {
    const std::uint64_t x = generator();
    if (excess == 0 || x < limit)
      return x % bound;
  }
}

StratifiedShuffle::StratifiedShuffle(const std::vector<int> &stratumOf, int strata,
                                     const std::uint64_t *outcome, int words)
    : members(static_cast<std::size_t>(strata)), wordCount(words) {
  for (std::size_t c = 0; c < stratumOf.size(); ++c) {
    members[stratumOf[c]].push_back(static_cast<long>(c));
    observed.push_back(static_cast<unsigned char>((outcome[c / 64] >> (c % 64)) & 1U));
  }
  values.resize(observed.size());
}

void StratifiedShuffle::next(std::mt19937_64 &generator, std::uint64_t *bits) {
  std::copy(observed.begin(), observed.end(), values.begin());
  for (const std::vector<long> &subjects : members)
    for (std::size_t i = subjects.size(); i > 1; --i) {
      const auto j = static_cast<std::size_t>(drawBelow(generator, i));
      std::swap(values[subjects[i - 1]], values[subjects[j]]);
    }
  std::fill(bits, bits + wordCount, 0);
  for (std::size_t c = 0; c < values.size(); ++c)
    bits[c / 64] |= static_cast<std::uint64_t>(values[c]) << (c % 64);
}

namespace {

// Permutations evaluated together: one pass over the patterns serves the whole block.
constexpr long kBlock = 64;

// Evaluates the blocks of every test's outcomes that a shared counter hands out; every null
// statistic has its own slot, so the order in which threads finish changes nothing.
class NullEvaluation {
public:
  NullEvaluation(const PermutationScan &scan,
                 const std::vector<std::vector<std::uint64_t>> &outcomes, long permutations,
                 std::vector<NullDraws> &tests, torva::ProgressLine *progress)
      : scan(scan), outcomes(outcomes), permutations(permutations), tests(tests),
        progress(progress) {}

  void work() {
    for (;;) {
      const long first = nextBlock.fetch_add(1) * kBlock;
      if (first >= permutations || torva::stopRequested())
        return;
      const int count = static_cast<int>(std::min(kBlock, permutations - first));
      for (std::size_t t = 0; t < tests.size(); ++t)
        scan.maximumGains(&outcomes[t][static_cast<std::size_t>(first) * scan.words()], count,
                          &tests[t].nulls[static_cast<std::size_t>(first)]);
      // The one place where finished permutations are counted, for the terminal's progress line.
      if (progress != nullptr)
        progress->advance(count);
    }
  }

private:
  const PermutationScan &scan;
  const std::vector<std::vector<std::uint64_t>> &outcomes;
  long permutations;
  std::vector<NullDraws> &tests;
  torva::ProgressLine *progress;
  std::atomic<long> nextBlock{0};
};

} // namespace

std::vector<int> volumeBinsOf(const std::vector<long> &volumes, int bins) {
  const std::size_t n = volumes.size();
  std::vector<std::size_t> order(n);
  for (std::size_t k = 0; k < n; ++k)
    order[k] = k;
  std::stable_sort(order.begin(), order.end(),
                   [&volumes](std::size_t a, std::size_t b) { return volumes[a] < volumes[b]; });
  std::vector<int> binOf(n, 0);
  for (std::size_t k = 0; k < n; ++k)
    binOf[order[k]] =
        static_cast<int>(static_cast<long long>(k) * bins / static_cast<long long>(n));
  return binOf;
}

void permutationNulls(const PermutationScan &scan, long permutations, int threads,
                      std::vector<NullDraws> &tests, torva::ProgressLine *progress) {
  const int words = scan.words();
  // All shuffles first, in order, each test from its own generator: the thread count cannot
  // change them.
  std::vector<std::vector<std::uint64_t>> outcomes(tests.size());
  for (std::size_t t = 0; t < tests.size(); ++t) {
    StratifiedShuffle shuffle(tests[t].stratumOf, tests[t].strata, scan.outcomeBits(), words);
    outcomes[t].resize(static_cast<std::size_t>(permutations) * words);
    for (long i = 0; i < permutations; ++i)
      shuffle.next(*tests[t].generator, &outcomes[t][static_cast<std::size_t>(i) * words]);
    tests[t].nulls.assign(static_cast<std::size_t>(permutations), 0.0);
  }
  NullEvaluation evaluation(scan, outcomes, permutations, tests, progress);
  const long blocks = (permutations + kBlock - 1) / kBlock;
  const int workers = static_cast<int>(std::max(1L, std::min<long>(threads, blocks)));
  torva::fanOut(workers, [&evaluation](int) { evaluation.work(); });
  torva::endIfStopRequested(); // the workers gave up; no thread is left to end with the process
}

NullSummary summariseNulls(const std::vector<double> &nulls) {
  NullSummary summary;
  if (nulls.empty())
    return summary;
  double sum = 0.0;
  for (const double value : nulls)
    sum += value;
  summary.mean = sum / static_cast<double>(nulls.size());
  std::vector<double> sorted(nulls);
  std::sort(sorted.begin(), sorted.end());
  const auto rank = static_cast<std::size_t>(std::ceil(0.95 * static_cast<double>(sorted.size())));
  summary.upper95 = sorted[std::max<std::size_t>(rank, 1) - 1];
  return summary;
}

double familyWiseP(const std::vector<double> &sortedNulls, double observed) {
  const auto atLeast = static_cast<double>(
      sortedNulls.end() - std::lower_bound(sortedNulls.begin(), sortedNulls.end(), observed));
  return (1.0 + atLeast) / (1.0 + static_cast<double>(sortedNulls.size()));
}

std::vector<int> roundCandidates(const PermutationStudy &study, int round) {
  std::vector<int> candidates;
  for (const int id : study.screened) {
    const int label = study.labels[id - 1];
    if (label >= 1 && label < round)
      continue;
    if (std::find(study.representatives.begin(), study.representatives.begin() + (round - 1), id) !=
        study.representatives.begin() + (round - 1))
      continue;
    candidates.push_back(id);
  }
  return candidates;
}

namespace {

// The round-1 maps: every screened voxel's gain, and 1 - p where the search would accept it,
// against the nulls of either test.
void fillMaps(const PermutationStudy &study, const PermutationScan &scan,
              const std::vector<double> &sortedNulls, const std::vector<double> &sortedVolumeNulls,
              PermutationResult &result) {
  result.gainMap.assign(static_cast<std::size_t>(study.voxels), 0.0f);
  result.corrpMap.assign(static_cast<std::size_t>(study.voxels), 0.0f);
  result.corrpVolumeMap.assign(static_cast<std::size_t>(study.voxels), 0.0f);
  for (const int id : study.screened) {
    const double gain = scan.gain(id);
    result.gainMap[id - 1] = static_cast<float>(gain);
    if (scan.accepted(id)) {
      result.corrpMap[id - 1] = static_cast<float>(1.0 - familyWiseP(sortedNulls, gain));
      result.corrpVolumeMap[id - 1] =
          static_cast<float>(1.0 - familyWiseP(sortedVolumeNulls, gain));
    }
  }
}

// The strata of the earlier representatives, as the scan keeps them.
NullDraws plainDraws(const PermutationScan &scan, std::mt19937_64 &generator) {
  NullDraws draws;
  draws.stratumOf = scan.stratumOfSubjects();
  draws.strata = scan.strata();
  draws.generator = &generator;
  return draws;
}

// The strata of the earlier representatives crossed with the volume bins: b * bins + bin.
NullDraws volumeDraws(const PermutationScan &scan, const std::vector<int> &binOf, int bins,
                      std::mt19937_64 &generator) {
  NullDraws draws;
  draws.strata = scan.strata() * bins;
  draws.generator = &generator;
  const std::vector<int> &stratumOf = scan.stratumOfSubjects();
  draws.stratumOf.resize(stratumOf.size());
  for (std::size_t c = 0; c < stratumOf.size(); ++c)
    draws.stratumOf[c] = stratumOf[c] * bins + binOf[c];
  return draws;
}

std::vector<double> sortedCopy(const std::vector<double> &values) {
  std::vector<double> sorted(values);
  std::sort(sorted.begin(), sorted.end());
  return sorted;
}

} // namespace

void runPermutationTest(const PermutationStudy &study, long permutations, std::uint64_t seed,
                        int threads, PermutationResult &result, torva::ProgressLine *progress) {
  result = PermutationResult{};
  // Two streams of the same seed: the plain test's draws are those of a run without the
  // volume test.
  std::mt19937_64 generator(seed);
  std::mt19937_64 volumeGenerator(seed);
  std::vector<long> volumes;
  lesionVolumes(study.subjects, study.voxels, volumes);
  const int bins = std::max(1, study.volumeBins);
  const std::vector<int> binOf = volumeBinsOf(volumes, bins);
  const int regions = static_cast<int>(study.representatives.size());
  for (int r = 1; r <= std::max(regions, 1); ++r) {
    const std::vector<int> earlier(study.representatives.begin(),
                                   study.representatives.begin() + (r - 1));
    const PermutationScan scan(study.subjects, study.voxels, earlier, roundCandidates(study, r),
                               study.representativeShare);
    std::vector<NullDraws> tests{plainDraws(scan, generator),
                                 volumeDraws(scan, binOf, bins, volumeGenerator)};
    permutationNulls(scan, permutations, threads, tests, progress);
    const std::vector<double> sorted = sortedCopy(tests[0].nulls);
    const std::vector<double> sortedVolume = sortedCopy(tests[1].nulls);
    if (r == 1)
      fillMaps(study, scan, sorted, sortedVolume, result);
    if (r > regions)
      break;
    RegionPermutation row;
    row.region = r;
    row.repId = study.representatives[r - 1];
    row.gain = scan.gain(row.repId);
    row.pFwe = familyWiseP(sorted, row.gain);
    row.nulls = summariseNulls(tests[0].nulls);
    row.permutations = permutations;
    row.pFweVolume = familyWiseP(sortedVolume, row.gain);
    result.regions.push_back(row);
  }
}

std::string permutationTableText(const std::vector<RegionPermutation> &regions) {
  std::string text =
      "region\trep_id\tgain\tp_fwe\tnull_mean\tnull_95\tpermutations\tp_fwe_volume\n";
  char line[256];
  for (const RegionPermutation &row : regions) {
    std::snprintf(line, sizeof line, "%d\t%d\t%.6f\t%.6f\t%.6f\t%.6f\t%ld\t%.6f\n", row.region,
                  row.repId, row.gain, row.pFwe, row.nulls.mean, row.nulls.upper95,
                  row.permutations, row.pFweVolume);
    text += line;
  }
  return text;
}
