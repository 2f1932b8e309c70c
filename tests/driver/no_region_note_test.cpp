// The note that says why a run found no region: a study whose lesions overlap less than a
// representative voxel needs, as the 618-subject stroke study whose largest overlap, 96, stays
// below the 124 needed. The note goes to standard error after everything else; the status,
// standard output and every result file stay those of the run without it (kept beside this
// test in golden/low_overlap/, made before the note existed).
#include <gtest/gtest.h>

#include <string>

#include "driver/low_overlap_study.h"
#include "driver/resampling.h"
#include "roi/overlap_note.h"
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

const char *const kNote =
    "note: no region can be found: the largest lesion overlap is 3 of 20 subjects, and a "
    "representative voxel must be lesioned in more than a fifth of the 19 subjects of each "
    "iteration, at least 4; regions can only be found where that many subjects share a lesion, "
    "for example in a subgroup with lesions in one territory\n";

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
  overlap.normBound = normTestBound(cases);
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
                  "lesions in one territory\n");
  // One iteration with a voxel of 124 cases: the norm test was not what stopped it.
  EXPECT_EQ(noRegionNoteOfRun(resultOf({shortOf(96, 96, 617), shortOf(124, 124, 617)}), 618), "");
  // One iteration that chose a voxel in round 1 (nothing measured).
  EXPECT_EQ(noRegionNoteOfRun(resultOf({shortOf(96, 96, 617), RoundOneOverlap{}}), 618), "");
  EXPECT_EQ(noRegionNoteOfRun(resultOf({}), 618), "");
}

TEST(NormTestBound, IsTheIntegerPartOfAFifth) {
  EXPECT_EQ(normTestBound(4), 0);
  EXPECT_EQ(normTestBound(5), 1);
  EXPECT_EQ(normTestBound(19), 3);
  EXPECT_EQ(normTestBound(20), 4);
  EXPECT_EQ(normTestBound(617), 123);
  EXPECT_EQ(normTestBound(618), 123);
  EXPECT_EQ(normTestBound(620), 124);
}

} // namespace
