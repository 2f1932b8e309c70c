// torvacoreel-permute: its options, whole runs on a small study after the analysis, whose table
// and maps are held against the plain route of the test on the study as the test reads it, the
// same bytes for any thread count, and the refusals of results it cannot test.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "data/decoded_study.h"
#include "evidence/evidence_fixtures.h"
#include "evidence/permutation_test.h"
#include "permute/permute_options.h"
#include "support/nifti_image.h"
#include "support/temp_dir.h"

namespace {

using testsupport::readFile;
using testsupport::runCommand;

std::string parse(const std::vector<std::string> &args, PermuteOptions &options) {
  std::vector<std::string> full{"torvacoreel-permute"};
  full.insert(full.end(), args.begin(), args.end());
  return parsePermuteOptions(full, options);
}

TEST(PermuteOptions, DefaultsAndBothValueForms) {
  PermuteOptions o;
  ASSERT_EQ(parse({"list"}, o), "");
  EXPECT_EQ(o.permutations, 5000);
  EXPECT_EQ(o.seed, 1u);
  EXPECT_EQ(o.resultsDir, ".");
  EXPECT_EQ(o.outDir, ".");
  ASSERT_EQ(parse({"--permutations", "10", "--seed=18446744073709551615", "list", "res"}, o), "");
  EXPECT_EQ(o.permutations, 10);
  EXPECT_EQ(o.seed, 18446744073709551615ULL);
  EXPECT_EQ(o.listPath, "list");
  EXPECT_EQ(o.outDir, "res");
  ASSERT_EQ(parse({"list", "res", "--out=elsewhere", "--permutations=1000000"}, o), "");
  EXPECT_EQ(o.outDir, "elsewhere");
  EXPECT_EQ(o.permutations, 1000000);
  // Options after the operands, as users type them: the operands keep their places.
  EXPECT_EQ(o.listPath, "list");
  EXPECT_EQ(o.resultsDir, "res");
  ASSERT_EQ(parse({"list", "--out", "elsewhere", "res", "--seed", "3"}, o), "");
  EXPECT_EQ(o.listPath, "list");
  EXPECT_EQ(o.resultsDir, "res");
  EXPECT_EQ(o.outDir, "elsewhere");
  EXPECT_EQ(o.seed, 3u);
  ASSERT_EQ(parse({"--help"}, o), "");
  EXPECT_TRUE(o.help);
  ASSERT_EQ(parse({"-h"}, o), "");
  EXPECT_TRUE(o.help);
  ASSERT_EQ(parse({"--version"}, o), "");
  EXPECT_TRUE(o.version);
}

TEST(PermuteOptions, VolumeBinsFromOneToTen) {
  PermuteOptions o;
  ASSERT_EQ(parse({"list"}, o), "");
  EXPECT_EQ(o.volumeBins, 4);
  ASSERT_EQ(parse({"--volume-bins", "1", "list"}, o), "");
  EXPECT_EQ(o.volumeBins, 1);
  ASSERT_EQ(parse({"list", "--volume-bins=10"}, o), "");
  EXPECT_EQ(o.volumeBins, 10);
  for (const char *bins : {"0", "11", "4.5", "-1", "", "x", "007"})
    EXPECT_NE(parse({"--volume-bins", bins, "list"}, o)
                  .find("--volume-bins takes a whole number "
                        "from 1 to 10, not '" +
                        std::string(bins) + "'"),
              std::string::npos)
        << bins;
  EXPECT_NE(permuteHelpText().find("--volume-bins B"), std::string::npos);
}

TEST(PermuteOptions, RefusalsNameTheProblem) {
  PermuteOptions o;
  for (const char *count : {"0", "1000001", "12x", "-5", "1e3", "", "99999999999999"})
    EXPECT_NE(parse({"--permutations", count, "list"}, o).find("--permutations takes a whole"),
              std::string::npos)
        << count;
  EXPECT_NE(parse({"--seed=18446744073709551616", "list"}, o).find("--seed"), std::string::npos);
  EXPECT_NE(parse({"--colour", "list"}, o).find("unknown option --colour"), std::string::npos);
  EXPECT_NE(parse({"list", "--seed"}, o).find("--seed needs a value"), std::string::npos);
  EXPECT_NE(parse({}, o).find("got 0 arguments"), std::string::npos);
  EXPECT_NE(parse({"a", "b", "c"}, o).find("got 3 arguments"), std::string::npos);
}

const std::string kPermute = TORVACOREEL_PERMUTE_PATH;
constexpr long kVoxels = 9600; // 20 x 24 x 20

const char *const kTableHeader =
    "region\trep_id\tgain\tp_fwe\tnull_mean\tnull_95\tpermutations\tp_fwe_volume\n";

// The first whitespace-separated numbers after the line `marker` of `text`: a count, then that
// many numbers.
std::vector<long> countedList(const std::string &text, const std::string &marker) {
  std::istringstream in(text.substr(text.find(marker + "\n") + marker.size() + 1));
  long count = 0;
  in >> count;
  std::vector<long> values(static_cast<std::size_t>(count));
  for (long &value : values)
    in >> value;
  return values;
}

// The example study (20 x 24 x 20, planted regions) analysed with 3 bootstrap iterations, and
// the plain route of the permutation test on it (evidence_fixtures.h).
class PermuteRun : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_EQ(runCommand(std::string(MAKE_EXAMPLE_STUDY_PATH) + " --out study --subjects 40",
                         "make.txt", "make_err.txt"),
              0);
    ASSERT_EQ(runCommand(std::string(TORVACOREEL_PATH) + " study/torva.prj.filelist 2 3",
                         "analysis.txt", "analysis_err.txt"),
              0)
        << readFile("analysis_err.txt");
  }

  // The study as the run read it, its representatives (1-based ids, from log.el.torva's R-SET)
  // and its consensus labels (roi.el.torva).
  void readRun() {
    DecodedStudy decoded;
    ASSERT_FALSE(decodeStudy("study/torva.prj.filelist", 1, decoded));
    ASSERT_EQ(decoded.list.nodeCount - 1, kVoxels);
    study = evidencetest::unpack(decoded.subjects, kVoxels);
    for (const long index : countedList(readFile("log.el.torva"), "R-SET"))
      representatives.push_back(static_cast<int>(index + 1));
    std::istringstream roi(readFile("roi.el.torva"));
    long regions = 0;
    long voxels = 0;
    roi >> regions >> voxels;
    ASSERT_EQ(regions, static_cast<long>(representatives.size()));
    ASSERT_EQ(voxels, kVoxels);
    labels.assign(kVoxels, 0);
    for (int &label : labels)
      roi >> label;
    ASSERT_TRUE(roi);
    // Without a settings file the analysis screens out only the voxels no subject has.
    ASSERT_FALSE(testsupport::fileExistsOnDisk("torva.configure"));
    for (long v = 0; v < kVoxels; ++v)
      if (evidencetest::plainNorm(study, v) > 0)
        screened.push_back(static_cast<int>(v + 1));
  }

  // permutation.tsv of the plain route with `permutations` draws from `seed`, the lesion-size
  // controlled test within `bins` volume bins.
  std::string plainTable(long permutations, std::uint64_t seed, int bins = 4) {
    plain = evidencetest::plainPermutationTest(study, screened, labels, representatives,
                                               permutations, seed, bins);
    std::string table = kTableHeader;
    for (std::size_t r = 0; r < representatives.size(); ++r) {
      char line[256];
      std::snprintf(line, sizeof line, "%zu\t%d\t%.6f\t%.6f\t%.6f\t%.6f\t%ld\t%.6f\n", r + 1,
                    representatives[r], plain[r].gain, plain[r].p, plain[r].mean, plain[r].upper95,
                    permutations, plain[r].pVolume);
      table += line;
    }
    return table;
  }

  testsupport::ScopedTempDir dir;
  evidencetest::TinyStudy study;
  std::vector<int> representatives;
  std::vector<int> labels;
  std::vector<int> screened;
  std::vector<evidencetest::PlainRegion> plain;
};

TEST_F(PermuteRun, WritesTheSameBytesOnAnyThreadCount) {
  ASSERT_EQ(std::system("mkdir one three"), 0);
  ASSERT_EQ(runCommand("TORVA_THREADS=1 " + kPermute +
                           " --permutations 300 --out one study/torva.prj.filelist",
                       "one.txt", "one_err.txt"),
            0)
      << readFile("one_err.txt");
  ASSERT_EQ(runCommand("TORVA_THREADS=3 " + kPermute +
                           " --permutations=300 --out=three study/torva.prj.filelist .",
                       "three.txt", "three_err.txt"),
            0);
  for (const char *name : {"permutation.tsv", "gain_map.nii", "gain_corrp_map.nii"})
    EXPECT_EQ(readFile(std::string("one/") + name), readFile(std::string("three/") + name)) << name;
  EXPECT_EQ(readFile("one.txt").substr(0, 200), readFile("three.txt").substr(0, 200));
  EXPECT_EQ(readFile("one_err.txt"), "");
  EXPECT_EQ(testsupport::countEntriesStartingWith(".torva-run-"), 0);
}

// The table against the plain route on the study the test reads itself: the R-SET's voxels in
// order, each region's gain given the earlier ones, and p, null mean and 95th percentile of the
// draws of the default seed 1. Standard output repeats each row.
TEST_F(PermuteRun, TableIsThePlainTestOfTheRunsRegions) {
  readRun();
  ASSERT_EQ(
      runCommand(kPermute + " --permutations 300 study/torva.prj.filelist", "out.txt", "err.txt"),
      0)
      << readFile("err.txt");
  ASSERT_GE(representatives.size(), 2u);
  EXPECT_EQ(readFile("permutation.tsv"), plainTable(300, 1));
  for (std::size_t r = 0; r < representatives.size(); ++r) {
    char line[128];
    std::snprintf(line, sizeof line, "region %zu (voxel %d): gain %.6f, p_fwe %.6f\n", r + 1,
                  representatives[r], plain[r].gain, plain[r].p);
    EXPECT_NE(readFile("out.txt").find(line), std::string::npos) << line;
  }
  EXPECT_NE(readFile("out.txt").find("300 permutations per region, seed 1\n"), std::string::npos);
}

// gain_map.nii holds every voxel's round-1 gain and gain_corrp_map.nii 1 - p against round 1's
// nulls where the search would accept the voxel, 0 elsewhere, both from the plain route; at
// R_1 they agree with the table's first row. Maps swapped or misfilled fail voxel by voxel.
TEST_F(PermuteRun, MapsAreThePlainRoundOneGainsAndCorrectedP) {
  readRun();
  ASSERT_EQ(
      runCommand(kPermute + " --permutations 300 study/torva.prj.filelist", "out.txt", "err.txt"),
      0)
      << readFile("err.txt");
  plainTable(300, 1);
  const std::vector<float> gain = testsupport::readFloatImage("gain_map.nii");
  const std::vector<float> corrp = testsupport::readFloatImage("gain_corrp_map.nii");
  ASSERT_EQ(gain.size(), static_cast<std::size_t>(kVoxels));
  ASSERT_EQ(corrp.size(), static_cast<std::size_t>(kVoxels));
  const std::vector<double> &nulls = plain[0].nulls;
  long accepted = 0;
  for (long v = 0; v < kVoxels; ++v) {
    const double g = evidencetest::plainGain(study, {}, v, study.outcome);
    ASSERT_EQ(gain[v], static_cast<float>(g)) << "voxel " << v + 1;
    const bool search = evidencetest::plainAccepted(study, 1, v, study.outcome, g);
    ASSERT_EQ(corrp[v], search ? static_cast<float>(1.0 - evidencetest::plainP(nulls, g)) : 0.0f)
        << "voxel " << v + 1;
    ASSERT_TRUE(corrp[v] >= 0.0f && corrp[v] < 1.0f) << "voxel " << v + 1;
    accepted += search ? 1 : 0;
  }
  EXPECT_GT(accepted, 10);
  // At R_1 the maps hold the first row's gain and 1 - p_fwe, as printed.
  std::istringstream table(readFile("permutation.tsv"));
  std::string header;
  std::getline(table, header);
  int region = 0;
  int id = 0;
  double rowGain = 0;
  double p = 0;
  table >> region >> id >> rowGain >> p;
  ASSERT_EQ(id, representatives[0]);
  EXPECT_NEAR(gain[id - 1], rowGain, 1e-5);
  EXPECT_NEAR(corrp[id - 1], 1.0 - p, 1e-6);
}

// --seed chooses the draws: seeds 1 and 2 give other tables, each the plain route's of its own
// seed, and standard output names the seed used.
TEST_F(PermuteRun, EachSeedGivesTheTableOfItsOwnDraws) {
  readRun();
  ASSERT_EQ(std::system("mkdir first second"), 0);
  for (const char *seed : {"1", "2"})
    ASSERT_EQ(runCommand(kPermute + " --permutations 200 --seed " + seed + " --out " +
                             (seed[0] == '1' ? "first" : "second") + " study/torva.prj.filelist",
                         std::string("out") + seed + ".txt", "err.txt"),
              0)
        << readFile("err.txt");
  EXPECT_NE(readFile("first/permutation.tsv"), readFile("second/permutation.tsv"));
  EXPECT_EQ(readFile("first/permutation.tsv"), plainTable(200, 1));
  EXPECT_EQ(readFile("second/permutation.tsv"), plainTable(200, 2));
  EXPECT_NE(readFile("out2.txt").find("200 permutations per region, seed 2\n"), std::string::npos);
}

TEST_F(PermuteRun, RefusesResultsItCannotTest) {
  const std::string command = kPermute + " --permutations 20 study/torva.prj.filelist";
  // Permutation count out of range: usage and status 2.
  EXPECT_EQ(runCommand(kPermute + " --permutations 0 study/torva.prj.filelist"), 2);
  EXPECT_NE(readFile("stderr.txt").find("torvacoreel-permute: --permutations"), std::string::npos);
  EXPECT_NE(readFile("stderr.txt").find("usage: torvacoreel-permute"), std::string::npos);
  EXPECT_EQ(runCommand(kPermute + " --bogus study/torva.prj.filelist"), 2);

  // Another grid: roi.el.torva of fewer voxels.
  const std::string roi = readFile("roi.el.torva");
  std::istringstream head(roi);
  int regions = 0;
  head >> regions;
  testsupport::writeFile("roi.el.torva", std::to_string(regions) + " 4 0 0 0 0\n");
  EXPECT_EQ(runCommand(command), 1);
  EXPECT_NE(readFile("stderr.txt").find("roi.el.torva: labels 4 voxels"), std::string::npos)
      << readFile("stderr.txt");
  testsupport::writeFile("roi.el.torva", roi);

  // An R-SET id outside the volume.
  const std::string log = readFile("log.el.torva");
  const std::size_t rset = log.find("R-SET");
  ASSERT_NE(rset, std::string::npos);
  std::string bad = log;
  const std::size_t firstName = bad.find('\n') + 1;
  const std::string name = bad.substr(firstName, bad.find_first_of(" \n", firstName) - firstName);
  for (std::size_t at = bad.find(name); at != std::string::npos; at = bad.find(name, at + 5))
    bad.replace(at, name.size(), "99999");
  testsupport::writeFile("log.el.torva", bad);
  EXPECT_EQ(runCommand(command), 1);
  EXPECT_NE(readFile("stderr.txt").find("R-SET voxel id 100000 lies outside the 9600 voxels"),
            std::string::npos)
      << readFile("stderr.txt");

  // Missing and short files name the file.
  ASSERT_EQ(std::remove("log.el.torva"), 0);
  EXPECT_EQ(runCommand(command), 1);
  EXPECT_NE(readFile("stderr.txt").find("log.el.torva is missing"), std::string::npos);
  testsupport::writeFile("log.el.torva", log.substr(0, rset));
  EXPECT_EQ(runCommand(command), 1);
  EXPECT_NE(readFile("stderr.txt").find("log.el.torva: the file ends before its R-SET line"),
            std::string::npos);
  EXPECT_FALSE(testsupport::fileExistsOnDisk("permutation.tsv"));

  // A run without regions: a header-only table, said on stdout, status 0.
  testsupport::writeFile("log.el.torva",
                         "Variable_list\nfv\n" + std::string(40, '0') + "\nR-SET\n0\n");
  std::string empty = "0 9600";
  for (int v = 0; v < 9600; ++v)
    empty += " 0";
  testsupport::writeFile("roi.el.torva", empty + "\n");
  EXPECT_EQ(runCommand(command), 0) << readFile("stderr.txt");
  EXPECT_EQ(readFile("permutation.tsv"), kTableHeader);
  EXPECT_NE(readFile("stdout.txt").find("no region"), std::string::npos);
}

// golden/ holds what the command wrote on this study before the lesion-size control (the
// binary of that time, --permutations 300, seed 1). gain_map.nii and gain_corrp_map.nii keep
// every byte, permutation.tsv its seven columns, standard output its lines before the new ones.
TEST_F(PermuteRun, ExistingFilesKeepTheirBytes) {
  ASSERT_EQ(runCommand(kPermute + " --permutations 300 --out . study/torva.prj.filelist", "out.txt",
                       "err.txt"),
            0)
      << readFile("err.txt");
  const std::string here = __FILE__;
  const std::string golden = here.substr(0, here.rfind('/')) + "/golden/";
  for (const char *name : {"gain_map.nii", "gain_corrp_map.nii"})
    EXPECT_TRUE(readFile(name) == readFile(golden + name)) << name;
  std::istringstream table(readFile("permutation.tsv"));
  std::string withoutLastColumn;
  for (std::string line; std::getline(table, line);)
    withoutLastColumn += line.substr(0, line.rfind('\t')) + "\n";
  EXPECT_EQ(withoutLastColumn, readFile(golden + "permutation.tsv"));
  const std::string before = readFile(golden + "stdout.txt");
  const std::string kept = before.substr(0, before.find("Results in"));
  EXPECT_EQ(readFile("out.txt").substr(0, kept.size()), kept);
  EXPECT_NE(readFile("out.txt").find("Results in .: permutation.tsv, gain_map.nii, "
                                     "gain_corrp_map.nii, gain_corrp_volume_map.nii\n"),
            std::string::npos);
}

// gain_corrp_volume_map.nii holds 1 - p_fwe_volume against round 1's nulls within the volume
// bins (7 here), from the plain route, where the search would accept the voxel; standard output
// names the bins and repeats p_fwe_volume per region.
TEST_F(PermuteRun, VolumeMapIsThePlainCorrectedPOfTheLesionSizeTest) {
  readRun();
  ASSERT_EQ(runCommand(kPermute + " --permutations 200 --volume-bins 7 study/torva.prj.filelist",
                       "out.txt", "err.txt"),
            0)
      << readFile("err.txt");
  EXPECT_EQ(readFile("permutation.tsv"), plainTable(200, 1, 7));
  const std::vector<float> corrp = testsupport::readFloatImage("gain_corrp_volume_map.nii");
  ASSERT_EQ(corrp.size(), static_cast<std::size_t>(kVoxels));
  long accepted = 0;
  for (long v = 0; v < kVoxels; ++v) {
    const double g = evidencetest::plainGain(study, {}, v, study.outcome);
    const bool search = evidencetest::plainAccepted(study, 1, v, study.outcome, g);
    ASSERT_EQ(corrp[v],
              search ? static_cast<float>(1.0 - evidencetest::plainP(plain[0].volumeNulls, g))
                     : 0.0f)
        << "voxel " << v + 1;
    accepted += search ? 1 : 0;
  }
  EXPECT_GT(accepted, 10);
  const std::string out = readFile("out.txt");
  EXPECT_NE(out.find("Lesion-size control: the outcome also permuted within 7 lesion-volume "
                     "bins\n"),
            std::string::npos);
  char line[128];
  std::snprintf(line, sizeof line, "region 1 (voxel %d): p_fwe_volume %.6f\n", representatives[0],
                plain[0].pVolume);
  EXPECT_NE(out.find(line), std::string::npos) << line;
}

// The null maximum takes the analysis's representativeShare from the folder's torva.configure:
// with 0.45 (more than 18 of the 40 subjects) the table is the test's with that share.
TEST_F(PermuteRun, NullMaximumUsesTheSettingsShare) {
  readRun();
  testsupport::writeFile("torva.configure",
                         "a 0 b 0.2 c 1 d 5 e 5 f 3 g -1 h 0 i 0 representativeShare 0.45\n");
  ASSERT_EQ(runCommand(kPermute + " --permutations 100 --out . study/torva.prj.filelist", "out.txt",
                       "err.txt"),
            0)
      << readFile("err.txt");
  DecodedStudy decoded;
  ASSERT_FALSE(decodeStudy("study/torva.prj.filelist", 1, decoded));
  PermutationStudy input{decoded.subjects, kVoxels, screened, labels, representatives, 0.45};
  PermutationResult result;
  runPermutationTest(input, 100, 1, 1, result, nullptr);
  EXPECT_EQ(readFile("permutation.tsv"), permutationTableText(result.regions));
  EXPECT_NE(readFile("permutation.tsv"), plainTable(100, 1));
  testsupport::writeFile("torva.configure",
                         "a 0 b 0.2 c 1 d 5 e 5 f 3 g -1 h 0 i 0 representativeShare 1\n");
  EXPECT_EQ(runCommand(kPermute + " --permutations 100 --out . study/torva.prj.filelist"), 1);
  EXPECT_NE(readFile("stderr.txt").find("torva.configure: representativeShare 1 is not"),
            std::string::npos);
}

TEST(PermuteCommand, HelpAndVersion) {
  testsupport::ScopedTempDir dir;
  EXPECT_EQ(runCommand(kPermute + " --help"), 0);
  EXPECT_NE(readFile("stdout.txt").find("--permutations N"), std::string::npos);
  EXPECT_EQ(runCommand(kPermute + " --version"), 0);
  EXPECT_EQ(readFile("stdout.txt"), std::string("torvacoreel-permute ") + TORVA_VERSION + "\n");
}

} // namespace
