#include "roi/bml.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <ostream>
#include <string>
#include <type_traits>

#include "bn/bn.h"
#include "bn/dag.h"
#include "data/samples.h"
#include "data/study_view.h"
#include "roi/candidate_scan.h"
#include "roi/pattern_measures.h"
#include "roi/region_network.h"
#include "roi/roi_settings.h"
#include "roi/run_log.h"
#include "roi/screening.h"
#include "segment/neighborhood.h"
#include "segment/segmentation.h"
#include "util/fatal.h"
#include "util/popcount.h"
#include "util/progress.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The two ways the learner reads the iteration's study: a full sample matrix (the plain route,
// kept for the tests and the library) and a view over a study decoded once (the command's).
void subsetOf(Samples &dst, const Samples &study, const std::vector<int> &nodes) {
  subset_node(dst, study, nodes);
}

void subsetOf(Samples &dst, const StudyView &study, const std::vector<int> &nodes) {
  study.subset(dst, nodes);
}

void segmentRegion(std::vector<int> &region, std::vector<double> &regionValues,
                   const std::vector<int> &A, int rv, const Samples &study, const RoiSettings &c) {
  clustering_lbp_new(region, regionValues, A, rv, study, c.beta, c.T_gem, c.T_lbp,
                     c.segmentationCount, c.neighborhoodType, c.verbose);
}

// Working memory of the search that grows with the candidate set, kept by each thread from one
// call to the next: a whole-brain candidate set is hundreds of thousands of voxels, and fresh
// lists in every round of every iteration would be faulted in and cleared again each time.
struct SearchBuffers {
  std::vector<int> V;
  std::vector<int> A;
  std::vector<int> region;
  std::vector<int> regionAscending;
  std::vector<double> regionValues;
  std::vector<double> similarity;
};

SearchBuffers &searchBuffersOfThisThread() {
  static thread_local SearchBuffers buffers;
  return buffers;
}

void segmentRegion(std::vector<int> &region, std::vector<double> &regionValues,
                   const std::vector<int> &A, int rv, const StudyView &study,
                   const RoiSettings &c) {
  std::vector<int> dims;
  study.getXYZSiz(dims);
  check_voxel_ids(rv, A, dims);
  std::vector<double> &s = searchBuffersOfThisThread().similarity;
  compute_smap_kclustering(s, rv, A, study);
  clustering_lbp_features(region, regionValues, A, rv, dims, s, c.beta, c.T_gem, c.T_lbp,
                          c.segmentationCount, c.neighborhoodType, c.verbose);
}

// State carried from round to round within one call.
template <class Study> struct Search {
  Search(const Study &study, std::vector<int> &labels, std::vector<double> &voxelValues)
      : study(study), buffers(searchBuffersOfThisThread()), V(buffers.V), A(buffers.A),
        labels(labels), voxelValues(voxelValues) {
    V.clear();
    A.clear();
  }
  const Study &study;
  SearchBuffers &buffers;
  RoiSettings settings;
  long voxels = 0; // N; the function variable is node N
  long cases = 0;
  std::vector<int> &V; // candidates, ascending
  std::vector<int> &A; // positive-gain voxels of the current round, in V's order
  std::vector<int> R;  // representatives in the order found
  std::vector<int> &labels;
  std::vector<double> &voxelValues;
  Samples roundMatrix;
  // The bit view the packed scan counts on: the view itself on the command's route, or a bit
  // copy of a full matrix on the plain route's packed variant (null when it is not two-state).
  const StudyView *bits = nullptr;
  BmlTimes times;
};

// Slots 0 .. r-2 the earlier representatives, slot r-1 the candidate (V's first voxel as a
// placeholder until the scan overwrites it), slot r the function variable.
template <class Study> void buildRoundMatrix(Search<Study> &s) {
  std::vector<int> nodes;
  nodes.reserve(s.R.size() + 2);
  for (const int id : s.R)
    nodes.push_back(id - 1);
  nodes.push_back(s.V.front() - 1);
  nodes.push_back(static_cast<int>(s.voxels));
  subsetOf(s.roundMatrix, s.study, nodes);
}

// Old graph: every earlier representative slot -> function slot. New graph: plus the
// candidate slot -> function slot.
void buildRoundGraphs(Dag &oldDag, Dag &newDag, int round) {
  oldDag.setSize(round + 1);
  for (int j = 0; j <= round - 2; ++j)
    oldDag.set(j, round, 1);
  copy_dag(newDag, oldDag);
  newDag.set(round - 1, round, 1);
  std::ostream &out = torva::progress();
  out << "DAG old\n";
  oldDag.display();
  out << "DAG new\n";
  newDag.display();
  out << "***************************\n";
}

template <class Study>
RoundBest scanRound(Search<Study> &s, int round, const std::vector<int> &ns, const Dag &newDag,
                    double baseline, ScanRoute route) {
  const auto start = Clock::now();
  RoundBest best;
  s.A.clear();
  const ScanRound input{s.V, round, s.cases, baseline, s.settings.representativeShare};
  std::ostream &out = torva::progress();
  if (route == ScanRoute::Packed && s.bits != nullptr) {
    PackedEvaluator evaluator(*s.bits, s.R);
    out << "Searching the representative voxel\n";
    scanCandidates(evaluator, input, s.A, best, out);
  } else if constexpr (std::is_same_v<Study, Samples>) {
    BN trial;
    trial.setSize(round + 1, ns);
    trial.setDag(newDag);
    MatrixEvaluator evaluator(s.study, s.roundMatrix, trial, round, s.voxels);
    out << "Searching the representative voxel\n";
    scanCandidates(evaluator, input, s.A, best, out);
  }
  s.times.scan += secondsSince(start);
  return best;
}

long equalPatterns(const Samples &study, const StudyView *bits, const std::vector<int> &V, int id) {
  return bits != nullptr ? countEqualPatterns(*bits, V, id) : countEqualPatterns(study, V, id);
}

long equalPatterns(const StudyView &study, const StudyView *, const std::vector<int> &V, int id) {
  return countEqualPatterns(study, V, id);
}

// set less one occurrence of id, ascending, in place.
void removeOne(std::vector<int> &set, int id) {
  if (!std::is_sorted(set.begin(), set.end()))
    std::sort(set.begin(), set.end());
  const auto at = std::lower_bound(set.begin(), set.end(), id);
  if (at != set.end() && *at == id)
    set.erase(at);
}

// The distinct voxels of V less every voxel of the region, ascending, in place.
void removeRegion(std::vector<int> &V, const std::vector<int> &region,
                  std::vector<int> &regionAscending) {
  if (!std::is_sorted(V.begin(), V.end()))
    std::sort(V.begin(), V.end());
  V.erase(std::unique(V.begin(), V.end()), V.end());
  regionAscending.assign(region.begin(), region.end());
  std::sort(regionAscending.begin(), regionAscending.end());
  V.erase(std::remove_if(V.begin(), V.end(),
                         [&regionAscending](int id) {
                           return std::binary_search(regionAscending.begin(), regionAscending.end(),
                                                     id);
                         }),
          V.end());
}

// Grows the region of representative rv by segmentation among the rest of A, labels it with
// the round number and takes it out of V.
template <class Study> void formRegion(Search<Study> &s, int round, int rv) {
  s.R.push_back(rv);
  removeOne(s.V, rv);
  removeOne(s.A, rv);
  std::ostream &out = torva::progress();
  out << "Clustering with centroid " << rv << '\n';
  out << "Candidate set size= " << s.A.size() << '\n';
  const auto start = Clock::now();
  std::vector<int> &region = s.buffers.region;
  std::vector<double> &regionValues = s.buffers.regionValues;
  segmentRegion(region, regionValues, s.A, rv, s.study, s.settings);
  s.times.segmentation += secondsSince(start);
  out << "From " << s.V.size() << " voxels\n";
  out << region.size() << " voxels are in same cluster as " << rv << '\n';
  for (std::size_t j = 0; j < region.size(); ++j) {
    s.labels[region[j] - 1] = round;
    s.voxelValues[region[j] - 1] = regionValues[j];
  }
  removeRegion(s.V, region, s.buffers.regionAscending);
}

// One search round; returns whether a representative voxel was found.
template <class Study> bool searchRound(Search<Study> &s, int round, ScanRoute route) {
  std::ostream &out = torva::progress();
  out << "ROI searching round = " << round << '\n';
  out << "Candidtate voxel set size = " << s.V.size() << '\n';
  buildRoundMatrix(s);
  std::vector<int> ns;
  s.roundMatrix.getNs(ns);
  Dag oldDag;
  Dag newDag;
  buildRoundGraphs(oldDag, newDag, round);

  BN baselineNet;
  baselineNet.setSize(round + 1, ns);
  baselineNet.setDag(oldDag);
  baselineNet.getSuffStatNode(s.roundMatrix, round);
  const double baseline = baselineNet.K2ScoreNode(round, 1);
  out << "K2 Score (before add new RV) = " << baseline << '\n';

  const RoundBest best = scanRound(s, round, ns, newDag, baseline, route);
  out << '\n'
      << "RV Id= " << best.id << ", K2 Diff= " << best.gain << ", K2= " << best.score << '\n';
  appendRoundRecord(round, best.id, best.gain, best.score);
  if (best.id != -1) {
    out << "This representative pattern includes " << equalPatterns(s.study, s.bits, s.V, best.id)
        << " voxels\n";
    formRegion(s, round, best.id);
  }
  out << "Representative voxel Id\n";
  for (const int id : s.R)
    out << id << ' ';
  out << "\n__________________________________\n";
  return best.id != -1;
}

// Cases in state 1 of the voxels of V, largest first: a full matrix's cases are its subjects.
void measureOverlap(const Samples &study, const std::vector<int> &V, long cases,
                    RoundOneOverlap &overlap) {
  std::vector<char> pattern(static_cast<std::size_t>(cases));
  for (const int id : V) {
    study.getOneNode(pattern.data(), id - 1);
    const long norm = vector_norm(pattern.data(), static_cast<int>(cases));
    overlap.largestInCases = std::max(overlap.largestInCases, norm);
  }
  overlap.largestInSubjects = overlap.largestInCases;
}

// On a view the cases count repeats of a subject; the study's subjects count each once.
void measureOverlap(const StudyView &study, const std::vector<int> &V, long,
                    RoundOneOverlap &overlap) {
  const PackedStudy &subjects = study.subjects();
  for (const int id : V) {
    const std::uint64_t *bits = subjects.node(id - 1);
    long inSubjects = 0;
    for (int w = 0; w < subjects.words(); ++w)
      inSubjects += torva::popcount(bits[w]);
    overlap.largestInCases = std::max(overlap.largestInCases, study.countOnes(bits));
    overlap.largestInSubjects = std::max(overlap.largestInSubjects, inSubjects);
  }
}

template <class Study> long voxelCount(const Study &study) {
  std::vector<int> xyz;
  study.getXYZSiz(xyz);
  return static_cast<long>(xyz[0]) * xyz[1] * xyz[2];
}

// Settings, screening, run log start; then the rounds, the network and the hand-back.
template <class Study>
void learnRegions(Search<Study> &s, BN &bn, std::vector<int> &representatives, ScanRoute route,
                  BmlTimes *times, RoundOneOverlap *overlap) {
  std::ostream &out = torva::progress();
  prepareResultArrays(s.labels, s.voxelValues, s.voxels);
  const std::string refused = readRoiSettings(s.settings, out);
  if (!refused.empty()) {
    out.flush();
    torva::exitWithMessage(torva::kExitInputError, stderr, refused);
  }
  echoRoiSettings(s.settings, out);
  const auto screeningStart = Clock::now();
  formCandidateSet(s.V, s.labels, s.study, s.settings, out);
  s.times.screening += secondsSince(screeningStart);
  startRunLog(s.cases);

  // The first round always runs, so Max_ROI 0 or below still gives one round.
  int round = 0;
  bool found = true;
  do {
    ++round;
    found = searchRound(s, round, route);
  } while (found && !s.V.empty() && round < s.settings.Max_ROI);
  if (!found)
    out << "End: A is empty\n";
  if (overlap != nullptr) {
    *overlap = RoundOneOverlap{};
    if (round == 1 && !found) {
      overlap->measured = true;
      overlap->cases = s.cases;
      overlap->normBound = normTestBound(s.cases, s.settings.representativeShare);
      overlap->share = s.settings.representativeShare;
      measureOverlap(s.study, s.V, s.cases, *overlap);
    }
  }
  if (s.V.empty())
    out << "End: V is empty\n";
  if (round >= s.settings.Max_ROI)
    out << "End: Maximum ROI number\n";

  std::vector<int> finalNodes;
  for (const int id : s.R)
    finalNodes.push_back(id - 1);
  finalNodes.push_back(static_cast<int>(s.voxels));
  subsetOf(s.roundMatrix, s.study, finalNodes);
  fitRegionNetwork(bn, s.roundMatrix);
  reportRepresentatives(representatives, s.R, s.roundMatrix, out);
  if (times != nullptr)
    *times = s.times;
}

} // namespace

void bml(const Samples &samples, std::vector<int> &labels, std::vector<double> &voxelValues, BN &bn,
         std::vector<int> &representatives) {
  bml(samples, labels, voxelValues, bn, representatives, ScanRoute::Packed, nullptr);
}

void bml(const Samples &samples, std::vector<int> &labels, std::vector<double> &voxelValues, BN &bn,
         std::vector<int> &representatives, ScanRoute route, BmlTimes *times,
         RoundOneOverlap *overlap) {
  Search<Samples> s(samples, labels, voxelValues);
  long nodes = 0;
  samples.getSize(nodes, s.cases);
  s.voxels = voxelCount(samples);
  if (nodes != s.voxels + 1)
    torva::exitWithMessage(torva::kExitInputError, stderr,
                           "region learner: the study has " + std::to_string(nodes) +
                               " nodes; its extents need " + std::to_string(s.voxels) +
                               " voxels and the function variable\n");
  // The packed scan counts bits of a copy of the matrix; a study that is not two-state keeps
  // the plain evaluator.
  PackedStudy packed;
  std::unique_ptr<StudyView> view;
  if (route == ScanRoute::Packed && packed.build(samples)) {
    std::vector<int> identity(static_cast<std::size_t>(s.cases));
    for (long c = 0; c < s.cases; ++c)
      identity[c] = static_cast<int>(c);
    std::vector<int> xyz;
    samples.getXYZSiz(xyz);
    view = std::make_unique<StudyView>(packed, identity, xyz[0], xyz[1], xyz[2]);
    s.bits = view.get();
  }
  learnRegions(s, bn, representatives, route, times, overlap);
}

void bml(const StudyView &study, std::vector<int> &labels, std::vector<double> &voxelValues, BN &bn,
         std::vector<int> &representatives, BmlTimes *times, RoundOneOverlap *overlap) {
  Search<StudyView> s(study, labels, voxelValues);
  s.cases = study.cases();
  s.voxels = study.voxels();
  s.bits = &study;
  learnRegions(s, bn, representatives, ScanRoute::Packed, times, overlap);
}
