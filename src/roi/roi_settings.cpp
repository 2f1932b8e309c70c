#include "roi/roi_settings.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <istream>
#include <ostream>
#include <sys/stat.h>
#include <utility>

#include "util/file_checks.h"
#include "util/whole_number.h"

namespace {

bool isDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

// Position after a run of digits starting at `i`.
std::size_t skipDigits(const std::string &s, std::size_t i) {
  while (i < s.size() && isDigit(s[i]))
    ++i;
  return i;
}

// [+-]? (digits [. digits?] | . digits) ([eE] [+-]? digits)?
bool isDecimalNumber(const std::string &s) {
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-'))
    ++i;
  const std::size_t intStart = i;
  i = skipDigits(s, i);
  bool digits = i > intStart;
  if (i < s.size() && s[i] == '.') {
    const std::size_t fracStart = ++i;
    i = skipDigits(s, i);
    digits = digits || i > fracStart;
  }
  if (!digits)
    return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
      ++i;
    const std::size_t expStart = i;
    i = skipDigits(s, i);
    if (i == expStart)
      return false;
  }
  return i == s.size();
}

// The next label and value tokens; false at the end of input.
bool nextPair(std::istream &in, std::string &value) {
  std::string label;
  return static_cast<bool>(in >> label >> value);
}

bool readInt(std::istream &in, int &setting) {
  std::string token;
  int value = 0;
  if (!nextPair(in, token) || !parseIntToken(token, value))
    return false;
  setting = value;
  return true;
}

bool readDouble(std::istream &in, double &setting) {
  std::string token;
  double value = 0;
  if (!nextPair(in, token) || !parseDoubleToken(token, value))
    return false;
  setting = value;
  return true;
}

// A share the norm test can use: a number strictly between 0 and 1.
bool shareOf(const std::string &token, double &share) {
  double value = 0;
  if (!parseDoubleToken(token, value) || !(value > 0 && value < 1))
    return false;
  share = value;
  return true;
}

// The optional tenth pair: only under its exact label, so that files whose tokens after the
// ninth value were free text keep their meaning. A value that is no share is kept as written
// for settingsProblem to refuse.
void readShare(std::istream &in, RoiSettings &settings) {
  std::string label;
  if (!(in >> label) || label != kRepresentativeShareLabel)
    return;
  settings.representativeShareGiven = true;
  in >> settings.representativeShareToken;
  shareOf(settings.representativeShareToken, settings.representativeShare);
}

const char *segmentationCountText(int count) {
  if (count == -1)
    return "forward selection based on GVRC";
  if (count == -2)
    return "find best GVRC for r=[2, 8]";
  return nullptr;
}

void warnOutsideRange(bool outside, const char *name, std::ostream &out) {
  if (outside)
    out << "Warning: the value of " << name << " is not in the typical range. Please check\n";
}

} // namespace

long normTestBound(long cases, double share) {
  return static_cast<long>(static_cast<double>(cases) * share);
}

std::string shareText(double share) {
  char text[32];
  for (int digits = 1; digits < 17; ++digits) {
    std::snprintf(text, sizeof text, "%.*g", digits, share);
    if (std::strtod(text, nullptr) == share)
      return text;
  }
  std::snprintf(text, sizeof text, "%.17g", share);
  return text;
}

bool parseIntToken(const std::string &token, int &value) {
  long long parsed = 0;
  if (parseWholeNumber(token, INT_MIN, INT_MAX, parsed) != WholeNumber::Ok)
    return false;
  value = static_cast<int>(parsed);
  return true;
}

bool parseDoubleToken(const std::string &token, double &value) {
  if (!isDecimalNumber(token))
    return false;
  const double parsed = std::strtod(token.c_str(), nullptr);
  if (std::isinf(parsed))
    return false;
  value = parsed;
  return true;
}

void parseRoiSettings(std::istream &in, RoiSettings &s) {
  // Positions alone give the meaning; the first unreadable value stops the reading.
  if (readInt(in, s.maskMethod) && readDouble(in, s.normThreshold) && readDouble(in, s.beta) &&
      readInt(in, s.T_gem) && readInt(in, s.T_lbp) && readInt(in, s.Max_ROI) &&
      readInt(in, s.segmentationCount) && readInt(in, s.neighborhoodType) && readInt(in, s.verbose))
    readShare(in, s);
}

std::string readRoiSettings(RoiSettings &settings, std::ostream &out) {
  settings = RoiSettings();
  // Only a file that is not there means "use the defaults"; one that is there but cannot be
  // read would silently run other settings than the user wrote.
  struct stat info {};
  if (::stat(kConfigurationFile, &info) != 0 && errno == ENOENT) {
    out << "No TORVA configuration file, use default value\n";
    settings.maskMethod = 0;
  } else {
    // Checked before opening: a FIFO in its place would block the reader.
    std::string problem = torva::inputFileProblem(kConfigurationFile, "settings file");
    std::ifstream in;
    if (problem.empty()) {
      in.open(kConfigurationFile);
      if (!in)
        problem = std::string("settings file ") + kConfigurationFile + " cannot be read";
    }
    if (!problem.empty())
      return problem + "; remove it to run with the default settings\n";
    parseRoiSettings(in, settings);
  }
  return settingsProblem(settings);
}

std::string settingsProblem(const RoiSettings &settings) {
  const std::string file = kConfigurationFile;
  if (settings.Max_ROI > kMaxRoiLimit)
    return file + ": Max_ROI " + std::to_string(settings.Max_ROI) + " is more than " +
           std::to_string(kMaxRoiLimit) + ", the number of regions a model record can hold\n";
  for (const auto &[name, value] : {std::pair<const char *, int>{"T_gem", settings.T_gem},
                                    std::pair<const char *, int>{"T_lbp", settings.T_lbp}}) {
    if (value > kMaxLoopSetting)
      return file + ": " + name + " " + std::to_string(value) + " is more than " +
             std::to_string(kMaxLoopSetting) +
             "; the segmentation would not finish in a day (typical values are 5 to 30)\n";
  }
  double share = 0;
  if (settings.representativeShareGiven && !shareOf(settings.representativeShareToken, share))
    return file + ": " + kRepresentativeShareLabel + " " +
           (settings.representativeShareToken.empty()
                ? std::string("has no value")
                : settings.representativeShareToken + " is not a number strictly between "
                                                      "0 and 1") +
           "; it is the share of the subjects a representative voxel must be lesioned in more "
           "than (default 0.2)\n";
  return std::string();
}

void echoRoiSettings(const RoiSettings &s, std::ostream &out) {
  out << "Setting\n";
  out << "Beta= " << s.beta << '\n';
  out << "T_gem= " << s.T_gem << '\n';
  out << "T_lbp= " << s.T_lbp << '\n';
  out << "Max_ROI= " << s.Max_ROI << '\n';
  out << "Number of segmentations in the candidate set: ";
  if (const char *text = segmentationCountText(s.segmentationCount))
    out << text << '\n';
  else
    out << s.segmentationCount << '\n';
  out << "Neighborhood type: "
      << (s.neighborhoodType == 0 ? "second-order lattice" : "specified by file") << '\n';
  out << "Verbose: " << (s.verbose != 0 ? "Yes" : "No") << '\n';
  if (s.representativeShareGiven)
    out << kRepresentativeShareLabel << "= " << shareText(s.representativeShare) << '\n';
  warnOutsideRange(s.beta < 0 || s.beta > 100, "beta", out);
  warnOutsideRange(s.T_gem < 0 || s.T_gem > 30, "T_gem", out);
  warnOutsideRange(s.T_lbp < 0 || s.T_lbp > 10, "T_lbp", out);
  warnOutsideRange(s.Max_ROI < 0 || s.Max_ROI > 5, "max_ROI", out);
  out << (s.maskMethod == -1 ? "Don't use mask" : "Use mask") << '\n';
}
