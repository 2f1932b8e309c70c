#include "prepare/subject_selection.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "support/temp_dir.h"

namespace {

using testsupport::ScopedTempDir;
using testsupport::writeFile;

PrepareOptions optionsFor(const std::string &table) {
  PrepareOptions options;
  options.table = table;
  options.idColumn = "participant_id";
  options.imagePattern = "masks/{id}.nii.gz";
  options.outcomeColumn = "score";
  options.out = "study";
  return options;
}

// Reads `text` as data/p.tsv and selects from it; every mask named in `masks` exists (empty
// files: selection only checks that they can be opened).
std::string select(const std::string &text, const std::vector<std::string> &masks,
                   const PrepareOptions &options, SubjectSelection &selection) {
  mkdir("data", 0755);
  mkdir("data/masks", 0755);
  writeFile("data/p.tsv", text);
  for (const std::string &mask : masks)
    writeFile("data/masks/" + mask + ".nii.gz", "");
  ParticipantsTable table;
  const std::string problem = readParticipantsTable("data/p.tsv", table);
  return problem.empty() ? selectSubjects(table, options, selection) : problem;
}

struct CutCase {
  PrepareOptions::Cut cut;
  double bound;
  const char *value;
  int outcome;
};

class OutcomeCut : public ::testing::TestWithParam<CutCase> {};

// The cut is strict on both sides: a value equal to the bound is outcome 0.
TEST_P(OutcomeCut, ValueBeyondTheBoundIsOne) {
  PrepareOptions options;
  options.cut = GetParam().cut;
  options.cutValue = GetParam().bound;
  int outcome = -1;
  std::string problem;
  std::string refusal;
  ASSERT_TRUE(outcomeOf(GetParam().value, options, outcome, problem, refusal));
  EXPECT_EQ(outcome, GetParam().outcome);
}

INSTANTIATE_TEST_SUITE_P(AboveAndBelow, OutcomeCut,
                         ::testing::Values(CutCase{PrepareOptions::Cut::Above, 2, "1.5", 0},
                                           CutCase{PrepareOptions::Cut::Above, 2, "2", 0},
                                           CutCase{PrepareOptions::Cut::Above, 2, "2.01", 1},
                                           CutCase{PrepareOptions::Cut::Below, 24, "23.5", 1},
                                           CutCase{PrepareOptions::Cut::Below, 24, "24", 0},
                                           CutCase{PrepareOptions::Cut::Below, 24, "30", 0},
                                           CutCase{PrepareOptions::Cut::None, 0, "1", 1},
                                           CutCase{PrepareOptions::Cut::None, 0, "0.0", 0}));

TEST(Outcome, MissingAndNonNumericValuesAreProblemsAndOtherValuesWithoutCutAreRefused) {
  PrepareOptions options;
  for (const char *missing : {"", "n/a", "NA"}) {
    int outcome = 0;
    std::string problem;
    std::string refusal;
    EXPECT_FALSE(outcomeOf(missing, options, outcome, problem, refusal));
    EXPECT_EQ(problem, "outcome '" + std::string(missing) + "' is missing");
    EXPECT_EQ(refusal, "");
  }
  int outcome = 0;
  std::string problem;
  std::string refusal;
  EXPECT_FALSE(outcomeOf("good", options, outcome, problem, refusal));
  EXPECT_EQ(problem, "outcome 'good' is not a number");
  problem.clear();
  EXPECT_FALSE(outcomeOf("3", options, outcome, problem, refusal));
  EXPECT_EQ(problem, "");
  EXPECT_EQ(refusal, "outcome '3' is neither 0 nor 1; give --above V or --below V to cut it");
}

TEST(SelectSubjects, TextIdsGiveRowNumbersAndNameTheImagesSkippedRowsAreWarned) {
  ScopedTempDir dir;
  PrepareOptions options = optionsFor("data/p.tsv");
  options.cut = PrepareOptions::Cut::Above;
  options.cutValue = 2;
  SubjectSelection s;
  ASSERT_EQ(select("participant_id\tscore\n"
                   "sub-01\t4\n"
                   "sub-02\tn/a\n"
                   "sub 03\t1\n"
                   "\t5\n"
                   "sub-05\tmild\n",
                   {"sub-01", "sub 03"}, options, s),
            "");
  ASSERT_EQ(s.subjects.size(), 2u);
  EXPECT_EQ(s.subjects[0].listId, 1);
  EXPECT_EQ(s.subjects[0].imageName, "sub-01.nii");
  EXPECT_EQ(s.subjects[0].maskPath, "data/masks/sub-01.nii.gz");
  EXPECT_EQ(s.subjects[0].outcome, 1);
  // Row 3 keeps its row number; the blank of its id cannot go into a list token.
  EXPECT_EQ(s.subjects[1].listId, 3);
  EXPECT_EQ(s.subjects[1].imageName, "sub_03.nii");
  EXPECT_EQ(s.subjects[1].outcomeText, "1");
  EXPECT_EQ(s.subjects[1].outcome, 0);
  EXPECT_EQ(s.skippedOutcome, 2);
  EXPECT_EQ(s.skippedNoId, 1);
  ASSERT_EQ(s.warnings.size(), 3u);
  EXPECT_EQ(s.warnings[0],
            "table data/p.tsv, line 3 (sub-02): outcome 'n/a' is missing; row skipped");
  EXPECT_EQ(s.warnings[1], "table data/p.tsv, line 5: no id; row skipped");
  EXPECT_EQ(s.warnings[2],
            "table data/p.tsv, line 6 (sub-05): outcome 'mild' is not a number; row skipped");
}

TEST(SelectSubjects, NumericIdsAreKeptAndMasksComeFromAColumn) {
  ScopedTempDir dir;
  PrepareOptions options = optionsFor("data/p.tsv");
  options.imagePattern.clear();
  options.imageColumn = "mask";
  SubjectSelection s;
  ASSERT_EQ(select("participant_id\tscore\tmask\n"
                   "17\t1\tmasks/a.nii.gz\n"
                   "005\t0\tmasks/b.nii.gz\n",
                   {"a", "b"}, options, s),
            "");
  ASSERT_EQ(s.subjects.size(), 2u);
  EXPECT_EQ(s.subjects[0].listId, 17);
  EXPECT_EQ(s.subjects[0].imageName, "17.nii");
  EXPECT_EQ(s.subjects[1].listId, 5);
  EXPECT_EQ(s.subjects[1].idText, "005");
  EXPECT_EQ(s.subjects[1].maskPath, "data/masks/b.nii.gz");
}

TEST(SelectSubjects, MissingMasksAreAllListedOrSkippedOnRequest) {
  ScopedTempDir dir;
  PrepareOptions options = optionsFor("data/p.tsv");
  const std::string table = "participant_id\tscore\n"
                            "s1\t0\ns2\t1\ns3\t1\ns4\t0\n";
  SubjectSelection s;
  EXPECT_EQ(
      select(table, {"s1", "s3"}, options, s),
      "2 masks are missing (give --skip-missing to leave those rows out), table "
      "data/p.tsv:\n  line 3 (s2): data/masks/s2.nii.gz\n  line 5 (s4): data/masks/s4.nii.gz");
  options.skipMissing = true;
  writeFile("data/masks/s4.nii.gz", "");
  ASSERT_EQ(select(table, {}, options, s), "");
  EXPECT_EQ(s.subjects.size(), 3u);
  EXPECT_EQ(s.skippedMissingMask, 1);
  ASSERT_EQ(s.warnings.size(), 1u);
  EXPECT_EQ(s.warnings[0], "mask missing, row skipped: table data/p.tsv, line 3 (s2): "
                           "data/masks/s2.nii.gz");
}

TEST(SelectSubjects, RefusesTablesThatCannotMakeAStudy) {
  ScopedTempDir dir;
  PrepareOptions options = optionsFor("data/p.tsv");
  SubjectSelection s;
  EXPECT_EQ(select("id\tscore\n1\t0\n", {}, options, s),
            "table data/p.tsv has no column 'participant_id' (its columns: id, score)");
  EXPECT_EQ(select("participant_id\tscore\n1\t0\n2\t3\n", {"1", "2"}, options, s),
            "table data/p.tsv, line 3 (2): outcome '3' is neither 0 nor 1; give --above V or "
            "--below V to cut it");
  EXPECT_EQ(select("participant_id\tscore\n1\t0\n2\tNA\n", {"1", "2"}, options, s),
            "table data/p.tsv: 1 subject is left of 2 rows; a study needs at least 2");
  options.cut = PrepareOptions::Cut::Above;
  options.cutValue = 2;
  EXPECT_EQ(select("participant_id\tscore\n1\t0\n2\t2\n", {"1", "2"}, options, s),
            "table data/p.tsv: all 2 subjects have outcome 0 (column score, above 2); the "
            "analysis needs subjects with outcome 0 and with 1");
  EXPECT_EQ(select("participant_id\tscore\na b\t0\na_b\t5\n", {"a b", "a_b"}, options, s),
            "table data/p.tsv: lines 2 and 3 both make the image img/a_b.nii (ids 'a b' and "
            "'a_b')");
}

} // namespace
