#pragma once
// The segmentation entry point of a region search round: turns every voxel of the segmentation
// set into its similarity to the representative, builds the neighbourhood system, picks the
// number of clusters by GVRC, and returns the cluster that holds the representative.
#include <vector>

#include "data/samples.h"
#include "data/study_view.h"

// region: the candidates labelled as the representative, in candidate order, then the
// representative; regionValues: their similarities (the representative's is 1.0).
// segmentationCount >= 2 fixes the cluster count, -2 takes the best GVRC of 2..7, any other
// value selects forward by GVRC (2, 3, ... while it strictly rises; at most 8 accepted).
// neighborhoodType 0 takes the lattice, any other value "nbhd_system.torva". verbose is
// accepted for the callers and unused. Appends the region's mean and standard deviation of
// similarity to "log.torva".
void clustering_lbp_new(std::vector<int> &region, std::vector<double> &regionValues,
                        const std::vector<int> &candidates, int representative,
                        const Samples &samples, double beta, int T_gem, int T_lbp,
                        int segmentationCount, int neighborhoodType, int verbose);

// The same on features computed by the caller: `s` holds the similarity of every candidate, in
// order, then 1.0 for the representative; `dims` are the volume extents. The voxel ids must
// already be checked (check_voxel_ids).
void clustering_lbp_features(std::vector<int> &region, std::vector<double> &regionValues,
                             const std::vector<int> &candidates, int representative,
                             const std::vector<int> &dims, const std::vector<double> &s,
                             double beta, int T_gem, int T_lbp, int segmentationCount,
                             int neighborhoodType, int verbose);

// s_n = 1 - D_n / cases, D_n = sum over cases of (state_n - state_rep)^2; the candidates in
// order, then 1.0 for the representative. For two-state data s_n is the fraction of cases in
// which the voxel agrees with the representative. A voxel without a column in `samples` gets
// the matrix's out-of-bound report and NaN (every candidate, if it is the representative).
void compute_smap_kclustering(std::vector<double> &s, int representative,
                              const std::vector<int> &candidates, const Samples &samples);

// The same similarities over an iteration's view of a study decoded once (two-state data: the
// squared differences are the cases in which the two voxels differ).
void compute_smap_kclustering(std::vector<double> &s, int representative,
                              const std::vector<int> &candidates, const StudyView &view);
