#include "roi/overlap_note.h"

namespace {

const char *const kSharedLesionAdvice =
    "regions can only be found where that many subjects share a lesion, for example in a "
    "subgroup with lesions in one territory";

} // namespace

long normTestBound(long cases) { return static_cast<long>(cases * 0.2); }

std::string noRegionNote(long largestOverlap, long subjects, long cases) {
  return "note: no region can be found: the largest lesion overlap is " +
         std::to_string(largestOverlap) + " of " + std::to_string(subjects) +
         " subjects, and a representative voxel must be lesioned in more than a fifth of the " +
         std::to_string(cases) + " subjects of each iteration, at least " +
         std::to_string(normTestBound(cases) + 1) + "; " + kSharedLesionAdvice + "\n";
}

std::string fewOverlapsWarning(long largestOverlap, long subjects) {
  return "no voxel is lesioned in more than a fifth of the " + std::to_string(subjects) +
         " subjects: the largest lesion overlap is " + std::to_string(largestOverlap) +
         ", and a representative voxel must be lesioned in at least " +
         std::to_string(normTestBound(subjects) + 1) + "; " + kSharedLesionAdvice;
}
