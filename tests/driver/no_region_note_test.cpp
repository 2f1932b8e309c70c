// The note that says why a run found no region: a study whose lesions overlap less than a
// representative voxel needs, as the 618-subject stroke study whose largest overlap, 96, stays
// below the 124 needed. The note goes to standard error after everything else; the status,
// standard output and every result file stay those of the run without it (kept beside this
// test in golden/low_overlap/, made before the note existed).
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>

#include "driver/low_overlap_study.h"
#include "roi/overlap_note.h"
#include "run/resampling.h"
#include "support/temp_dir.h"

namespace {

using testsupport::readFile;
using testsupport::runCommand;
using testsupport::ScopedTempDir;

const std::string kProgram = TORVACOREEL_PATH;

std::string goldenDir() {
  const std::string here = __FILE__;
  return here.substr(0, here.rfind('/')) + "/golden/low_overlap/";
}

// 3 of 20 is 0.15: a share below it lets the largest overlap pass (20 s < 3).
const char *const kNote =
    "note: no region can be found: the largest lesion overlap is 3 of 20 subjects, and a "
    "representative voxel must be lesioned in more than a fifth of the 19 subjects of each "
    "iteration, at least 4; regions can only be found where that many subjects share a lesion, "
    "for example in a subgroup with lesions in one territory, or with a smaller share: set "
    "representativeShare below 0.150 in torva.configure to let the largest overlap pass (each "
    "representative voxel then stands for fewer subjects)\n";

class LowOverlapRun : public ::testing::TestWithParam<const char *> {};

TEST_P(LowOverlapRun, EndsWithTheNoteAndUnchangedResults) {
  ScopedTempDir dir;
  ASSERT_TRUE(testsupport::writeLowOverlapStudy("study"));
  ASSERT_EQ(runCommand(std::string("TORVA_THREADS=") + GetParam() + " " + kProgram +
                       " study/torva.prj.filelist 1 0"),
            0);
  EXPECT_EQ(readFile("stderr.txt"), kNote);
  EXPECT_TRUE(readFile("stdout.txt") == readFile(goldenDir() + "stdout.txt"));
  for (const char *name :
       {"model.el.torva", "log.el.torva", "roi.el.torva", "bn.el.torva", "bn.el.xdsl", "log.torva",
        "label_field_torvael.nii", "prob_map_torvael.nii"})
    EXPECT_TRUE(readFile(name) == readFile(goldenDir() + name)) << name;
}

INSTANTIATE_TEST_SUITE_P(Threads, LowOverlapRun, ::testing::Values("1", "3"));

// A shard sees only some iterations, and the shard file does not carry what round 1 offered, so
// neither the shards nor the merge print the note.
TEST(LowOverlapRun, ShardsAndTheMergeStaySilent) {
  ScopedTempDir dir;
  ASSERT_TRUE(testsupport::writeLowOverlapStudy("study"));
  ASSERT_EQ(runCommand("mkdir -p shard0 merged && ln -s ../study shard0/study && "
                       "ln -s ../study merged/study && cd shard0 && TORVA_SHARD=0/1 " +
                       kProgram + " study/torva.prj.filelist 1 0"),
            0);
  EXPECT_EQ(readFile("stderr.txt"), "");
  ASSERT_EQ(runCommand(std::string("cd merged && ") + TORVACOREEL_MERGE_PATH +
                       " study/torva.prj.filelist 1 0 ../shard0"),
            0);
  EXPECT_EQ(readFile("stderr.txt"), "");
  EXPECT_TRUE(readFile("merged/model.el.torva") == readFile(goldenDir() + "model.el.torva"));
}

RoundOneOverlap shortOf(long inCases, long inSubjects, long cases) {
  RoundOneOverlap overlap;
  overlap.measured = true;
  overlap.largestInCases = inCases;
  overlap.largestInSubjects = inSubjects;
  overlap.cases = cases;
  overlap.normBound = normTestBound(cases, kDefaultRepresentativeShare);
  return overlap;
}

ResamplingResult resultOf(const std::vector<RoundOneOverlap> &iterations) {
  ResamplingResult result;
  for (const RoundOneOverlap &iteration : iterations) {
    result.records.push_back(ModelRecord{});
    result.shortfall.add(iteration);
  }
  return result;
}

// The note needs every iteration short of the bound: 618 subjects, jackknife iterations of 617
// whose bound is 123 (617 / 5 = 123.4).
TEST(NoRegionNote, OnlyWhenEveryIterationFellShortOfTheNormTest) {
  const std::string note = noRegionNoteOfRun(
      resultOf({shortOf(96, 96, 617), shortOf(95, 96, 617), shortOf(123, 123, 617)}), 618);
  EXPECT_EQ(note, "note: no region can be found: the largest lesion overlap is 123 of 618 "
                  "subjects, and a representative voxel must be lesioned in more than a fifth of "
                  "the 617 subjects of each iteration, at least 124; regions can only be found "
                  "where that many subjects share a lesion, for example in a subgroup with "
                  "lesions in one territory, or with a smaller share: set representativeShare "
                  "below 0.199 in torva.configure to let the largest overlap pass (each "
                  "representative voxel then stands for fewer subjects)\n");
  // One iteration with a voxel of 124 cases: the norm test was not what stopped it.
  EXPECT_EQ(noRegionNoteOfRun(resultOf({shortOf(96, 96, 617), shortOf(124, 124, 617)}), 618), "");
  // One iteration that chose a voxel in round 1 (nothing measured).
  EXPECT_EQ(noRegionNoteOfRun(resultOf({shortOf(96, 96, 617), RoundOneOverlap{}}), 618), "");
  EXPECT_EQ(noRegionNoteOfRun(resultOf({}), 618), "");
}

TEST(NormTestBound, IsTheIntegerPartOfTheShareOfTheCases) {
  const double fifth = kDefaultRepresentativeShare;
  EXPECT_EQ(normTestBound(4, fifth), 0);
  EXPECT_EQ(normTestBound(5, fifth), 1);
  EXPECT_EQ(normTestBound(19, fifth), 3);
  EXPECT_EQ(normTestBound(20, fifth), 4);
  EXPECT_EQ(normTestBound(617, fifth), 123);
  EXPECT_EQ(normTestBound(618, fifth), 123);
  EXPECT_EQ(normTestBound(620, fifth), 124);
  // The 618-subject study with a tenth: 61.8, so 62 subjects pass; with 0.155, 95.79.
  EXPECT_EQ(normTestBound(618, 0.1), 61);
  EXPECT_EQ(normTestBound(618, 0.155), 95);
  // The product taken in double: 100 * 0.29 is 28.999999999999996 there.
  EXPECT_EQ(normTestBound(100, 0.29), 28);
  EXPECT_EQ(normTestBound(20, 0.25), 5);
}

// c / n rounded down to three decimals, more where those are 0; a share below it passes a voxel
// lesioned in c of the n subjects (n * s < c), one at it or above does not.
TEST(NoRegionNote, LargestPassingShareIsRoundedDown) {
  EXPECT_EQ(largestPassingShare(96, 618), "0.155"); // 0.15533...
  EXPECT_EQ(largestPassingShare(3, 20), "0.150");
  EXPECT_EQ(largestPassingShare(2, 3), "0.666");
  EXPECT_EQ(largestPassingShare(1, 1500), "0.0006"); // 0.000666...
  EXPECT_EQ(largestPassingShare(1, 2000000), "0.0000005");
  EXPECT_EQ(largestPassingShare(0, 618), "");
  for (const auto &[c, n] : {std::pair<long, long>{96, 618}, {3, 20}, {2, 3}, {1, 1500}}) {
    const double below = std::stod(largestPassingShare(c, n));
    EXPECT_LT(normTestBound(n, below * 0.999), c) << c << " of " << n;
    EXPECT_GE(normTestBound(n, static_cast<double>(c) / n + 1e-9), c) << c << " of " << n;
  }
}

// With another share the note names it, and the bound is that share's; with no lesioned
// candidate at all it says that no share helps.
TEST(NoRegionNote, NamesTheShareInUse) {
  EXPECT_EQ(noRegionNote(40, 618, 617, 0.1),
            "note: no region can be found: the largest lesion overlap is 40 of 618 subjects, and a "
            "representative voxel must be lesioned in more than 0.1 (representativeShare) of the "
            "617 subjects of each iteration, at least 62; regions can only be found where that "
            "many subjects share a lesion, for example in a subgroup with lesions in one "
            "territory, or with a smaller share: set representativeShare below 0.064 in "
            "torva.configure to let the largest overlap pass (each representative voxel then "
            "stands for fewer subjects)\n");
  EXPECT_NE(noRegionNote(0, 20, 19, 0.2)
                .find("at least 4; regions can only be found where that "
                      "many subjects share a lesion, for example in a "
                      "subgroup with lesions in one territory; no "
                      "candidate voxel is lesioned in any subject\n"),
            std::string::npos);
}

// The low-overlap study with its largest overlap let through: representativeShare 0.149 puts the
// jackknife bound at 2 (19 * 0.149 = 2.83), the voxels of 3 subjects pass and the run finds a
// region without the note; 0.16 (bound 3) keeps the note, naming the share.
TEST(LowOverlapRun, ASmallerShareLetsTheLargestOverlapPass) {
  ScopedTempDir dir;
  ASSERT_TRUE(testsupport::writeLowOverlapStudy("study"));
  const std::string nine = "a 0 b 0.2 c 1 d 5 e 5 f 3 g -1 h 0 i 0 ";
  testsupport::writeFile("torva.configure", nine + "representativeShare 0.149\n");
  ASSERT_EQ(runCommand(kProgram + " study/torva.prj.filelist 1 0"), 0);
  EXPECT_EQ(readFile("stderr.txt"), "");
  EXPECT_NE(readFile("stdout.txt").find("Verbose: No\nrepresentativeShare= 0.149\n"),
            std::string::npos);
  EXPECT_NE(readFile("model.el.torva"), readFile(goldenDir() + "model.el.torva"));
  std::istringstream roi(readFile("roi.el.torva"));
  int regions = 0;
  roi >> regions;
  EXPECT_GE(regions, 1);

  testsupport::writeFile("torva.configure", nine + "representativeShare 0.16\n");
  ASSERT_EQ(runCommand(kProgram + " study/torva.prj.filelist 1 0"), 0);
  EXPECT_NE(readFile("stderr.txt")
                .find("more than 0.16 (representativeShare) of the 19 subjects "
                      "of each iteration, at least 4;"),
            std::string::npos)
      << readFile("stderr.txt");
  EXPECT_TRUE(readFile("model.el.torva") == readFile(goldenDir() + "model.el.torva"));
}

} // namespace
