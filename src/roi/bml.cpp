#include "roi/bml.h"

#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>

#include "bn/bn.h"
#include "bn/dag.h"
#include "data/samples.h"
#include "roi/candidate_scan.h"
#include "roi/region_network.h"
#include "roi/roi_settings.h"
#include "roi/run_log.h"
#include "roi/screening.h"
#include "segment/segmentation.h"
#include "util/fatal.h"
#include "util/index_sets.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// State carried from round to round within one call.
struct Search {
  const Samples &study;
  RoiSettings settings;
  long voxels = 0; // N; the function variable is node N
  long cases = 0;
  std::vector<int> V; // candidates, ascending
  std::vector<int> A; // positive-gain voxels of the current round, in V's order
  std::vector<int> R; // representatives in the order found
  std::vector<int> &labels;
  std::vector<double> &voxelValues;
  Samples roundMatrix;
  PackedStudy packed;
  BmlTimes times;
};

// Slots 0 .. r-2 the earlier representatives, slot r-1 the candidate (V's first voxel as a
// placeholder until the scan overwrites it), slot r the function variable.
void buildRoundMatrix(Search &s) {
  std::vector<int> nodes;
  nodes.reserve(s.R.size() + 2);
  for (const int id : s.R)
    nodes.push_back(id - 1);
  nodes.push_back(s.V.front() - 1);
  nodes.push_back(static_cast<int>(s.voxels));
  subset_node(s.roundMatrix, s.study, nodes);
}

// Old graph: every earlier representative slot -> function slot. New graph: plus the
// candidate slot -> function slot.
void buildRoundGraphs(Dag &oldDag, Dag &newDag, int round) {
  oldDag.setSize(round + 1);
  for (int j = 0; j <= round - 2; ++j)
    oldDag.set(j, round, 1);
  copy_dag(newDag, oldDag);
  newDag.set(round - 1, round, 1);
  std::cout << "DAG old\n";
  oldDag.display();
  std::cout << "DAG new\n";
  newDag.display();
  std::cout << "***************************\n";
}

RoundBest scanRound(Search &s, int round, const std::vector<int> &ns, const Dag &newDag,
                    double baseline, ScanRoute route) {
  const auto start = Clock::now();
  RoundBest best;
  s.A.clear();
  const ScanRound input{s.V, round, s.cases, baseline, s.study};
  if (route == ScanRoute::Packed && !s.packed.empty()) {
    PackedEvaluator evaluator(s.packed, s.R, s.voxels);
    std::cout << "Searching the representative voxel\n";
    scanCandidates(evaluator, input, s.A, best, std::cout);
  } else {
    BN trial;
    trial.setSize(round + 1, ns);
    trial.setDag(newDag);
    MatrixEvaluator evaluator(s.study, s.roundMatrix, trial, round, s.voxels);
    std::cout << "Searching the representative voxel\n";
    scanCandidates(evaluator, input, s.A, best, std::cout);
  }
  s.times.scan += secondsSince(start);
  return best;
}

void removeOne(std::vector<int> &set, int id) {
  std::vector<int> rest;
  set_minus(rest, set, {id});
  set_copy(set, rest);
}

// Grows the region of representative rv by segmentation among the rest of A, labels it with
// the round number and takes it out of V.
void formRegion(Search &s, int round, int rv) {
  s.R.push_back(rv);
  removeOne(s.V, rv);
  removeOne(s.A, rv);
  std::cout << "Clustering with centroid " << rv << '\n';
  std::cout << "Candidate set size= " << s.A.size() << '\n';
  const auto start = Clock::now();
  std::vector<int> region;
  std::vector<double> regionValues;
  const RoiSettings &c = s.settings;
  clustering_lbp_new(region, regionValues, s.A, rv, s.study, c.beta, c.T_gem, c.T_lbp,
                     c.segmentationCount, c.neighborhoodType, c.verbose);
  s.times.segmentation += secondsSince(start);
  std::cout << "From " << s.V.size() << " voxels\n";
  std::cout << region.size() << " voxels are in same cluster as " << rv << '\n';
  for (std::size_t j = 0; j < region.size(); ++j) {
    s.labels[region[j] - 1] = round;
    s.voxelValues[region[j] - 1] = regionValues[j];
  }
  std::vector<int> rest;
  set_minus2(rest, s.V, region);
  set_copy(s.V, rest);
}

// One search round; returns whether a representative voxel was found.
bool searchRound(Search &s, int round, ScanRoute route) {
  std::cout << "ROI searching round = " << round << '\n';
  std::cout << "Candidtate voxel set size = " << s.V.size() << '\n';
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
  std::cout << "K2 Score (before add new RV) = " << baseline << '\n';

  const RoundBest best = scanRound(s, round, ns, newDag, baseline, route);
  std::cout << '\n'
            << "RV Id= " << best.id << ", K2 Diff= " << best.gain << ", K2= " << best.score << '\n';
  appendRoundRecord(round, best.id, best.gain, best.score);
  if (best.id != -1) {
    std::cout << "This representative pattern includes "
              << countEqualPatterns(s.study, s.packed, s.V, best.id) << " voxels\n";
    formRegion(s, round, best.id);
  }
  std::cout << "Representative voxel Id\n";
  for (const int id : s.R)
    std::cout << id << ' ';
  std::cout << "\n__________________________________\n";
  return best.id != -1;
}

long voxelCount(const Samples &study) {
  std::vector<int> xyz;
  study.getXYZSiz(xyz);
  return static_cast<long>(xyz[0]) * xyz[1] * xyz[2];
}

} // namespace

void bml(const Samples &samples, std::vector<int> &labels, std::vector<double> &voxelValues, BN &bn,
         std::vector<int> &representatives) {
  bml(samples, labels, voxelValues, bn, representatives, ScanRoute::Packed, nullptr);
}

void bml(const Samples &samples, std::vector<int> &labels, std::vector<double> &voxelValues, BN &bn,
         std::vector<int> &representatives, ScanRoute route, BmlTimes *times) {
  Search s{samples, RoiSettings(), 0, 0, {}, {}, {}, labels, voxelValues, Samples(), {}, {}};
  long nodes = 0;
  samples.getSize(nodes, s.cases);
  s.voxels = voxelCount(samples);
  if (nodes != s.voxels + 1)
    torva::exitWithMessage(torva::kExitInputError, stderr,
                           "region learner: the study has " + std::to_string(nodes) +
                               " nodes; its extents need " + std::to_string(s.voxels) +
                               " voxels and the function variable\n");
  prepareResultArrays(labels, voxelValues, s.voxels);

  const std::string refused = readRoiSettings(s.settings, std::cout);
  if (!refused.empty()) {
    std::cout.flush();
    torva::exitWithMessage(torva::kExitInputError, stderr, refused);
  }
  echoRoiSettings(s.settings, std::cout);
  formCandidateSet(s.V, labels, samples, s.settings, std::cout);
  startRunLog(s.cases);
  if (route == ScanRoute::Packed)
    s.packed.build(samples);

  // The first round always runs, so Max_ROI 0 or below still gives one round.
  int round = 0;
  bool found = true;
  do {
    ++round;
    found = searchRound(s, round, route);
  } while (found && !s.V.empty() && round < s.settings.Max_ROI);
  if (!found)
    std::cout << "End: A is empty\n";
  if (s.V.empty())
    std::cout << "End: V is empty\n";
  if (round >= s.settings.Max_ROI)
    std::cout << "End: Maximum ROI number\n";

  fitRegionNetwork(bn, s.roundMatrix, samples, s.R, s.voxels);
  reportRepresentatives(representatives, s.R, samples, s.voxels, std::cout);
  if (times != nullptr)
    *times = s.times;
}
