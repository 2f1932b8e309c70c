#pragma once
// The candidate scan of a search round: every voxel of V is tried as a further parent of the
// function variable, and the voxel of largest K2 gain that passes the norm and (in round 1)
// shape tests becomes the round's representative voxel.
//
// Two evaluators give the same numbers: MatrixEvaluator writes each candidate into the round
// matrix and recounts the trial network, the plain route; PackedEvaluator counts the same
// table with bit operations on a voxel-major copy of a two-state study, for whole-brain
// studies where the plain route strides across every case row once per voxel.
#include <algorithm>
#include <cstdint>
#include <iosfwd>
#include <vector>

#include "data/packed_study.h"
#include "data/study_view.h"
#include "roi/roi_settings.h"

class BN;
class Samples;

// Bests of a round: the chosen voxel id (-1 none), the best gain and the score kept for the
// tie-break (the chosen voxel's own K2 score).
struct RoundBest {
  int id = -1;
  double gain = 0.0;
  double score = -99999999999.0;
};

// Plain evaluation: select() copies the voxel's pattern into the candidate slot of the round
// matrix; the scores recount the trial network from it.
class MatrixEvaluator {
public:
  // `roundMatrix` holds round + 1 nodes (candidate slot round - 1, function variable last) and
  // `trial` the new graph over it.
  MatrixEvaluator(const Samples &study, Samples &roundMatrix, BN &trial, int round,
                  long functionNode);
  void select(int id);
  // K2 score of the function variable with the selected voxel in the candidate slot.
  double familyScore();
  // K2 score of the selected voxel's own states (the slot has no parents).
  double ownScore();
  int norm() const;
  int functionNorm() const;
  // Whether sum_c |fv_c - v_c| exceeds th.
  bool differsMoreThan(int th) const;
  // The selected voxel's cells in case order.
  void pattern(char *out) const { std::copy(candidate.begin(), candidate.end(), out); }

private:
  const Samples &study;
  Samples &roundMatrix;
  BN &trial;
  int slot;
  int functionSlot;
  int cases;
  std::vector<char> candidate;
  std::vector<char> function;
};

// Bit evaluation of the same table over a study view (data/study_view.h). Cases are grouped by
// the configuration b of the earlier representatives and the function variable state k; with
// the candidate as the slowest parent, N(b + Q s, k) is the number of cases of group (b, k) in
// which the candidate is in state s (Q = 2^(round - 1) configurations of the earlier
// representatives). A subject drawn several times counts through the view's bit-planes.
class PackedEvaluator {
public:
  PackedEvaluator(const StudyView &view, const std::vector<int> &representatives);
  void select(int id) {
    selected = id;
    candidate = view.subjects().node(id - 1);
  }
  double familyScore();
  double ownScore();
  int norm() const;
  int functionNorm() const;
  bool differsMoreThan(int th) const;
  // The selected voxel's cells in case order.
  void pattern(char *out) const { view.getOneNode(out, selected - 1); }

private:
  const StudyView &view;
  const std::uint64_t *function;
  const std::uint64_t *candidate = nullptr;
  int selected = 0;
  int words;
  int planes;
  int configurations; // Q
  std::vector<std::uint64_t>
      groups; // plane j of group (b, k) at ((b + k * Q) * planes + j) * words
  std::vector<long> groupSizes;
  std::vector<double> counts;
};

struct ScanRound {
  const std::vector<int> &V; // ascending candidate ids
  int round;
  long cases;
  double baseline; // K2 score of the function variable without the candidate
  double share = kDefaultRepresentativeShare; // of the norm test (RoiSettings)
};

// Scans V in ascending order: appends every voxel of positive gain to A and keeps the round's
// bests, writing "Id=" lines (and pattern lines for new best gains) on `out`.
void scanCandidates(MatrixEvaluator &evaluator, const ScanRound &round, std::vector<int> &A,
                    RoundBest &best, std::ostream &out);
void scanCandidates(PackedEvaluator &evaluator, const ScanRound &round, std::vector<int> &A,
                    RoundBest &best, std::ostream &out);

// Number of ids of V whose pattern equals that of voxel `id` in every case.
long countEqualPatterns(const Samples &study, const std::vector<int> &V, int id);
long countEqualPatterns(const StudyView &view, const std::vector<int> &V, int id);
