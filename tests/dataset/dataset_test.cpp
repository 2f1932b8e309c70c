#include "dataset/dataset.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/temp_dir.h"

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

const float kMissing = Dataset::kMissingValue;

const char kCorrupted[] =
    "Corrupted file.\nPossible solutions:\n1) file has missing values? \nReplace the missing value "
    "by null if a column is a categorical variable, or replace it by -999999999 if the column is "
    "numeric. \n2) file has hidden control characters?\nLoad csv file into excel and save it "
    "again. Or load csv using emacs and remove these characters.\n";

// Ten lines of twenty numbers; the cell of line r, column c reads "r.c" (c as two digits).
std::string gridCsv() {
  std::string text;
  for (int r = 0; r < 10; ++r) {
    for (int c = 0; c < 20; ++c)
      text +=
          (c > 0 ? "," : "") + std::to_string(r) + "." + (c < 10 ? "0" : "") + std::to_string(c);
    text += "\n";
  }
  return text;
}

std::vector<float> column(const Dataset &data, long node) {
  long nodes = 0;
  long cases = 0;
  data.getSize(nodes, cases);
  std::vector<float> values(cases, -7.0f);
  data.getOneNode(values.data(), node);
  return values;
}

// Loads `text` as a CSV file, keeping the progress lines out of the test output.
CsvFailure load(Dataset &data, const std::string &text, int header) {
  writeFile("data.csv", text);
  CaptureStdout();
  CsvFailure failure = data.loadCSV("data.csv", header);
  GetCapturedStdout();
  return failure;
}

std::string statistics(const Dataset &data) {
  CaptureStdout();
  data.summaryStatistics();
  return GetCapturedStdout();
}

} // namespace

TEST(ReadCsv, GridWithoutHeader) {
  testsupport::ScopedTempDir dir;
  writeFile("grid.csv", gridCsv());
  Dataset data;
  CaptureStdout();
  data.readCSV("grid.csv", 0);
  EXPECT_EQ(GetCapturedStdout(), "no header\n10 cases, 20 variables\n");
  long nodes = 0;
  long cases = 0;
  data.getSize(nodes, cases);
  EXPECT_EQ(nodes, 20);
  EXPECT_EQ(cases, 10);
  std::vector<int> ns;
  data.getNs(ns);
  EXPECT_EQ(ns, std::vector<int>(20, -1));
  const std::vector<float> col13 = column(data, 13);
  EXPECT_FLOAT_EQ(col13[0], 0.13f);
  EXPECT_FLOAT_EQ(col13[9], 9.13f);
  long target = 0;
  data.getTargetVar(target);
  EXPECT_EQ(target, 19);
}

TEST(ReadCsv, GridWithHeaderTakesNamesFromFirstLine) {
  testsupport::ScopedTempDir dir;
  writeFile("grid.csv", gridCsv());
  Dataset data;
  CaptureStdout();
  data.readCSV("grid.csv", 1);
  EXPECT_EQ(GetCapturedStdout(), "with header\n9 cases, 20 variables\n");
  std::vector<std::string> names;
  data.getNodeName(names);
  ASSERT_EQ(names.size(), 20u);
  EXPECT_EQ(names[0], "0.00");
  EXPECT_EQ(names[19], "0.19");
  EXPECT_FLOAT_EQ(column(data, 2)[0], 1.02f);
}

TEST(ReadCsv, ShortLineIsACorruptedFile) {
  testsupport::ScopedTempDir dir;
  std::string text = gridCsv();
  text.insert(text.find('\n', text.find('\n') + 1), ",0.5"); // line 2 one field longer
  const std::string shortLine = "1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19\n";
  Dataset data;
  CsvFailure failure = load(data, gridCsv() + shortLine, 0);
  EXPECT_TRUE(failure.toStdout);
  EXPECT_EQ(failure.message, kCorrupted);
  long nodes = -1;
  long cases = -1;
  data.getSize(nodes, cases);
  EXPECT_EQ(nodes, 0) << "a failed load leaves the data set as it was";
  EXPECT_TRUE(load(data, text, 0)) << "a longer line is corrupt too";

  writeFile("data.csv", gridCsv() + shortLine);
  const std::string out = dir.path() + "/stdout.txt";
  EXPECT_EXIT(
      {
        std::freopen(out.c_str(), "w", stdout);
        data.readCSV("data.csv", 0);
      },
      testing::ExitedWithCode(1), "");
  EXPECT_EQ(readFile(out), std::string("no header\n11 cases, 20 variables\n") + kCorrupted);
}

TEST(ReadCsv, UnopenableFileEndsWithStatusOneNamingIt) {
  testsupport::ScopedTempDir dir;
  Dataset data;
  EXPECT_EXIT(data.readCSV("absent.csv", 0), testing::ExitedWithCode(1), "absent\\.csv");
  writeFile("empty.csv", "");
  EXPECT_EXIT(data.readCSV("empty.csv", 1), testing::ExitedWithCode(1), "empty\\.csv");
}

// "ab\0x" and "ab\0y" would both print as "ab": the file is refused, naming the line, before
// any progress line and without touching the data set.
TEST(ReadCsv, NulByteIsRefusedNamingTheLine) {
  testsupport::ScopedTempDir dir;
  Dataset data;
  ASSERT_FALSE(load(data, "a,1\nb,2\n", 0));
  const std::string withNul = std::string("name,v\nab\0x,1\nab\0y,2\n", 21);
  writeFile("data.csv", withNul);
  CaptureStdout();
  CsvFailure failure = data.loadCSV("data.csv", 1);
  EXPECT_EQ(GetCapturedStdout(), "");
  EXPECT_FALSE(failure.toStdout);
  EXPECT_EQ(failure.message, "the CSV file data.csv holds a NUL byte on line 2\n");
  long nodes = 0;
  long cases = 0;
  data.getSize(nodes, cases);
  EXPECT_EQ(nodes, 2);
  EXPECT_EQ(cases, 2);
  EXPECT_EXIT(data.readCSV("data.csv", 1), testing::ExitedWithCode(1), "NUL byte on line 2");
}

TEST(ReadCsv, NumericAndTextColumnsByFirstRow) {
  testsupport::ScopedTempDir dir;
  Dataset data;
  ASSERT_FALSE(load(data, "3.5,-2,1e5,7\n4,-3,2e5,\n,x,1e5,9\n", 0));
  std::vector<int> ns;
  data.getNs(ns);
  EXPECT_EQ(ns, (std::vector<int>{-1, 3, 2, -1}));
  EXPECT_EQ(column(data, 0), (std::vector<float>{3.5f, 4.0f, kMissing}));
  EXPECT_EQ(column(data, 1), (std::vector<float>{0.0f, 1.0f, 2.0f}));
  EXPECT_EQ(column(data, 2), (std::vector<float>{0.0f, 1.0f, 0.0f}));
  EXPECT_EQ(column(data, 3), (std::vector<float>{7.0f, kMissing, 9.0f}));
  // Empty numeric cells are counted as missing and kept out of every statistic.
  const std::string stats = statistics(data);
  EXPECT_NE(stats.find("var=0, mean=3.75000, sd=0.35355, min=3.50000, max=4.00000, "
                       "median=3.75000, #missing=1, \n"),
            std::string::npos)
      << stats;
  EXPECT_NE(stats.find("var=3, mean=8.00000, sd=1.41421, min=7.00000, max=9.00000, "
                       "median=8.00000, #missing=1, \n"),
            std::string::npos)
      << stats;
}

TEST(ReadCsv, NonNumericTextInNumericColumnIsMissingWithWarning) {
  testsupport::ScopedTempDir dir;
  Dataset data;
  CaptureStderr();
  ASSERT_FALSE(load(data, "id,score\n1,10\n2,abc\n3,-999999999\n", 1));
  const std::string err = GetCapturedStderr();
  EXPECT_EQ(column(data, 1), (std::vector<float>{10.0f, kMissing, kMissing}));
  EXPECT_NE(err.find("line 3, column 2 (score)"), std::string::npos) << err;
  EXPECT_NE(err.find("\"abc\""), std::string::npos) << err;
  EXPECT_NE(statistics(data).find("var=1, mean=10.00000, sd=    nan, min=10.00000, "
                                  "max=10.00000, median=10.00000, #missing=2, \n"),
            std::string::npos);
}

TEST(ReadCsv, WhitespaceCarriageReturnsAndTrailingComma) {
  testsupport::ScopedTempDir dir;
  Dataset data;
  ASSERT_FALSE(load(data, " a , b ,c\r\n 1 ,x , \r\n2, y ,5\r\n", 1));
  std::vector<std::string> names;
  data.getNodeName(names);
  EXPECT_EQ(names, (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(column(data, 0), (std::vector<float>{1.0f, 2.0f}));
  EXPECT_EQ(column(data, 1), (std::vector<float>{0.0f, 1.0f}));
  EXPECT_EQ(column(data, 2), (std::vector<float>{kMissing, 5.0f}));
}

TEST(ReadCsv, HeaderOnlyFileHasNoCases) {
  testsupport::ScopedTempDir dir;
  Dataset data;
  ASSERT_FALSE(load(data, "a,b\n", 1));
  long nodes = 0;
  long cases = -1;
  data.getSize(nodes, cases);
  EXPECT_EQ(nodes, 2);
  EXPECT_EQ(cases, 0);
}

TEST(StateMapping, SortedDistinctTextsBecomeStates) {
  testsupport::ScopedTempDir dir;
  Dataset data;
  ASSERT_FALSE(load(data, "b\na\nb\n", 0));
  EXPECT_EQ(column(data, 0), (std::vector<float>{1.0f, 0.0f, 1.0f}));
  CaptureStdout();
  data.viewStateMapping();
  EXPECT_EQ(GetCapturedStdout(), "************\nnode 0\nstate 0\nraw value = a, transformed value "
                                 "=0\n************\nnode 0\nstate 1\nraw value = b, transformed "
                                 "value =1\n");
}

TEST(StateMapping, NullIsAStateButStoredAsMissing) {
  testsupport::ScopedTempDir dir;
  Dataset data;
  ASSERT_FALSE(load(data, "x,low\ny,high\nz,null\n", 0));
  std::vector<int> ns;
  data.getNs(ns);
  EXPECT_EQ(ns[1], 3);
  EXPECT_EQ(column(data, 1), (std::vector<float>{1.0f, 0.0f, kMissing}));
  std::vector<stateMap> maps;
  data.getStateMaps(maps);
  ASSERT_EQ(maps.size(), 6u);
  EXPECT_EQ(maps[3].node, 1);
  EXPECT_EQ(maps[3].raw, "high");
  EXPECT_EQ(maps[5].state, 2);
  EXPECT_EQ(maps[5].raw, "null");
  EXPECT_EQ(maps[5].transformed, -999999999);

  // An empty cell of a text column is the text null, which sorts before zebra.
  ASSERT_FALSE(load(data, "zebra\n\n", 0));
  data.getNs(ns);
  EXPECT_EQ(ns, (std::vector<int>{2}));
  EXPECT_EQ(column(data, 0), (std::vector<float>{1.0f, kMissing}));
  data.getStateMaps(maps);
  ASSERT_EQ(maps.size(), 2u) << "a new load replaces the old mappings";
  EXPECT_EQ(maps[0].raw, "null");
  EXPECT_EQ(maps[1].transformed, 1);
}

TEST(SummaryStatistics, MedianMinMaxAndSparseVariables) {
  Dataset data(6, 4);
  const float evenCount[] = {4, 1, 3, 2};
  const float oddCount[] = {1, 6, kMissing, 2};
  const float missingFirst[] = {kMissing, 5, 3, kMissing};
  const float constant[] = {2, 2, 2, 2};
  const float single[] = {kMissing, kMissing, -1.5f, kMissing};
  const float none[] = {kMissing, kMissing, kMissing, kMissing};
  const float *columns[] = {evenCount, oddCount, missingFirst, constant, single, none};
  for (long v = 0; v < 6; ++v)
    data.setOneNode(columns[v], v);
  EXPECT_EQ(statistics(data),
            "var=0, mean=2.50000, sd=1.29099, min=1.00000, max=4.00000, median=2.50000, "
            "#missing=0, \n"
            "var=1, mean=3.00000, sd=2.64575, min=1.00000, max=6.00000, median=2.00000, "
            "#missing=1, \n"
            "var=2, mean=4.00000, sd=1.41421, min=3.00000, max=5.00000, median=4.00000, "
            "#missing=2, \n"
            "var=3, mean=2.00000, sd=0.00000, min=2.00000, max=2.00000, median=2.00000, "
            "#missing=0, \n"
            "var=4, mean=-1.50000, sd=    nan, min=-1.50000, max=-1.50000, median=-1.50000, "
            "#missing=3, \n"
            "var=5, mean=    nan, sd=    nan, min=    nan, max=    nan, median=    nan, "
            "#missing=4, \n");
}

TEST(DatasetAccess, SizeViewAndDisplay) {
  Dataset data(2, 2);
  const float first[] = {1.5f, kMissing};
  const float second[] = {0.1234567f, 100.0f};
  data.setOneSamp(first, 0);
  data.setOneSamp(second, 1);
  float row[2] = {0, 0};
  data.getOneSamp(row, 1);
  EXPECT_EQ(row[0], 0.1234567f);
  EXPECT_EQ(column(data, 1), (std::vector<float>{kMissing, 100.0f}));
  CaptureStdout();
  data.display();
  data.view();
  EXPECT_EQ(GetCapturedStdout(), "1.5 -1e+09 \n0.123457 100 \n"
                                 "Dataset Info\nnode name: number of states\nn0 -1\nn1 -1\n"
                                 "order\n0 1 \n2 cases, 2 nodes\nTarget variable is 1\n");
}

TEST(DatasetAccess, OutOfRangeCopiesNothing) {
  Dataset data(2, 3);
  float dst[3] = {9, 9, 9};
  const float src[3] = {1, 2, 3};
  CaptureStderr();
  data.getOneNode(dst, 2);
  data.setOneNode(src, -1);
  data.getOneSamp(dst, 3);
  data.setOneSamp(src, 3);
  const std::string err = GetCapturedStderr();
  EXPECT_EQ(err, "Samples::getOneNode: out of boundSamples::setOneNode: out of boundout of "
                 "boundsample index out of bound: sample index=3");
  EXPECT_EQ(dst[0], 9.0f);
  EXPECT_EQ(dst[2], 9.0f);
  EXPECT_EQ(column(data, 0), (std::vector<float>{0, 0, 0}));
}

TEST(DatasetAccess, WrongLengthListsEndTheProcess) {
  Dataset data(2, 1);
  EXPECT_EXIT(data.setNs({1, 2, 3}), testing::ExitedWithCode(1), "Dataset::setNs error");
  EXPECT_EXIT(data.setNodeName({"a"}), testing::ExitedWithCode(1), "Dataset::setNodeName error");
  data.setNs({-1, 4});
  data.setNodeName({"age", "group"});
  data.setSize(1, 1);
  std::vector<std::string> names;
  data.getNodeName(names);
  std::vector<int> ns;
  data.getNs(ns);
  EXPECT_EQ(names, (std::vector<std::string>{"n0"}));
  EXPECT_EQ(ns, (std::vector<int>{-1}));
}
