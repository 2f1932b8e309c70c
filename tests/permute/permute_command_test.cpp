// torvacoreel-permute: its options, a whole run on a small study after the analysis, the same
// bytes for any thread count, and the refusals of results it cannot test.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "permute/permute_options.h"
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

// The example study (20 x 24 x 20, planted regions) analysed with 3 bootstrap iterations.
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
  testsupport::ScopedTempDir dir;
};

TEST_F(PermuteRun, WritesTheTableAndMapsWithTheSameBytesOnAnyThreadCount) {
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

  // One row per region of roi.el.torva, in R-SET order, p within (0, 1].
  std::istringstream roi(readFile("roi.el.torva"));
  int regions = 0;
  roi >> regions;
  std::istringstream table(readFile("one/permutation.tsv"));
  std::string line;
  std::getline(table, line);
  EXPECT_EQ(line, "region\trep_id\tgain\tp_fwe\tnull_mean\tnull_95\tpermutations");
  int rows = 0;
  while (std::getline(table, line)) {
    ++rows;
    std::istringstream fields(line);
    int region = 0;
    int id = 0;
    double gain = 0;
    double p = 0;
    double mean = 0;
    double upper = 0;
    long n = 0;
    fields >> region >> id >> gain >> p >> mean >> upper >> n;
    EXPECT_EQ(region, rows);
    EXPECT_GT(p, 0.0);
    EXPECT_LE(p, 1.0);
    EXPECT_GE(mean, 0.0);
    EXPECT_GE(upper, 0.0);
    EXPECT_EQ(n, 300);
    EXPECT_NE(readFile("one.txt").find("region " + std::to_string(region) + " (voxel " +
                                       std::to_string(id) + ")"),
              std::string::npos);
  }
  EXPECT_EQ(rows, regions);
  ASSERT_GT(rows, 0);
  // float32 maps of the study's 9600 voxels.
  EXPECT_EQ(readFile("one/gain_map.nii").size(), 352u + 4u * 9600u);
  EXPECT_EQ(readFile("one/gain_corrp_map.nii").size(), 352u + 4u * 9600u);
  EXPECT_EQ(testsupport::countEntriesStartingWith(".torva-run-"), 0);
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
  EXPECT_EQ(readFile("permutation.tsv"),
            "region\trep_id\tgain\tp_fwe\tnull_mean\tnull_95\tpermutations\n");
  EXPECT_NE(readFile("stdout.txt").find("no region"), std::string::npos);
}

TEST(PermuteCommand, HelpAndVersion) {
  testsupport::ScopedTempDir dir;
  EXPECT_EQ(runCommand(kPermute + " --help"), 0);
  EXPECT_NE(readFile("stdout.txt").find("--permutations N"), std::string::npos);
  EXPECT_EQ(runCommand(kPermute + " --version"), 0);
  EXPECT_EQ(readFile("stdout.txt"), std::string("torvacoreel-permute ") + TORVA_VERSION + "\n");
}

} // namespace
