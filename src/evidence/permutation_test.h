#pragma once
// Family-wise error p-values of a run's regions by the maximum statistic over permutations of
// the outcome, each region's test conditional on the regions found before it.
//
// For region r with representative R_r: the observed gain of R_r given R_1..R_{r-1} on all
// subjects, against N null statistics, each the largest gain the search would accept among the
// round's candidates after a shuffle of the outcome within the strata of R_1..R_{r-1}
// (evidence/permutation_scan.h):
//   p_fwe = (1 + #{i : null_i >= observed}) / (1 + N).
// p_fwe_volume is the same test with the outcome shuffled within finer strata: those of
// R_1..R_{r-1} crossed with B lesion-volume bins (subjects ranked by their number of lesioned
// voxels, ties by list order; the subject of rank k of n in bin k * B / n), stratum b * B + bin.
// Its shuffles keep each bin's outcome counts, so a region whose gain only reflects lesion size
// finds its match among them. Both tests' shuffles keep the outcome counts of R_1..R_{r-1}'s
// strata, so the same scan evaluates them.
// The shuffles are Fisher-Yates, each stratum in ascending order, region 1's N shuffles first;
// each test draws from its own std::mt19937_64 seeded with the seed, so p_fwe keeps its draws
// whatever B is, and with B = 1 the two tests draw the same shuffles. The null statistics are
// then evaluated on any number of threads, so the results do not depend on the thread count.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "roi/roi_settings.h"
#include "util/progress_line.h"

class PackedStudy;

// Uniform integer in 0 .. bound-1 (bound >= 1) by rejection from the 64-bit generator: the same
// on every platform, which the standard library's distributions do not promise.
std::uint64_t drawBelow(std::mt19937_64 &generator, std::uint64_t bound);

// Shuffles of a study's outcome within strata of subjects.
class StratifiedShuffle {
public:
  // `stratumOf`: the stratum of every subject (0 .. strata-1); `outcome`: one bit per subject.
  StratifiedShuffle(const std::vector<int> &stratumOf, int strata, const std::uint64_t *outcome,
                    int words);
  // The observed outcome shuffled within every stratum, as bits into `bits` (words() words).
  void next(std::mt19937_64 &generator, std::uint64_t *bits);
  int words() const { return wordCount; }

private:
  std::vector<std::vector<long>> members; // subjects of each stratum, ascending
  std::vector<unsigned char> observed;    // outcome of each subject
  std::vector<unsigned char> values;
  int wordCount;
};

class PermutationScan;

constexpr int kDefaultVolumeBins = 4;
constexpr int kMostVolumeBins = 10;

// The lesion-volume bin (0 .. bins-1) of every subject: ranked by `volumes`, ties by list order,
// the subject of rank k of n in bin k * bins / n.
std::vector<int> volumeBinsOf(const std::vector<long> &volumes, int bins);

// One test's shuffles of a round: the stratum of every subject (0 .. strata-1), the test's
// own generator, and its N null statistics in permutation order once evaluated.
struct NullDraws {
  std::vector<int> stratumOf;
  int strata = 1;
  std::mt19937_64 *generator = nullptr;
  std::vector<double> nulls;
};

// N null statistics of `scan`'s round for every test of `tests`: each test's N shuffles drawn
// in order from its own generator before any is evaluated, then evaluated on `threads`
// threads. `progress` (may be null) counts a permutation once every test has evaluated it.
void permutationNulls(const PermutationScan &scan, long permutations, int threads,
                      std::vector<NullDraws> &tests, torva::ProgressLine *progress);

// Summary of one region's null distribution.
struct NullSummary {
  double mean = 0;    // summed in permutation order
  double upper95 = 0; // nearest-rank 95th percentile: the ceil(0.95 N)-th smallest
};
NullSummary summariseNulls(const std::vector<double> &nulls);

// (1 + the number of `sortedNulls` >= observed) / (1 + N); `sortedNulls` ascending.
double familyWiseP(const std::vector<double> &sortedNulls, double observed);

struct RegionPermutation {
  int region = 0;
  int repId = 0; // 1-based voxel id
  double gain = 0;
  double pFwe = 1;
  NullSummary nulls;
  long permutations = 0;
  double pFweVolume = 1; // the test within the lesion-volume bins too
};

struct PermutationStudy {
  const PackedStudy &subjects; // all subjects, outcome last
  long voxels;
  std::vector<int> screened;        // ascending candidate ids of the analysis's screening
  std::vector<int> labels;          // consensus region of every voxel (roi.el.torva)
  std::vector<int> representatives; // R-SET ids in region order
  double representativeShare = kDefaultRepresentativeShare; // the analysis's norm test
  int volumeBins = kDefaultVolumeBins;                      // B of p_fwe_volume, 1 .. 10
};

struct PermutationResult {
  std::vector<RegionPermutation> regions;
  std::vector<float> gainMap;        // round-1 gain of every screened voxel, 0 elsewhere
  std::vector<float> corrpMap;       // 1 - p_fwe of the voxels the search would accept in round 1
  std::vector<float> corrpVolumeMap; // the same with p_fwe_volume
};

// Runs the test of every region (and round 1 for the maps even without a region).
void runPermutationTest(const PermutationStudy &study, long permutations, std::uint64_t seed,
                        int threads, PermutationResult &result, torva::ProgressLine *progress);

// "permutation.tsv": a header line, then one row per region, numbers with %.6f; p_fwe_volume is
// the last column.
std::string permutationTableText(const std::vector<RegionPermutation> &regions);

// Candidates of round r: the screened ids less the voxels labelled 1 .. r-1 and the earlier
// representatives, ascending.
std::vector<int> roundCandidates(const PermutationStudy &study, int round);
