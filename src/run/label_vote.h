#pragma once
// The consensus of the mode's member iterations: every member's label field votes, voxel by
// voxel, for "no region" or for one of the mode's regions.
#include <string>
#include <vector>

#include "data/img_io.h"
#include "results/label_runs.h"
#include "results/model_record.h"

class ResultTransaction;

// Per voxel v, regions + 1 counters at v * (regions + 1) + s: s = 0 counts the members in which
// v lies in no region, s >= 1 those in which v lies in the mode's region s.
struct VoteTable {
  int regions = 0;
  long voxels = 0;
  std::vector<int> counters;

  void reset(int regionCount, long voxelCount);
  int count(long v, int s) const { return counters[v * (regions + 1) + s]; }
};

// Region numbers of `member` translated to the mode's: toMode[r] is the mode's region whose
// representative voxel is the member's r-th one (toMode[0] = 0). A member holds the same set of
// voxels, possibly found in another order; false when it does not.
bool regionTranslation(const ModelRecord &member, const ModelRecord &mode,
                       std::vector<int> &toMode);

// Adds one vote per voxel of the first table.voxels labels of `iteration`'s label field: a label
// of 1 or more votes for toMode[label], anything below 1 for "no region". Returns an error
// naming the iteration when the field holds fewer labels than voxels or a label above the
// member's region count; the table is then incomplete and must not be used.
std::string addVotes(int iteration, const LabelRuns &runs, const std::vector<int> &toMode,
                     VoteTable &table);

// Consensus label per voxel: the smallest s with the largest count. Frequency: for a label s > 0
// the percentage (100 / members) * count(v, s), truncated; 0 for label 0.
void consensusLabels(const VoteTable &table, int members, std::vector<int> &labels,
                     std::vector<int> &frequencies);

// Contents of "roi.el.torva": "Rm V" then the labels, each followed by one blank.
std::string roiFileText(int regions, const std::vector<int> &labels);

// Writes the label and frequency maps as "label_field_torvael" and "prob_map_torvael", each as a
// .hdr/.img pair and as a .nii file, staged in `results` with their exact sizes. Ends the
// process (status 1) when a write fails.
void writeResultImages(const std::vector<int> &labels, const std::vector<int> &frequencies, int x,
                       int y, int z, const ImageGeometry &geometry, ResultTransaction &results);
