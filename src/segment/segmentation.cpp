#include "segment/segmentation.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <memory>
#include <sstream>

#include "segment/kclustering.h"
#include "segment/lattice_lbp.h"
#include "segment/lbp.h"
#include "segment/neighborhood.h"
#include "util/progress.h"

void compute_smap_kclustering(std::vector<double> &s, int representative,
                              const std::vector<int> &candidates, const Samples &samples) {
  s.clear();
  long nodes = 0;
  long cases = 0;
  samples.getSize(nodes, cases);
  const long repNode = static_cast<long>(representative) - 1;
  std::vector<char> rep(static_cast<std::size_t>(cases), 0);
  samples.getOneNode(rep.data(), repNode);
  const bool repReadable = repNode >= 0 && repNode < nodes;

  // Columns that do not exist get the sample matrix's out-of-bound report and a NaN similarity,
  // so that no made-up value passes for a measured one.
  const std::size_t C = candidates.size();
  std::vector<long> columns;
  std::vector<std::size_t> positions;
  columns.reserve(C);
  positions.reserve(C);
  for (std::size_t i = 0; i < C; ++i) {
    const long node = static_cast<long>(candidates[i]) - 1;
    if (node >= 0 && node < nodes) {
      columns.push_back(node);
      positions.push_back(i);
    } else {
      samples.getOneNode(rep.data(), node);
    }
  }

  // Squared differences are small integers, so their sums are exact in any order. The matrix is
  // stored case by case, so one pass over the cases reads each row once instead of striding down
  // every candidate's column.
  std::vector<long> distance(columns.size(), 0);
  const char *row = samples.cellData();
  for (long c = 0; c < cases; ++c, row += nodes) {
    const int r = rep[c];
    for (std::size_t k = 0; k < columns.size(); ++k) {
      const int d = row[columns[k]] - r;
      distance[k] += d * d;
    }
  }
  s.assign(C + 1, std::nan(""));
  if (repReadable)
    for (std::size_t k = 0; k < columns.size(); ++k)
      s[positions[k]] = 1.0 - static_cast<double>(distance[k]) / cases;
  s[C] = 1.0;
}

void compute_smap_kclustering(std::vector<double> &s, int representative,
                              const std::vector<int> &candidates, const StudyView &view) {
  s.clear();
  s.reserve(candidates.size() + 1);
  const long cases = view.cases();
  const PackedStudy &subjects = view.subjects();
  const std::uint64_t *rep = subjects.node(static_cast<long>(representative) - 1);
  for (const int id : candidates) {
    const long distance = view.countDifferent(subjects.node(static_cast<long>(id) - 1), rep);
    s.push_back(1.0 - static_cast<double>(distance) / cases);
  }
  s.push_back(1.0);
}

namespace {

struct SegmentationRun {
  std::vector<int> labels;
  std::vector<double> values;
  double gvrc = 0.0;
};

// The graph and message tables of a whole-brain region are hundreds of megabytes. Each thread
// keeps its own from one segmentation to the next, so that their pages are not returned to the
// system and faulted and cleared again by the next region; every use rebuilds them in full.
// The lattice sets the region search hands over take the lattice route; the others (a
// neighbourhood file, or more clusters than its kernels serve) the general graph.
struct SegmentationTables {
  LbpGraph graph;
  LbpWorkspace workspace;
  LatticeNeighbours neighbours;
  LatticeLbpGraph lattice;
  LatticeLbpWorkspace latticeWorkspace;
  KClusteringScratch scratch;
  SegmentationRun trial;
  SegmentationRun chosen;
};

SegmentationTables &tablesOfThisThread() {
  static thread_local SegmentationTables tables;
  return tables;
}

class SegmentationRunner {
public:
  SegmentationRunner(BeliefPropagation &propagation, KClusteringScratch &scratch,
                     const std::vector<double> &features, double beta, int gemIterations,
                     int lbpIterations)
      : propagation_(propagation), scratch_(scratch), features_(features), beta_(beta),
        gemIterations_(gemIterations), lbpIterations_(lbpIterations) {}

  void run(SegmentationRun &out, int K) {
    kclustering_lbp_fixed_cluster_number(out.labels, out.values, out.gvrc, propagation_, features_,
                                         beta_, gemIterations_, lbpIterations_, K, scratch_);
  }

private:
  BeliefPropagation &propagation_;
  KClusteringScratch &scratch_;
  const std::vector<double> &features_;
  double beta_;
  int gemIterations_;
  int lbpIterations_;
};

// K = 2 .. 7; the best strictly larger GVRC wins (ties keep the smaller K, NaN never wins), then
// that K runs once more for the chosen labelling.
void selectBestOfRange(SegmentationRun &chosen, SegmentationRun &trial,
                       SegmentationRunner &runner) {
  double bestGvrc = 0.0;
  int bestK = 2;
  for (int K = 2; K <= 7; ++K) {
    runner.run(trial, K);
    torva::progress() << "GVRC= " << trial.gvrc << "; GVRC*=" << bestGvrc << "\n";
    if (trial.gvrc > bestGvrc) {
      bestK = K;
      bestGvrc = trial.gvrc;
    }
  }
  runner.run(chosen, bestK);
}

// K = 2, 3, ... accepted while the GVRC strictly rises from one K to the next; K = 9 is run and
// printed but never accepted.
void selectForward(SegmentationRun &chosen, SegmentationRun &trial, SegmentationRunner &runner) {
  double previous = 0.0;
  bool rising = true;
  for (int K = 2;; ++K) {
    runner.run(trial, K);
    if (K == 2) {
      torva::progress() << "Init. GVRC= " << trial.gvrc << "\n";
    } else {
      torva::progress() << "GVRC new= " << trial.gvrc << " GVRC old= " << previous << "\n";
      if (previous >= trial.gvrc)
        rising = false;
      if (K > 8)
        break;
    }
    if (!rising)
      break;
    std::swap(chosen, trial);
    previous = chosen.gvrc;
  }
}

void appendRegionLog(int representative, const std::vector<double> &regionValues) {
  const double m = static_cast<double>(regionValues.size());
  double sum = 0.0;
  for (double s : regionValues)
    sum += s;
  const double mean = sum / m;
  double squares = 0.0;
  for (double s : regionValues)
    squares += (s - mean) * (s - mean);
  const double deviation = std::sqrt(squares / m);
  std::ostringstream log;
  log << "R=" << representative << " cluster mean= " << mean << " std= " << deviation << "\n";
  torva::appendRunLogText(log.str());
}

} // namespace

void clustering_lbp_new(std::vector<int> &region, std::vector<double> &regionValues,
                        const std::vector<int> &candidates, int representative,
                        const Samples &samples, double beta, int T_gem, int T_lbp,
                        int segmentationCount, int neighborhoodType, int verbose) {
  region.clear();
  regionValues.clear();
  std::vector<int> dims;
  samples.getXYZSiz(dims);
  check_voxel_ids(representative, candidates, dims);
  std::vector<double> s;
  compute_smap_kclustering(s, representative, candidates, samples);
  clustering_lbp_features(region, regionValues, candidates, representative, dims, s, beta, T_gem,
                          T_lbp, segmentationCount, neighborhoodType, verbose);
}

void clustering_lbp_features(std::vector<int> &region, std::vector<double> &regionValues,
                             const std::vector<int> &candidates, int representative,
                             const std::vector<int> &dims, const std::vector<double> &s,
                             double beta, int T_gem, int T_lbp, int segmentationCount,
                             int neighborhoodType, int /*verbose*/) {
  region.clear();
  regionValues.clear();
  torva::progress() << "Create Neighborhood System\n";
  SegmentationTables &tables = tablesOfThisThread();
  // Forward selection goes up to 9 clusters; a larger fixed count simply grows the storage.
  const int largestK = segmentationCount >= 2    ? std::min(segmentationCount, 9)
                       : segmentationCount == -2 ? 7
                                                 : 9;
  const bool lattice = neighborhoodType == 0 && lattice_graph_applies(representative, candidates);
  const bool latticeKernels =
      (segmentationCount >= 2 ? segmentationCount : largestK) <= kLatticeLargestK;
  if (lattice)
    check_voxel_ids(representative, candidates, dims);
  if (lattice && latticeKernels)
    build_lattice_lbp(tables.lattice, representative, candidates, dims, tables.neighbours);
  std::unique_ptr<BeliefPropagation> propagation;
  if (lattice && latticeKernels && lattice_route_pays(tables.lattice)) {
    torva::progress() << "end****\n";
    // Room for the largest cluster count up front, so that no later run reallocates.
    tables.latticeWorkspace.reserve(tables.lattice, largestK);
    propagation = std::make_unique<LatticePropagation>(tables.lattice, tables.latticeWorkspace);
  } else {
    LbpGraph &graph = tables.graph;
    if (lattice) {
      build_lattice_lbp_graph(graph, representative, candidates, dims, tables.neighbours);
      torva::progress() << "end****\n";
    } else {
      std::vector<std::vector<int>> nbhd;
      if (neighborhoodType == 0)
        create_nbhd_system_kclustering(nbhd, representative, candidates, dims);
      else
        create_nbhd_system_fromfile(nbhd, representative, candidates, dims);
      torva::progress() << "end****\n";
      build_lbp_graph(graph, representative, candidates, nbhd, dims);
    }
    tables.workspace.reserve(graph, largestK);
    propagation = std::make_unique<GraphPropagation>(graph, tables.workspace);
  }

  tables.scratch.reserve(s.size(), largestK);
  SegmentationRunner runner(*propagation, tables.scratch, s, beta, T_gem, T_lbp);
  SegmentationRun &chosen = tables.chosen;
  if (segmentationCount >= 2)
    runner.run(chosen, segmentationCount);
  else if (segmentationCount == -2)
    selectBestOfRange(chosen, tables.trial, runner);
  else
    selectForward(chosen, tables.trial, runner);

  const int C = static_cast<int>(candidates.size());
  const int r = chosen.labels[C];
  for (int i = 0; i < C; ++i)
    if (chosen.labels[i] == r) {
      region.push_back(candidates[i]);
      regionValues.push_back(chosen.values[i]);
    }
  region.push_back(representative);
  regionValues.push_back(chosen.values[C]);

  appendRegionLog(representative, regionValues);
}
