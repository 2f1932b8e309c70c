#include "roi/overlap_note.h"

#include "roi/roi_settings.h"

namespace {

const char *const kSharedLesionAdvice =
    "regions can only be found where that many subjects share a lesion, for example in a "
    "subgroup with lesions in one territory";

// "a fifth" for the default share, else the share as the settings echo writes it.
std::string shareOfCases(double share) {
  if (share == kDefaultRepresentativeShare)
    return "a fifth";
  return shareText(share) + " (" + kRepresentativeShareLabel + ")";
}

// The advice's end: how to let the largest overlap pass, and what that costs.
std::string smallerShareAdvice(long largestOverlap, long subjects) {
  const std::string below = largestPassingShare(largestOverlap, subjects);
  if (below.empty())
    return "; no candidate voxel is lesioned in any subject";
  return ", or with a smaller share: set " + std::string(kRepresentativeShareLabel) + " below " +
         below + " in " + kConfigurationFile +
         " to let the largest overlap pass (each representative voxel then stands for fewer "
         "subjects)";
}

} // namespace

std::string largestPassingShare(long overlap, long subjects) {
  if (overlap <= 0 || subjects <= 0)
    return std::string();
  // Whole-number arithmetic, so that the printed digits never round up past overlap / subjects.
  const long long whole = static_cast<long long>(overlap);
  long long scale = 1000;
  int decimals = 3;
  while (whole * scale / subjects == 0) {
    scale *= 10;
    ++decimals;
  }
  const long long digits = whole * scale / subjects;
  std::string fraction = std::to_string(digits % scale);
  fraction.insert(0, static_cast<std::size_t>(decimals) - fraction.size(), '0');
  return std::to_string(digits / scale) + "." + fraction;
}

std::string noRegionNote(long largestOverlap, long subjects, long cases, double share) {
  return "note: no region can be found: the largest lesion overlap is " +
         std::to_string(largestOverlap) + " of " + std::to_string(subjects) +
         " subjects, and a representative voxel must be lesioned in more than " +
         shareOfCases(share) + " of the " + std::to_string(cases) +
         " subjects of each iteration, at least " +
         std::to_string(normTestBound(cases, share) + 1) + "; " + kSharedLesionAdvice +
         smallerShareAdvice(largestOverlap, subjects) + "\n";
}

std::string fewOverlapsWarning(long largestOverlap, long subjects) {
  return "no voxel is lesioned in more than a fifth of the " + std::to_string(subjects) +
         " subjects: the largest lesion overlap is " + std::to_string(largestOverlap) +
         ", and a representative voxel must be lesioned in at least " +
         std::to_string(normTestBound(subjects, kDefaultRepresentativeShare) + 1) + "; " +
         kSharedLesionAdvice + smallerShareAdvice(largestOverlap, subjects);
}
