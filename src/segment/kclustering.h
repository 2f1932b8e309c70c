#pragma once
// Segmentation of the graph nodes (candidates, then the representative) into a fixed number K of
// clusters over one feature value per node, by a generalised EM loop: belief propagation as the
// E-step, the most probable label per node, re-estimated cluster means, and GVRC deciding when
// to stop.
#include <vector>

#include "segment/lbp.h"

// T[i*K + j] = exp(-(beta * (d * d))), d = means[i] - means[j].
void create_transition_matrix_kclsutering(std::vector<double> &T, const std::vector<double> &means,
                                          double beta);

// E[n*K + j] = exp(-(d * d)), d = features[n] - means[j]; no variance term.
void create_evidence_kclustering(std::vector<double> &E, const std::vector<double> &features,
                                 const std::vector<double> &means);

// GVRC = (SST - SSW) * f / SSW, a between- over within-cluster variance ratio with
//   SST = sum_n (x_n - mean(x))^2,  SSW = sum_n (x_n - mu_{l_n})^2,
//   f = (N - K) / (K - 1) in integer arithmetic (N = 6, K = 3 gives 1, not 1.5).
// Fewer than two means give NaN.
double gvrc_kclustering(const std::vector<double> &features, const std::vector<int> &clusterLabels,
                        const std::vector<double> &means);

// clusterLabels: the labelling of the last iteration that raised the GVRC (the first always
// counts); nodeValues: a copy of features; gvrc: that iteration's GVRC. Prints its progress.
// clusterCount is at least 2; the segmentation driver never passes less.
void kclustering_lbp_fixed_cluster_number(std::vector<int> &clusterLabels,
                                          std::vector<double> &nodeValues, double &gvrc,
                                          const std::vector<int> &candidates, int representative,
                                          const std::vector<double> &features,
                                          const std::vector<std::vector<int>> &nbhd,
                                          const std::vector<int> &dims, double beta,
                                          int gemIterations, int lbpIterations, int clusterCount);

// Working space of the GEM loop, kept by callers that segment region after region so that its
// arrays of the region's size are not allocated and faulted in again for every run.
struct KClusteringScratch {
  std::vector<double> means;
  std::vector<double> transition;
  std::vector<double> evidence;
  std::vector<double> beliefs;
  std::vector<int> labels;
  std::vector<int> bestLabels;

  // Makes room for `nodes` nodes and up to K clusters.
  void reserve(std::size_t nodes, int K);
};

// The same with a belief propagation whose graph and message storage are already prepared, so
// that repeated runs over several cluster counts share them.
void kclustering_lbp_fixed_cluster_number(std::vector<int> &clusterLabels,
                                          std::vector<double> &nodeValues, double &gvrc,
                                          BeliefPropagation &propagation,
                                          const std::vector<double> &features, double beta,
                                          int gemIterations, int lbpIterations, int clusterCount,
                                          KClusteringScratch &scratch);
