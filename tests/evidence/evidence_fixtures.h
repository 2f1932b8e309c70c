#pragma once
// Small random two-state studies packed as the analysis packs them, and the plain routes the
// permutation tests hold the fast code against: counts walked subject by subject, the network's
// own family score, the search's tests as the search states them, and the permutation test's
// draws replayed from what its header promises.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "bn/bn.h"
#include "data/packed_study.h"

namespace evidencetest {

// Voxel patterns and the outcome as strings of '0'/'1', one character per subject.
struct TinyStudy {
  std::vector<std::string> voxels;
  std::string outcome;
  long cases() const { return static_cast<long>(outcome.size()); }
  long voxelCount() const { return static_cast<long>(voxels.size()); }

  void pack(PackedStudy &packed) const {
    packed.reset(voxelCount() + 1, cases());
    std::vector<unsigned char> states(static_cast<std::size_t>(voxelCount() + 1));
    for (long c = 0; c < cases(); ++c) {
      for (long v = 0; v < voxelCount(); ++v)
        states[v] = static_cast<unsigned char>(voxels[v][c] - '0');
      states[voxelCount()] = static_cast<unsigned char>(outcome[c] - '0');
      packed.setCase(c, states.data());
    }
  }
};

// The study of `packed`: nodes 0 .. voxels-1 the voxels, node `voxels` the outcome.
inline TinyStudy unpack(const PackedStudy &packed, long voxels) {
  const auto text = [&packed](long node) {
    std::string states(static_cast<std::size_t>(packed.cases()), '0');
    for (long c = 0; c < packed.cases(); ++c)
      if ((packed.node(node)[c / 64] >> (c % 64)) & 1U)
        states[c] = '1';
    return states;
  };
  TinyStudy study;
  for (long v = 0; v < voxels; ++v)
    study.voxels.push_back(text(v));
  study.outcome = text(voxels);
  return study;
}

// `voxels` patterns of `cases` subjects, each cell 1 with probability p, and an outcome of
// exactly `ones` subjects with 1, in random positions.
inline TinyStudy randomStudy(std::mt19937 &random, long cases, long voxels, double p, long ones) {
  TinyStudy study;
  std::bernoulli_distribution cell(p);
  for (long v = 0; v < voxels; ++v) {
    std::string pattern(static_cast<std::size_t>(cases), '0');
    for (char &c : pattern)
      c = cell(random) ? '1' : '0';
    study.voxels.push_back(pattern);
  }
  study.outcome.assign(static_cast<std::size_t>(cases), '0');
  for (long c = 0; c < ones; ++c)
    study.outcome[c] = '1';
  std::shuffle(study.outcome.begin(), study.outcome.end(), random);
  return study;
}

inline std::vector<int> allIds(long voxels) {
  std::vector<int> ids;
  for (long v = 1; v <= voxels; ++v)
    ids.push_back(static_cast<int>(v));
  return ids;
}

// Joint state of subject c at the earlier voxels (1-based ids): sum_t state(R_t) * 2^(t-1).
inline long jointState(const TinyStudy &s, const std::vector<int> &earlier, long c) {
  long b = 0;
  for (std::size_t t = 0; t < earlier.size(); ++t)
    b |= static_cast<long>(s.voxels[earlier[t] - 1][c] - '0') << t;
  return b;
}

// K2 gain of voxel v (0-based) given the earlier voxels, outcome `y`, from counts taken one
// subject at a time in the network's layout: configuration b + Q * state(v), outcome fastest
// across configurations.
inline double plainGain(const TinyStudy &s, const std::vector<int> &earlier, long v,
                        const std::string &y) {
  const long Q = 1L << earlier.size();
  std::vector<double> before(2 * Q, 0.0);
  std::vector<double> after(4 * Q, 0.0);
  for (long c = 0; c < s.cases(); ++c) {
    const long b = jointState(s, earlier, c);
    const long k = y[c] - '0';
    const long j = b + Q * (s.voxels[v][c] - '0');
    before[b + k * Q] += 1;
    after[j + k * 2 * Q] += 1;
  }
  return k2FamilyScore(after.data(), static_cast<int>(4 * Q), 2, 1) -
         k2FamilyScore(before.data(), static_cast<int>(2 * Q), 2, 1);
}

inline long plainNorm(const TinyStudy &s, long v) {
  return static_cast<long>(std::count(s.voxels[v].begin(), s.voxels[v].end(), '1'));
}

// The norm test's bound: int(n * share) with the product in double (n / 5 for the default).
inline long plainNormBound(const TinyStudy &s, double share) {
  return static_cast<long>(static_cast<double>(s.cases()) * share);
}

// The search's acceptance of voxel v (0-based) with outcome y: gain above 0 and more than
// int(n * share) subjects (a fifth by default) in state 1; in round 1 also no more subjects
// differing from the outcome than have outcome 1.
inline bool plainAccepted(const TinyStudy &s, int round, long v, const std::string &y, double gain,
                          double share = 0.2) {
  long differ = 0;
  for (long c = 0; c < s.cases(); ++c)
    differ += s.voxels[v][c] != y[c] ? 1 : 0;
  const long yNorm = static_cast<long>(std::count(y.begin(), y.end(), '1'));
  if (!(gain > 0) || !(plainNorm(s, v) > plainNormBound(s, share)))
    return false;
  return round > 1 || !(differ > yNorm);
}

// The largest accepted gain among `candidates` (1-based ids), 0 when none is accepted.
inline double plainNull(const TinyStudy &s, const std::vector<int> &earlier,
                        const std::vector<int> &candidates, const std::string &y,
                        double share = 0.2) {
  const int round = static_cast<int>(earlier.size()) + 1;
  double best = 0.0;
  for (const int id : candidates) {
    if (!(plainNorm(s, id - 1) > plainNormBound(s, share)))
      continue; // cannot be accepted: spare the gain
    const double g = plainGain(s, earlier, id - 1, y);
    if (plainAccepted(s, round, id - 1, y, g, share))
      best = std::max(best, g);
  }
  return best;
}

// Stratum of every subject: subjects with equal joint states share one, numbered by ascending
// joint state over the states some subject has.
inline std::vector<int> plainStrata(const TinyStudy &s, const std::vector<int> &earlier) {
  std::vector<long> states;
  for (long c = 0; c < s.cases(); ++c)
    states.push_back(jointState(s, earlier, c));
  std::vector<long> held(states);
  std::sort(held.begin(), held.end());
  held.erase(std::unique(held.begin(), held.end()), held.end());
  std::vector<int> strata;
  for (const long b : states)
    strata.push_back(static_cast<int>(std::find(held.begin(), held.end(), b) - held.begin()));
  return strata;
}

// Round r's candidates: the screened voxels less those of regions 1 .. r-1 and less the
// representatives R_1 .. R_{r-1}; region r's own voxels stay.
inline std::vector<int> plainCandidates(const std::vector<int> &screened,
                                        const std::vector<int> &labels,
                                        const std::vector<int> &representatives, int round) {
  std::vector<int> candidates;
  for (const int id : screened) {
    bool earlierRegion = false;
    for (int r = 1; r < round; ++r)
      earlierRegion = earlierRegion || labels[id - 1] == r || representatives[r - 1] == id;
    if (!earlierRegion)
      candidates.push_back(id);
  }
  return candidates;
}

// (1 + the number of nulls at or above `observed`) / (1 + N).
inline double plainP(const std::vector<double> &nulls, double observed) {
  long atLeast = 0;
  for (const double null : nulls)
    atLeast += null >= observed ? 1 : 0;
  return (1.0 + static_cast<double>(atLeast)) / (1.0 + static_cast<double>(nulls.size()));
}

// The permutation test's draws as its header promises them: one std::mt19937_64 seeded with
// the seed; uniform integers below a bound by rejection (draws among the top 2^64 mod bound
// values are drawn again); each shuffle a Fisher-Yates of the observed outcome within every
// stratum in ascending order, its members ascending, the last swapped first.
class PromisedDraws {
public:
  explicit PromisedDraws(std::uint64_t seed) : generator(seed) {}

  std::string shuffled(const std::string &y, const std::vector<int> &strata) {
    std::string values = y;
    const int count = *std::max_element(strata.begin(), strata.end()) + 1;
    for (int b = 0; b < count; ++b) {
      std::vector<std::size_t> members;
      for (std::size_t c = 0; c < strata.size(); ++c)
        if (strata[c] == b)
          members.push_back(c);
      for (std::size_t i = members.size(); i > 1; --i)
        std::swap(values[members[i - 1]], values[members[below(i)]]);
    }
    return values;
  }

private:
  std::size_t below(std::uint64_t bound) {
    const std::uint64_t redrawn = (~std::uint64_t{0} % bound + 1) % bound; // 2^64 mod bound
    for (;;) {
      const std::uint64_t x = generator();
      if (redrawn == 0 || x <= ~std::uint64_t{0} - redrawn)
        return static_cast<std::size_t>(x % bound);
    }
  }
  std::mt19937_64 generator;
};

// Lesion-volume bin of every subject: its voxels in state 1 counted one by one, subjects ranked
// by that count with ties in list order, rank k of n in bin k * bins / n.
inline std::vector<int> plainVolumeBins(const TinyStudy &s, int bins) {
  std::vector<std::pair<long, long>> ranked; // (volume, list position)
  for (long c = 0; c < s.cases(); ++c) {
    long volume = 0;
    for (const std::string &voxel : s.voxels)
      volume += voxel[c] == '1' ? 1 : 0;
    ranked.emplace_back(volume, c);
  }
  std::sort(ranked.begin(), ranked.end());
  std::vector<int> binOf(static_cast<std::size_t>(s.cases()));
  for (long k = 0; k < s.cases(); ++k)
    binOf[ranked[k].second] = static_cast<int>(k * bins / s.cases());
  return binOf;
}

// The strata of the lesion-size controlled test: the earlier voxels' strata crossed with the
// volume bins, stratum * bins + bin.
inline std::vector<int> plainVolumeStrata(const TinyStudy &s, const std::vector<int> &earlier,
                                          int bins) {
  std::vector<int> strata = plainStrata(s, earlier);
  const std::vector<int> binOf = plainVolumeBins(s, bins);
  for (std::size_t c = 0; c < strata.size(); ++c)
    strata[c] = strata[c] * bins + binOf[c];
  return strata;
}

// One region of the permutation test by the plain route.
struct PlainRegion {
  double gain = 0;
  double p = 1;
  double mean = 0;
  double upper95 = 0; // the ceil(0.95 N)-th smallest null
  std::vector<double> nulls;
  double pVolume = 1; // within the volume bins too
  std::vector<double> volumeNulls;
};

// Every region's test (and round 1 when there is none), its N nulls drawn as promised; the
// lesion-size controlled test's from a second generator of the same seed, within `bins` volume
// bins.
inline std::vector<PlainRegion>
plainPermutationTest(const TinyStudy &s, const std::vector<int> &screened,
                     const std::vector<int> &labels, const std::vector<int> &representatives,
                     long permutations, std::uint64_t seed, int bins = 4) {
  PromisedDraws draws(seed);
  PromisedDraws volumeDraws(seed);
  std::vector<PlainRegion> regions;
  const int rounds = std::max(static_cast<int>(representatives.size()), 1);
  for (int r = 1; r <= rounds; ++r) {
    const std::vector<int> earlier(representatives.begin(), representatives.begin() + (r - 1));
    const std::vector<int> candidates = plainCandidates(screened, labels, representatives, r);
    const std::vector<int> strata = plainStrata(s, earlier);
    const std::vector<int> volumeStrata = plainVolumeStrata(s, earlier, bins);
    PlainRegion region;
    double sum = 0;
    for (long i = 0; i < permutations; ++i) {
      region.nulls.push_back(plainNull(s, earlier, candidates, draws.shuffled(s.outcome, strata)));
      sum += region.nulls.back();
      region.volumeNulls.push_back(
          plainNull(s, earlier, candidates, volumeDraws.shuffled(s.outcome, volumeStrata)));
    }
    region.mean = sum / static_cast<double>(permutations);
    std::vector<double> sorted(region.nulls);
    std::sort(sorted.begin(), sorted.end());
    const long rank = (95 * permutations + 99) / 100; // ceil(0.95 N)
    region.upper95 = sorted[static_cast<std::size_t>(std::max(rank, 1L) - 1)];
    if (r <= static_cast<int>(representatives.size())) {
      region.gain = plainGain(s, earlier, representatives[r - 1] - 1, s.outcome);
      region.p = plainP(region.nulls, region.gain);
      region.pVolume = plainP(region.volumeNulls, region.gain);
    }
    regions.push_back(region);
  }
  return regions;
}

} // namespace evidencetest
