#pragma once
// Settings of the region learner, read anew by every call from the optional file
// "torva.configure": nine positional label/value pairs, labels skipped unread, and an optional
// tenth pair recognised by its label, representativeShare.
#include <iosfwd>
#include <string>

// The norm test's share when the file does not set it: a representative voxel must be in state 1
// in more than a fifth of the cases.
constexpr double kDefaultRepresentativeShare = 0.2;
constexpr const char *kRepresentativeShareLabel = "representativeShare";

struct RoiSettings {
  int maskMethod = -1; // -1 no mask, 0 drop all-zero voxels, 1 norm threshold, 99 "mask.img"
  double normThreshold = 0.2;
  double beta = 1.0;
  int T_gem = 5;
  int T_lbp = 5;
  int Max_ROI = 3;
  int segmentationCount = -1; // >= 2 fixed, -2 best GVRC over a range, else forward selection
  int neighborhoodType = 0;   // 0 second-order lattice, else "nbhd_system.torva"
  int verbose = 0;
  // The norm test of every search round: a representative voxel must be in state 1 in more
  // than int(n * representativeShare) of the n cases. Always a share strictly between 0 and 1;
  // a value given otherwise is kept as written in representativeShareToken and refused by
  // settingsProblem.
  double representativeShare = kDefaultRepresentativeShare;
  bool representativeShareGiven = false;
  std::string representativeShareToken;
};

// The count a representative voxel's cases in state 1 must exceed among `cases` cases: the
// integer part of cases * share, the product taken in double.
long normTestBound(long cases, double share);

// The shortest decimal text that reads back as `share` ("0.1", "0.155").
std::string shareText(double share);

// A model record keeps twenty representative voxel ids, so more search rounds cannot be stored.
constexpr int kMaxRoiLimit = 20;

// Largest T_gem and T_lbp: every GEM iteration runs T_lbp sweeps over the whole region, so
// larger values cannot finish in a day on a study of realistic size.
constexpr int kMaxLoopSetting = 10000;

constexpr const char *kConfigurationFile = "torva.configure";

// Reads label/value pairs in file order into `settings` until the first token that cannot be
// read: end of input, or a value that is not wholly a number of its setting's kind. Settings
// not reached keep their values. After the ninth value, a pair whose label is exactly
// "representativeShare" sets the share; any other tokens there are ignored.
void parseRoiSettings(std::istream &in, RoiSettings &settings);

// A whole token as a decimal int32 with optional sign.
bool parseIntToken(const std::string &token, int &value);
// A whole token as a finite double in decimal or exponent notation.
bool parseDoubleToken(const std::string &token, double &value);

// Settings of this call: the file's values over the defaults, or, without the file, the
// defaults with masking method 0 (and the notice on `out`). Returns an error message for a
// file that exists but cannot be read (a directory, no permission) or a value the program
// cannot use, else an empty string.
std::string readRoiSettings(RoiSettings &settings, std::ostream &out);

// The refusal of a value the program cannot use (Max_ROI above 20, T_gem or T_lbp above
// kMaxLoopSetting, a representativeShare that is not a number strictly between 0 and 1),
// naming the file, the setting and the value; "" when all are usable.
std::string settingsProblem(const RoiSettings &settings);

// The settings echo, range warnings and mask line, one line each; the share's line only when the
// file gave it, so that a run without it prints what it always printed.
void echoRoiSettings(const RoiSettings &settings, std::ostream &out);
