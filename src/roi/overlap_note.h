#pragma once
// Why a study yields no region. A representative voxel must be lesioned (in state 1) in more
// than int(n * representativeShare) of an iteration's n cases, a fifth by default, so a study
// whose lesions overlap less than that has no voxel that can ever be chosen, however strongly the
// lesions predict the outcome. These texts tell the user so, from the analysis and from the
// preparation of a study, and name the share that would let the largest overlap pass.
#include <string>

// The largest share that lets a voxel lesioned in `overlap` of `subjects` subjects pass the
// norm test: a share s passes it when subjects * s < overlap, so overlap / subjects rounded down
// to three decimals, or to the first decimal that is not 0 when those three are ("0.0004").
// "" when overlap is 0 (no share passes such a voxel).
std::string largestPassingShare(long overlap, long subjects);

// The line the analysis adds to standard error when no iteration could choose a voxel in its
// first round: the study's largest lesion overlap of `subjects`, what a voxel needs among the
// `cases` cases of each iteration under `share`, and the share that would let it pass.
std::string noRegionNote(long largestOverlap, long subjects, long cases, double share);

// The warning of a preparation in which no voxel is lesioned in more than a fifth of the
// `subjects` (the default share); `largestOverlap` is the most subjects any voxel is lesioned in.
std::string fewOverlapsWarning(long largestOverlap, long subjects);
