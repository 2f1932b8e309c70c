#include "roi/roi_settings.h"

#include <gtest/gtest.h>

#include <sstream>

#include "support/temp_dir.h"

namespace {

RoiSettings parse(const std::string &text) {
  RoiSettings settings;
  std::istringstream in(text);
  parseRoiSettings(in, settings);
  return settings;
}

std::string echo(const RoiSettings &settings) {
  std::ostringstream out;
  echoRoiSettings(settings, out);
  return out.str();
}

// The warning lines of an echo, in order.
std::string warnings(const RoiSettings &settings) {
  std::istringstream lines(echo(settings));
  std::string line;
  std::string found;
  while (std::getline(lines, line))
    if (line.rfind("Warning:", 0) == 0)
      found += line + "\n";
  return found;
}

std::string warningFor(const char *name) {
  return std::string("Warning: the value of ") + name +
         " is not in the typical range. Please check\n";
}

} // namespace

TEST(RoiSettingsParse, NinePositionalPairsWithArbitraryLabels) {
  const RoiSettings s = parse("a 99\nb 1.5e-1 c 2.5\nd 7 e 3 f 4 g -2 h 1 i 1\n");
  EXPECT_EQ(s.maskMethod, 99);
  EXPECT_DOUBLE_EQ(s.normThreshold, 0.15);
  EXPECT_DOUBLE_EQ(s.beta, 2.5);
  EXPECT_EQ(s.T_gem, 7);
  EXPECT_EQ(s.T_lbp, 3);
  EXPECT_EQ(s.Max_ROI, 4);
  EXPECT_EQ(s.segmentationCount, -2);
  EXPECT_EQ(s.neighborhoodType, 1);
  EXPECT_EQ(s.verbose, 1);
}

TEST(RoiSettingsParse, OnePairLeavesTheOtherDefaults) {
  const RoiSettings s = parse("masking -1");
  EXPECT_EQ(s.maskMethod, -1);
  EXPECT_EQ(s.Max_ROI, 3);
  EXPECT_EQ(echo(s).substr(echo(s).size() - 15), "Don't use mask\n");
}

TEST(RoiSettingsParse, FileEndingBeforeTheFirstValueKeepsNoMask) {
  EXPECT_EQ(parse("").maskMethod, -1);
  EXPECT_EQ(parse("onlyALabel").maskMethod, -1);
}

TEST(RoiSettingsParse, StopsAtTheFirstValueThatIsNotWhollyANumberOfItsKind) {
  // "1.5" is no integer: T_gem and every later setting keep their defaults, and ".5" is not
  // taken for anything.
  RoiSettings s = parse("m 0 t 0.3 b 2 g 1.5 l 9 r 1");
  EXPECT_EQ(s.maskMethod, 0);
  EXPECT_DOUBLE_EQ(s.beta, 2.0);
  EXPECT_EQ(s.T_gem, 5);
  EXPECT_EQ(s.T_lbp, 5);
  EXPECT_EQ(s.Max_ROI, 3);
  s = parse("m 1 t abc b 2");
  EXPECT_EQ(s.maskMethod, 1);
  EXPECT_DOUBLE_EQ(s.normThreshold, 0.2);
  EXPECT_DOUBLE_EQ(s.beta, 1.0);
}

TEST(RoiSettingsParse, TokenKinds) {
  int i = 0;
  double d = 0;
  EXPECT_TRUE(parseIntToken("+12", i));
  EXPECT_EQ(i, 12);
  EXPECT_TRUE(parseIntToken("-2147483648", i));
  EXPECT_EQ(i, -2147483648);
  EXPECT_FALSE(parseIntToken("2147483648", i));
  EXPECT_FALSE(parseIntToken("1e3", i));
  EXPECT_FALSE(parseIntToken("-", i));
  EXPECT_FALSE(parseIntToken("12a", i));
  EXPECT_TRUE(parseDoubleToken("5.", d));
  EXPECT_DOUBLE_EQ(d, 5.0);
  EXPECT_TRUE(parseDoubleToken("-.5E+2", d));
  EXPECT_DOUBLE_EQ(d, -50.0);
  EXPECT_FALSE(parseDoubleToken(".", d));
  EXPECT_FALSE(parseDoubleToken("1e", d));
  EXPECT_FALSE(parseDoubleToken("nan", d));
  EXPECT_FALSE(parseDoubleToken("inf", d));
  EXPECT_FALSE(parseDoubleToken("0x10", d));
  EXPECT_FALSE(parseDoubleToken("1e999", d));
}

TEST(RoiSettingsRead, AbsentFileGivesTheNoticeAndTheAllZeroScreening) {
  testsupport::ScopedTempDir dir;
  RoiSettings s;
  s.beta = 7;
  std::ostringstream out;
  EXPECT_EQ(readRoiSettings(s, out), "");
  echoRoiSettings(s, out);
  EXPECT_EQ(out.str(), "No TORVA configuration file, use default value\n"
                       "Setting\n"
                       "Beta= 1\n"
                       "T_gem= 5\n"
                       "T_lbp= 5\n"
                       "Max_ROI= 3\n"
                       "Number of segmentations in the candidate set: forward selection based "
                       "on GVRC\n"
                       "Neighborhood type: second-order lattice\n"
                       "Verbose: No\n"
                       "Use mask\n");
  EXPECT_EQ(s.maskMethod, 0);
}

TEST(RoiSettingsRead, FileValuesReplaceTheDefaults) {
  testsupport::ScopedTempDir dir;
  testsupport::writeFile("torva.configure", "x 1 x 0.5 x 0.25 x 2 x 3 x 1 x 4 x 1 x 1\n");
  RoiSettings s;
  std::ostringstream out;
  EXPECT_EQ(readRoiSettings(s, out), "");
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(s.maskMethod, 1);
  EXPECT_DOUBLE_EQ(s.normThreshold, 0.5);
  EXPECT_EQ(s.verbose, 1);
  EXPECT_EQ(echo(s), "Setting\n"
                     "Beta= 0.25\n"
                     "T_gem= 2\n"
                     "T_lbp= 3\n"
                     "Max_ROI= 1\n"
                     "Number of segmentations in the candidate set: 4\n"
                     "Neighborhood type: specified by file\n"
                     "Verbose: Yes\n"
                     "Use mask\n");
}

TEST(RoiSettingsRead, MaxRoiAboveTwentyIsRefusedTwentyIsKept) {
  testsupport::ScopedTempDir dir;
  RoiSettings s;
  std::ostringstream out;
  testsupport::writeFile("torva.configure", "a -1 b 0.2 c 1 d 5 e 5 f 21");
  const std::string error = readRoiSettings(s, out);
  EXPECT_NE(error.find("torva.configure"), std::string::npos);
  EXPECT_NE(error.find("21"), std::string::npos);
  testsupport::writeFile("torva.configure", "a -1 b 0.2 c 1 d 5 e 5 f 20");
  EXPECT_EQ(readRoiSettings(s, out), "");
  EXPECT_EQ(s.Max_ROI, 20);
  EXPECT_EQ(warnings(s), warningFor("max_ROI"));
}

TEST(RoiSettingsEcho, SegmentationCountTexts) {
  RoiSettings s;
  s.segmentationCount = -2;
  EXPECT_NE(echo(s).find("candidate set: find best GVRC for r=[2, 8]\n"), std::string::npos);
  s.segmentationCount = 4;
  EXPECT_NE(echo(s).find("candidate set: 4\n"), std::string::npos);
  s.segmentationCount = -3;
  EXPECT_NE(echo(s).find("candidate set: -3\n"), std::string::npos);
}

TEST(RoiSettingsEcho, UnknownMaskMethodsStillSayUseMask) {
  RoiSettings s;
  s.maskMethod = 5;
  EXPECT_EQ(echo(s).substr(echo(s).size() - 9), "Use mask\n");
}

struct RangeCase {
  const char *id;
  const char *name;
  void (*apply)(RoiSettings &);
  bool warns;
};

void PrintTo(const RangeCase &c, std::ostream *os) { *os << c.id; }

class RoiSettingsRange : public ::testing::TestWithParam<RangeCase> {};

TEST_P(RoiSettingsRange, EachValueOutsideItsTypicalRangeGivesExactlyItsOwnWarning) {
  RoiSettings s;
  GetParam().apply(s);
  EXPECT_EQ(warnings(s), GetParam().warns ? warningFor(GetParam().name) : "");
}

INSTANTIATE_TEST_SUITE_P(
    Bounds, RoiSettingsRange,
    ::testing::Values(
        RangeCase{"Tgem31", "T_gem", [](RoiSettings &s) { s.T_gem = 31; }, true},
        RangeCase{"Tgem30", "T_gem", [](RoiSettings &s) { s.T_gem = 30; }, false},
        RangeCase{"TgemMinus1", "T_gem", [](RoiSettings &s) { s.T_gem = -1; }, true},
        RangeCase{"Tlbp11", "T_lbp", [](RoiSettings &s) { s.T_lbp = 11; }, true},
        RangeCase{"Tlbp10", "T_lbp", [](RoiSettings &s) { s.T_lbp = 10; }, false},
        RangeCase{"MaxROI6", "max_ROI", [](RoiSettings &s) { s.Max_ROI = 6; }, true},
        RangeCase{"MaxROIMinus1", "max_ROI", [](RoiSettings &s) { s.Max_ROI = -1; }, true},
        RangeCase{"MaxROI5", "max_ROI", [](RoiSettings &s) { s.Max_ROI = 5; }, false},
        RangeCase{"MaxROI0", "max_ROI", [](RoiSettings &s) { s.Max_ROI = 0; }, false},
        RangeCase{"betaMinus0p5", "beta", [](RoiSettings &s) { s.beta = -0.5; }, true},
        RangeCase{"beta100p5", "beta", [](RoiSettings &s) { s.beta = 100.5; }, true},
        RangeCase{"beta100", "beta", [](RoiSettings &s) { s.beta = 100; }, false},
        RangeCase{"beta0", "beta", [](RoiSettings &s) { s.beta = 0; }, false}),
    [](const ::testing::TestParamInfo<RangeCase> &info) { return std::string(info.param.id); });

TEST(RoiSettingsEcho, WarningsComeInTheirOrderBeforeTheMaskLine) {
  RoiSettings s;
  s.beta = 101;
  s.Max_ROI = 9;
  const std::string text = echo(s);
  const std::string expected = warningFor("beta") + warningFor("max_ROI") + "Don't use mask\n";
  EXPECT_EQ(text.substr(text.size() - expected.size()), expected);
}

// --- representativeShare, the optional tenth pair ---------------------------------------------

namespace {

const char *const kNinePairs = "a 0 b 0.2 c 1 d 5 e 5 f 3 g -1 h 0 i 0 ";

// The refusal of a configuration file holding `text`, "" when it is accepted.
std::string refusalOf(const std::string &text) {
  testsupport::ScopedTempDir dir;
  testsupport::writeFile("torva.configure", text);
  RoiSettings s;
  std::ostringstream out;
  return readRoiSettings(s, out);
}

} // namespace

TEST(RepresentativeShare, ReadOnlyAsTheTenthPairUnderItsExactLabel) {
  RoiSettings s = parse(std::string(kNinePairs) + "representativeShare 0.1");
  EXPECT_TRUE(s.representativeShareGiven);
  EXPECT_EQ(s.representativeShare, 0.1);
  EXPECT_EQ(settingsProblem(s), "");
  // Without the pair, with another label, or with the label in another case: the default, and
  // the tokens stay ignored as before.
  for (const std::string &rest : {std::string(""), std::string("share 0.1"),
                                  std::string("RepresentativeShare 0.1"), std::string("x")}) {
    s = parse(kNinePairs + rest);
    EXPECT_FALSE(s.representativeShareGiven) << rest;
    EXPECT_EQ(s.representativeShare, 0.2) << rest;
    EXPECT_EQ(settingsProblem(s), "") << rest;
  }
  // The positional pairs keep their meaning: a pair that stops the reading earlier leaves the
  // label unread, as are pairs after the tenth.
  s = parse("a 0 b 0.2 c 1 d x representativeShare 0.1");
  EXPECT_FALSE(s.representativeShareGiven);
  s = parse("a 0 b 0.2 c 1 d 5 e 5 f 3 g -1 h 0 representativeShare 0.1");
  EXPECT_FALSE(s.representativeShareGiven); // it stands where verbose's value belongs
  s = parse(std::string(kNinePairs) + "representativeShare 0.3 representativeShare 0.4");
  EXPECT_EQ(s.representativeShare, 0.3);
  EXPECT_EQ(s.verbose, 0);
}

TEST(RepresentativeShare, ValuesThatAreNoShareAreRefusedNamingFileSettingAndValue) {
  for (const char *value : {"0", "1", "-0.1", "1.5", "text", "nan", "inf", "1e999", "0x0.1"}) {
    const std::string error = refusalOf(std::string(kNinePairs) + "representativeShare " + value);
    EXPECT_EQ(error, std::string("torva.configure: representativeShare ") + value +
                         " is not a number strictly between 0 and 1; it is the share of the "
                         "subjects a representative voxel must be lesioned in more than (default "
                         "0.2)\n");
  }
  EXPECT_EQ(refusalOf(std::string(kNinePairs) + "representativeShare"),
            "torva.configure: representativeShare has no value; it is the share of the subjects "
            "a representative voxel must be lesioned in more than (default 0.2)\n");
  for (const char *value : {"0.5", "1e-3", "0.999999", ".05"})
    EXPECT_EQ(refusalOf(std::string(kNinePairs) + "representativeShare " + value), "") << value;
}

// The echo gains one line only when the pair is given; the shortest text that reads back.
TEST(RepresentativeShare, EchoLineOnlyWhenGiven) {
  const RoiSettings none = parse(kNinePairs);
  const RoiSettings fifth = parse(std::string(kNinePairs) + "representativeShare 0.2");
  EXPECT_EQ(echo(none).find("representativeShare"), std::string::npos);
  std::string withoutLine = echo(fifth);
  const std::string line = "representativeShare= 0.2\n";
  const std::size_t at = withoutLine.find("Verbose: No\n" + line);
  ASSERT_NE(at, std::string::npos) << echo(fifth);
  withoutLine.erase(at + 12, line.size());
  EXPECT_EQ(withoutLine, echo(none));
  EXPECT_NE(echo(parse(std::string(kNinePairs) + "representativeShare 1.55e-1"))
                .find("representativeShare= 0.155\n"),
            std::string::npos);
  EXPECT_EQ(shareText(0.1), "0.1");
  EXPECT_EQ(shareText(0.12345678901234), "0.12345678901234");
  EXPECT_EQ(std::stod(shareText(1.0 / 3.0)), 1.0 / 3.0);
}
