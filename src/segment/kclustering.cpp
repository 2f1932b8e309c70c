#include "segment/kclustering.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "util/progress.h"
#include "util/stop_signal.h"

double gvrc_kclustering(const std::vector<double> &features, const std::vector<int> &clusterLabels,
                        const std::vector<double> &means) {
  const int N = static_cast<int>(features.size());
  const int K = static_cast<int>(means.size());
  // One cluster has no degrees of freedom; the integer factor would divide by zero.
  if (K < 2)
    return std::nan("");
  double total = 0.0;
  for (double x : features)
    total += x;
  const double mean = total / N;
  double sst = 0.0;
  double ssw = 0.0;
  for (int n = 0; n < N; ++n) {
    const double dt = features[n] - mean;
    sst += dt * dt;
    const double dw = features[n] - means[clusterLabels[n]];
    ssw += dw * dw;
  }
  const int f = (N - K) / (K - 1);
  return (sst - ssw) * f / ssw;
}

void create_transition_matrix_kclsutering(std::vector<double> &T, const std::vector<double> &means,
                                          double beta) {
  T.clear();
  T.reserve(means.size() * means.size());
  for (double mi : means)
    for (double mj : means) {
      const double d = mi - mj;
      T.push_back(std::exp(-(beta * (d * d))));
    }
}

void create_evidence_kclustering(std::vector<double> &E, const std::vector<double> &features,
                                 const std::vector<double> &means) {
  const std::size_t K = means.size();
  E.resize(features.size() * K);
  // The features are similarities, counts of cases over the case count, so a region of tens of
  // thousands of voxels holds a few hundred distinct values. A row is copied from the last
  // voxel whose feature had the same bits (remembered in a small table by hash), which gives
  // exactly the values computing it would.
  constexpr int kTableBits = 12;
  std::vector<std::uint64_t> seenBits(std::size_t{1} << kTableBits);
  std::vector<std::size_t> seenRow(std::size_t{1} << kTableBits, SIZE_MAX);
  for (std::size_t n = 0; n < features.size(); ++n) {
    const double x = features[n];
    std::uint64_t bits = 0;
    std::memcpy(&bits, &x, sizeof bits);
    const std::size_t slot =
        static_cast<std::size_t>((bits * 0x9E3779B97F4A7C15ull) >> (64 - kTableBits));
    double *row = E.data() + n * K;
    if (seenRow[slot] != SIZE_MAX && seenBits[slot] == bits) {
      std::copy_n(E.data() + seenRow[slot] * K, K, row);
      continue;
    }
    for (std::size_t j = 0; j < K; ++j) {
      const double d = x - means[j];
      row[j] = std::exp(-(d * d));
    }
    seenBits[slot] = bits;
    seenRow[slot] = n;
  }
}

namespace {

// Evenly spaced from the smallest to the largest feature.
void initialMeans(std::vector<double> &means, const std::vector<double> &features, int K) {
  double lowest = features.empty() ? 0.0 : features[0];
  double highest = lowest;
  for (double x : features) {
    if (x < lowest)
      lowest = x;
    if (x > highest)
      highest = x;
  }
  torva::progress() << lowest << " " << highest << "\n";
  const double step = (highest - lowest) / (K - 1);
  means.resize(K);
  for (int i = 0; i < K; ++i) {
    means[i] = i * step + lowest;
    torva::progress() << means[i] << " ";
  }
  torva::progress() << "\n";
}

// Most probable label per node; ties go to the lowest label.
void labelByBeliefs(std::vector<int> &labels, const std::vector<double> &beliefs, int K) {
  const std::size_t N = labels.size();
  for (std::size_t n = 0; n < N; ++n) {
    const double *b = beliefs.data() + n * K;
    int best = 0;
    for (int s = 1; s < K; ++s)
      if (b[s] > b[best])
        best = s;
    labels[n] = best;
  }
}

// Cluster means of the labelling; an empty cluster gets -1.0, which then enters the potentials.
void updateMeans(std::vector<double> &means, const std::vector<int> &labels,
                 const std::vector<double> &features) {
  const int K = static_cast<int>(means.size());
  for (int c = 0; c < K; ++c) {
    int count = 0;
    double sum = 0.0;
    for (std::size_t n = 0; n < labels.size(); ++n)
      if (labels[n] == c) {
        ++count;
        sum += features[n];
      }
    means[c] = count != 0 ? sum / count : -1.0;
    torva::progressf("cluster=%d, mean=%f, size=%d\n", c, means[c], count);
  }
}

} // namespace

void KClusteringScratch::reserve(std::size_t nodes, int K) {
  const std::size_t values = nodes * static_cast<std::size_t>(K);
  lbp_reserve_with_margin(evidence, values);
  lbp_reserve_with_margin(beliefs, values);
  lbp_reserve_with_margin(labels, nodes);
  lbp_reserve_with_margin(bestLabels, nodes);
}

void kclustering_lbp_fixed_cluster_number(std::vector<int> &clusterLabels,
                                          std::vector<double> &nodeValues, double &gvrc,
                                          BeliefPropagation &propagation,
                                          const std::vector<double> &features, double beta,
                                          int gemIterations, int lbpIterations, int clusterCount,
                                          KClusteringScratch &scratch) {
  clusterLabels.clear();
  nodeValues.clear();
  const int K = clusterCount;
  std::vector<double> &means = scratch.means;
  std::vector<double> &T = scratch.transition;
  std::vector<double> &E = scratch.evidence;
  scratch.reserve(features.size(), K);
  lbp_reserve_with_margin(clusterLabels, features.size());
  lbp_reserve_with_margin(nodeValues, features.size());
  initialMeans(means, features, K);
  create_transition_matrix_kclsutering(T, means, beta);
  create_evidence_kclustering(E, features, means);

  std::vector<double> &beliefs = scratch.beliefs;
  // Every iteration labels every node before any label is read.
  std::vector<int> &labels = scratch.labels;
  labels.resize(features.size());
  std::vector<int> &bestLabels = scratch.bestLabels;
  double bestGvrc = 0.0;
  double previousGvrc = 0.0;
  for (int g = 0;; ++g) {
    torva::endIfStopRequested(); // one inference can take a second at 1 mm
    torva::progress() << "_______________\n"
                      << "GEM Iteration= " << g << "\n";
    propagation.infer(beliefs, E, T, lbpIterations);
    labelByBeliefs(labels, beliefs, K);
    updateMeans(means, labels, features);
    const double current = gvrc_kclustering(features, labels, means);
    torva::progress() << "GVRC= " << current << "\n";
    // Keep an iteration only while the criterion rises; a NaN on either side counts as a rise.
    if (g > 0 && previousGvrc >= current)
      break;
    bestLabels = labels;
    bestGvrc = current;
    if (g + 1 >= gemIterations)
      break;
    create_transition_matrix_kclsutering(T, means, beta);
    create_evidence_kclustering(E, features, means);
    previousGvrc = current;
  }

  gvrc = bestGvrc;
  torva::progress() << "***********\n";
  torva::progressf("Summary: number of cluster=%d, gvrc=%f\n", K, bestGvrc);
  torva::progress() << "***********\n";
  nodeValues = features;
  clusterLabels = bestLabels;
}

void kclustering_lbp_fixed_cluster_number(std::vector<int> &clusterLabels,
                                          std::vector<double> &nodeValues, double &gvrc,
                                          const std::vector<int> &candidates, int representative,
                                          const std::vector<double> &features,
                                          const std::vector<std::vector<int>> &nbhd,
                                          const std::vector<int> &dims, double beta,
                                          int gemIterations, int lbpIterations, int clusterCount) {
  LbpGraph graph;
  build_lbp_graph(graph, representative, candidates, nbhd, dims);
  LbpWorkspace workspace;
  GraphPropagation propagation(graph, workspace);
  KClusteringScratch scratch;
  kclustering_lbp_fixed_cluster_number(clusterLabels, nodeValues, gvrc, propagation, features, beta,
                                       gemIterations, lbpIterations, clusterCount, scratch);
}
