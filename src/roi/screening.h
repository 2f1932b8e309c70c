#pragma once
// Candidate voxel screening: the per-voxel result arrays and the candidate set V of 1-based
// voxel ids, formed by the masking method of the settings.
#include <iosfwd>
#include <string>
#include <vector>

#include "roi/roi_settings.h"

class Samples;
class StudyView;

constexpr int kLabelOutside = -9;   // voxel outside the candidate set
constexpr int kLabelCandidate = -1; // candidate in no region
constexpr const char *kMaskFile = "mask.img";
constexpr const char *kNeighbourhoodFile = "nbhd_system.torva";

// labels = `voxels` times -9, voxelValues = `voxels` times -1.0.
void prepareResultArrays(std::vector<int> &labels, std::vector<double> &voxelValues, long voxels);

// The first `voxels` bytes of the raw mask at `path` into `bytes`. Returns an error message
// naming the file when it cannot be opened or holds fewer bytes than voxels, else "".
std::string readMaskFile(const char *path, long voxels, std::vector<signed char> &bytes);

// Refusal of a fixed cluster count the study cannot hold: above the node count (voxels + 1),
// or needing more memory than the machine has to segment `candidates` voxels. "" otherwise.
std::string segmentationCountProblem(int segmentationCount, long voxels, long candidates);

// Refusal of a neighbourhood file that a neighborhoodType other than 0 needs but that is
// missing, not a regular file or unreadable; "" otherwise (and for type 0).
std::string neighbourhoodFileProblem(int neighborhoodType);

// Forms V (ascending ids) and marks its voxels -1 in `labels`, writing the method's progress
// line on `out`. Ends the process on a mask, norm threshold, cluster count or neighbourhood
// file that cannot be used (status 1) and on an empty set (status -2).
void formCandidateSet(std::vector<int> &V, std::vector<int> &labels, const Samples &study,
                      const RoiSettings &settings, std::ostream &out);
void formCandidateSet(std::vector<int> &V, std::vector<int> &labels, const StudyView &study,
                      const RoiSettings &settings, std::ostream &out);
