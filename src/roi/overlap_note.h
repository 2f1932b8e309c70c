#pragma once
// Why a study yields no region. A representative voxel must be lesioned (in state 1) in more
// than a fifth of an iteration's cases, so a study whose lesions overlap less than that has no
// voxel that can ever be chosen, however strongly the lesions predict the outcome. These texts
// tell the user so, from the analysis and from the preparation of a study.
#include <string>

// The count a representative voxel's cases in state 1 must exceed among `cases` cases: the
// integer part of cases * 0.2.
long normTestBound(long cases);

// The line the analysis adds to standard error when no iteration could choose a voxel in its
// first round: the study's largest lesion overlap of `subjects`, and what a voxel needs among
// the `cases` cases of each iteration.
std::string noRegionNote(long largestOverlap, long subjects, long cases);

// The warning of a preparation in which no voxel is lesioned in more than a fifth of the
// `subjects`; `largestOverlap` is the most subjects any voxel is lesioned in.
std::string fewOverlapsWarning(long largestOverlap, long subjects);
