#pragma once
// The region-of-interest learner of one resampling iteration. Per search round it picks the
// candidate voxel whose addition as a parent of the function variable raises the function
// variable's K2 score most (the representative voxel), grows a region around it by
// segmentation, labels the region with the round number and removes it from the candidates.
// It ends with a network in which every representative voxel is a parent of the function
// variable, fitted on the study.
#include <vector>

#include "roi/roi_settings.h"

class BN;
class Samples;
class StudyView;

// Which evaluator scores the candidates. Both give identical results; Plain recounts through
// the round matrix and the trial network, Packed counts bits of a voxel-major copy of the
// study (and falls back to Plain for a study that is not two-state).
enum class ScanRoute { Packed, Plain };

// Seconds spent in the candidate scans and in the segmentations of one call.
struct BmlTimes {
  double screening = 0;
  double scan = 0;
  double segmentation = 0;
};

// What round 1 offered the norm test when it chose no representative voxel, so that a run in
// which no iteration can choose one is able to say why: the most cases, and the most of the
// study's subjects (each counted once), in which a candidate voxel is in state 1, and the count
// a representative voxel must exceed (normTestBound of the cases and the share). `measured`
// stays false when round 1 chose a voxel.
struct RoundOneOverlap {
  bool measured = false;
  long largestInCases = 0;
  long largestInSubjects = 0;
  long normBound = 0;
  long cases = 0;
  double share = kDefaultRepresentativeShare; // the settings' representativeShare
};

// labels: per voxel -9 outside the candidate set, -1 candidate in no region, r for the region
// of round r. voxelValues: per voxel -1.0 or the region member's similarity to its
// representative. representatives: the representative voxel ids (1-based) in the order found.
// bn: replaced by the fitted region network. Reads "torva.configure" and "mask.img", rewrites
// "log.torva"; `samples` (X*Y*Z voxel nodes, then the function variable) is not modified.
void bml(const Samples &samples, std::vector<int> &labels, std::vector<double> &voxelValues, BN &bn,
         std::vector<int> &representatives);
void bml(const Samples &samples, std::vector<int> &labels, std::vector<double> &voxelValues, BN &bn,
         std::vector<int> &representatives, ScanRoute route, BmlTimes *times,
         RoundOneOverlap *overlap = nullptr);

// The same on one iteration's view of a study decoded once: the command's route. The results
// are those of the matrix route on the matrix the view stands for.
void bml(const StudyView &study, std::vector<int> &labels, std::vector<double> &voxelValues, BN &bn,
         std::vector<int> &representatives, BmlTimes *times, RoundOneOverlap *overlap = nullptr);
