#pragma once
// A lesion-like example study: a brain-shaped mask, one to three smooth blob lesions per subject
// clustered in one vascular territory of mostly one hemisphere, and an outcome driven by the
// lesion load of one planted parcel. The anatomy is laid out on the 91 x 109 x 91 (2 mm) grid and
// stretched onto any other grid, so a 181 x 217 x 181 (1 mm) study has the same anatomy in mm and
// about 8 times the voxel counts.
#include <array>
#include <functional>
#include <string>
#include <vector>

namespace lesionlike {

struct Grid {
  int x = 91;
  int y = 109;
  int z = 91;
  long voxels() const { return static_cast<long>(x) * y * z; }
  long index(int i, int j, int k) const {
    return i + static_cast<long>(x) * (j + static_cast<long>(y) * k);
  }
};

// How a study's lesions spread over the brain. The territory cohort (the defaults) recruits
// from one vascular territory of mostly one hemisphere, with a third of the lesions near its
// core: overlaps of 40 % of the subjects. The wide cohort is a large stroke cohort recruited
// regardless of site: both hemispheres, no preferred core, smaller lesions, so that its largest
// overlap stays near 15 % of the subjects, as in a public cohort of 618 (at 2 mm with 618
// subjects: 14 %, 52,000 voxels lesioned in more than 5 % of them, 5,400 in more than 10 %).
struct Cohort {
  double dominantShare = 0.96;   // subjects lesioned on the dominant side
  double coreShare = 0.33;       // of the dominant side's main lesions, those near the core
  double otherSpread = 0.3;      // spread of the other side's main lesions, of the territory's
  double otherShrink = 0.7;      // the other side's territory against the dominant one
  double medianVolume = 11000.0; // lesion volume in 2 mm voxels (88 ml)
};
Cohort wideCohort();

struct StudyShape {
  std::string out;       // folder for the images, the file list and regions.txt
  std::string extension; // "nii" or "hdr" (header/image pair)
  int subjects = 131;
  Grid grid;
  unsigned seed = 1;
  Cohort cohort;
};

// Writes one subject's map (one 0/1 state per voxel, x fastest) to `path`.
using ImageWriter =
    std::function<void(const std::string &path, const std::vector<unsigned char> &states)>;

// The figures printed after generation, for comparison with real stroke studies.
struct StudyFigures {
  long medianVolume = 0; // lesioned voxels per subject
  long minVolume = 0;
  long maxVolume = 0;
  long hitAtLeastOnce = 0; // voxels lesioned in at least one subject
  int largestOverlap = 0;  // subjects sharing the most-hit voxel
  // Voxels lesioned in more than int(n * share) of the n subjects, for each of kFigureShares:
  // those that a representativeShare of that size lets pass the norm test.
  std::array<long, 3> overShares{};
};
constexpr std::array<double, 3> kFigureShares = {0.05, 0.1, 0.2};

// 1 inside the brain, 0 outside; never touches the grid's faces.
std::vector<unsigned char> brainMask(const Grid &grid);

// 1 for the voxels of the planted parcel whose lesion load drives the outcome.
std::vector<unsigned char> parcelMask(const Grid &grid);

// `hits` holds per voxel the number of subjects lesioned there.
StudyFigures summarize(std::vector<long> volumes, const std::vector<unsigned short> &hits);

// Outcome 1 for the subjects whose score lies above the median score: half the study (the lower
// half when the count is odd), ties broken by subject order.
std::vector<int> outcomesAboveMedian(const std::vector<double> &scores);

// Generates the study into shape.out: images through `write`, "torva.prj.filelist" and
// "regions.txt" (the parcel's 1-based voxel ids). Prints the study's figures on standard output.
// Returns the process status: 0, or 1 when a file cannot be written.
int writeLesionLikeStudy(const StudyShape &shape, const ImageWriter &write);

} // namespace lesionlike
