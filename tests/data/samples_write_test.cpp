#include "data/samples.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"

using testsupport::readFile;

namespace {

// Two nodes, three cases with the states (0, 1), (1, 1), (0, 0).
void fillTwoByThree(Samples &samples) {
  samples.setSize(2, 3);
  const char node0[] = {'0', '1', '0'};
  const char node1[] = {'1', '1', '0'};
  samples.setOneNode(node0, 0);
  samples.setOneNode(node1, 1);
}

} // namespace

TEST(SamplesWrite, ThreeLayoutsOfTheTwoNodeMatrix) {
  testsupport::ScopedTempDir dir;
  Samples samples;
  fillTwoByThree(samples);
  samples.write("out.csv", 0);
  samples.write("out.arff", 1);
  samples.write("bare.csv", 7);
  EXPECT_EQ(readFile("out.csv"), "n0,n1\n0,1\n1,1\n0,0\n");
  EXPECT_EQ(readFile("out.arff"),
            "@relation out.arff\n@attribute 0 {0,1}\n@attribute 1 {0,1}\n@data\n0,1\n1,1\n0,0\n");
  EXPECT_EQ(readFile("bare.csv"), "0,1\n1,1\n0,0\n");
}

TEST(SamplesWrite, OneNodeAndThreeStates) {
  testsupport::ScopedTempDir dir;
  Samples samples;
  samples.setSize(1, 2);
  const char column[] = {'2', '0'};
  samples.setOneNode(column, 0);
  samples.setNs({3});
  samples.write("one.csv", 0);
  samples.write("one.arff", 1);
  EXPECT_EQ(readFile("one.csv"), "n0\n2\n0\n");
  EXPECT_EQ(readFile("one.arff"), "@relation one.arff\n@attribute 0 {0,1,2}\n@data\n2\n0\n");
}

TEST(SamplesWrite, NoNodesGiveEmptyHeaderAndNoAttributes) {
  testsupport::ScopedTempDir dir;
  Samples samples;
  samples.setSize(0, 0);
  samples.write("empty.csv", 0);
  samples.write("empty.arff", 1);
  EXPECT_EQ(readFile("empty.csv"), "\n");
  EXPECT_EQ(readFile("empty.arff"), "@relation empty.arff\n@data\n");
}

TEST(SamplesWrite, TruncatesAnExistingLongerFile) {
  testsupport::ScopedTempDir dir;
  testsupport::writeFile("out.csv", std::string(200, 'x') + "\n");
  Samples samples;
  fillTwoByThree(samples);
  samples.write("out.csv", 2);
  EXPECT_EQ(readFile("out.csv"), "0,1\n1,1\n0,0\n");
}

TEST(SamplesWrite, UnwritableFileOrStateCountsAreReportedWithThePath) {
  testsupport::ScopedTempDir dir;
  Samples samples;
  fillTwoByThree(samples);
  testing::internal::CaptureStderr();
  samples.write("no/such/dir/out.csv", 0);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("no/such/dir/out.csv"), std::string::npos) << err;
  EXPECT_FALSE(testsupport::fileExistsOnDisk("no/such/dir/out.csv"));

  samples.setNs({2}); // one state count for two nodes
  testing::internal::CaptureStderr();
  samples.write("out.arff", 1);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("out.arff"), std::string::npos);
  EXPECT_FALSE(testsupport::fileExistsOnDisk("out.arff"));
}
