#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "bn/bn.h"
#include "bn/bn_fixtures.h"
#include "support/temp_dir.h"

using testsupport::readFile;
using testsupport::ScopedTempDir;
using testsupport::writeFile;

namespace {

const char *const kDisplayBlock = "<interior color=\"e5f6f7\" />\n"
                                  "<outline color=\"000080\" />\n"
                                  "<font color=\"000000\" name=\"Arial\" size=\"8\" />\n"
                                  "<position>116 153 164 183</position>\n"
                                  "</node>\n";

std::string displayBlock(const std::string &name) {
  return "<node id=\"" + name + "\">\n<name>" + name + "</name>\n" + kDisplayBlock;
}

void learnTwoNodeNetwork(BN &bn) {
  Samples data;
  bntest::countTwoNodeNetwork(bn, data);
  bn.paramLearning(data);
}

// Node 2 with parents 1, 3 and 4 (all two-state, zero counts learned to uniform tables).
void learnFiveNodeNetwork(BN &bn) {
  bn.setSize(5, {2, 2, 2, 2, 2});
  Dag dag(5);
  dag.set(3, 2, 1);
  dag.set(1, 2, 1);
  dag.set(4, 2, 1);
  bn.setDag(dag);
  Samples unused;
  bn.paramLearning(unused);
}

} // namespace

TEST(XdslWriter, TwoNodeNetworkWholeDocument) {
  ScopedTempDir dir;
  BN bn;
  learnTwoNodeNetwork(bn);
  bn.toFileXDSL("bn.el.xdsl");
  const std::string expected = std::string("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
                                           "<smile version=\"1.0\" id=\"Network1\" "
                                           "numsamples=\"1000\">\n"
                                           "<nodes>\n"
                                           "<cpt id=\"node0\">\n"
                                           "<state id=\"s0\" />\n"
                                           "<state id=\"s1\" />\n"
                                           "<probabilities>0.5455 0.4545</probabilities>\n"
                                           "</cpt>\n"
                                           "<cpt id=\"node1\">\n"
                                           "<state id=\"s0\" />\n"
                                           "<state id=\"s1\" />\n"
                                           "<parents>node0</parents>\n"
                                           "<probabilities>0.8462 0.1538 0.0909 "
                                           "0.9091</probabilities>\n"
                                           "</cpt>\n"
                                           "</nodes>\n"
                                           "<extensions>\n"
                                           "<genie version=\"1.0\" name=\"Network1\" "
                                           "faultnameformat=\"nodestate\">\n") +
                               displayBlock("node0") + displayBlock("node1") +
                               "</genie>\n</extensions>\n</smile>";
  EXPECT_EQ(readFile("bn.el.xdsl"), expected);
}

TEST(XdslWriter, DocumentIsWellFormedXml) {
  if (!testsupport::fileExistsOnDisk("/usr/bin/xmllint"))
    GTEST_SKIP() << "xmllint is not installed";
  ScopedTempDir dir;
  BN bn;
  learnFiveNodeNetwork(bn);
  bn.toFileXDSL("five.xdsl");
  learnTwoNodeNetwork(bn);
  bn.toFileXDSL("two.xdsl");
  EXPECT_EQ(testsupport::runCommand("/usr/bin/xmllint --noout five.xdsl two.xdsl"), 0)
      << readFile("stderr.txt");
  // A malformed document does fail, so the check above is not vacuous.
  writeFile("bad.xdsl", "<a><b id=\"s0\"></a>");
  EXPECT_NE(testsupport::runCommand("/usr/bin/xmllint --noout bad.xdsl"), 0);
}

TEST(XdslWriter, ParentsInDescendingOrderAndValuesPerConfiguration) {
  ScopedTempDir dir;
  BN bn;
  learnFiveNodeNetwork(bn);
  bn.toFileXDSL("five.xdsl");
  const std::string text = readFile("five.xdsl");
  EXPECT_NE(text.find("<cpt id=\"node2\">\n<state id=\"s0\" />\n<state id=\"s1\" />\n"
                      "<parents>node4 node3 node1</parents>\n<probabilities>0.5000"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("0.5000</probabilities>\n</cpt>\n<cpt id=\"node3\">"), std::string::npos);
}

TEST(XdslWriter, OneStateNodeWritesOneStateAndQValues) {
  ScopedTempDir dir;
  BN bn;
  bn.setSize(2, {2, 1});
  Dag dag(2);
  dag.set(0, 1, 1);
  bn.setDag(dag);
  Samples unused;
  bn.paramLearning(unused);
  bn.toFileXDSL("one.xdsl");
  EXPECT_NE(readFile("one.xdsl")
                .find("<cpt id=\"node1\">\n<state id=\"s0\" />\n"
                      "<parents>node0</parents>\n"
                      "<probabilities>1.0000 1.0000</probabilities>\n"),
            std::string::npos);
}

TEST(XdslWriter, ValuesAreRoundedAfterSinglePrecision) {
  // As doubles 0.00015 and 0.99985 print as 0.0001 and 0.9999; as floats, 0.0002 and 0.9998.
  ScopedTempDir dir;
  writeFile("in.txt", "1\n2 \n0 \n2 0.00015 0.99985 \n");
  BN bn;
  ASSERT_TRUE(bn.readFile("in.txt"));
  bn.toFileXDSL("r.xdsl");
  EXPECT_NE(readFile("r.xdsl").find("<probabilities>0.0002 0.9998</probabilities>"),
            std::string::npos)
      << readFile("r.xdsl");
}

TEST(TextWriter, TwoNodeNetworkWholeFile) {
  ScopedTempDir dir;
  BN bn;
  learnTwoNodeNetwork(bn);
  bn.toFileBNT("bn.el.torva");
  EXPECT_EQ(readFile("bn.el.torva"), "2\n2 2 \n0 \n1 0 \n2 0.545455 0.454545 \n"
                                     "4 0.846154 0.0909091 0.153846 0.909091 \n");
}

TEST(TextWriter, EntryCountOfAMillionEntriesInSixDigitsReadsBack) {
  ScopedTempDir dir;
  BN bn;
  bn.setSize(2, {1024, 1024});
  Dag dag(2);
  dag.set(0, 1, 1);
  bn.setDag(dag);
  bn.toFileBNT("large.txt");
  const std::string text = readFile("large.txt");
  const std::string head = "2\n1024 1024 \n0 \n1 0 \n1024 0 0 ";
  EXPECT_EQ(text.substr(0, head.size()), head);
  // 1048576 entries, written like every other double.
  EXPECT_NE(text.find(" \n1.04858e+06 0 0 "), std::string::npos);
  BN read;
  ASSERT_TRUE(read.readFile("large.txt"));
  ASSERT_EQ(read.getCPD(1).size(), 2u + 1048576u);
  EXPECT_EQ(read.getCPD(1)[1], 1048576.0);
}

TEST(TextWriter, ParentLineIsAscending) {
  ScopedTempDir dir;
  BN bn;
  learnFiveNodeNetwork(bn);
  bn.toFileBNT("five.txt");
  EXPECT_NE(readFile("five.txt").find("\n0 \n3 1 3 4 \n0 \n"), std::string::npos);
}

TEST(Writers, EmptyNetworkSkeleton) {
  ScopedTempDir dir;
  BN bn;
  bn.toFileBNT("empty.txt");
  EXPECT_EQ(readFile("empty.txt"), "0\n\n");
  bn.toFileXDSL("empty.xdsl");
  EXPECT_EQ(readFile("empty.xdsl"),
            "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
            "<smile version=\"1.0\" id=\"Network1\" numsamples=\"1000\">\n<nodes>\n</nodes>\n"
            "<extensions>\n<genie version=\"1.0\" name=\"Network1\" "
            "faultnameformat=\"nodestate\">\n</genie>\n</extensions>\n</smile>");
}

TEST(Writers, NetworkWithoutTablesIsRefusedAndOldFilesKept) {
  ScopedTempDir dir;
  writeFile("bn.el.xdsl", "earlier");
  writeFile("bn.el.torva", "earlier");
  BN bn;
  bn.setSize(2, {2, 2});
  testing::internal::CaptureStderr();
  bn.toFileXDSL("bn.el.xdsl");
  bn.toFileBNT("bn.el.torva");
  const std::string message = testing::internal::GetCapturedStderr();
  EXPECT_NE(message.find("BN::toFileXDSL: node 0"), std::string::npos) << message;
  EXPECT_NE(message.find("BN::toFileBNT: node 0"), std::string::npos) << message;
  EXPECT_EQ(readFile("bn.el.xdsl"), "earlier");
  EXPECT_EQ(readFile("bn.el.torva"), "earlier");

  // A node without states cannot have a table to write.
  bn.setSize(1, {0});
  bn.setDag(Dag(1));
  testing::internal::CaptureStderr();
  bn.toFileXDSL("bn.el.xdsl");
  EXPECT_NE(testing::internal::GetCapturedStderr().find("node 0 has 0 states"), std::string::npos);
  EXPECT_EQ(readFile("bn.el.xdsl"), "earlier");
}

TEST(Writers, UncreatableFileIsReported) {
  ScopedTempDir dir;
  BN bn;
  learnTwoNodeNetwork(bn);
  testing::internal::CaptureStderr();
  bn.toFileXDSL("no-such-dir/bn.el.xdsl");
  bn.toFileBNT("no-such-dir/bn.el.torva");
  const std::string message = testing::internal::GetCapturedStderr();
  EXPECT_NE(message.find("cannot create no-such-dir/bn.el.xdsl"), std::string::npos) << message;
  EXPECT_NE(message.find("cannot create no-such-dir/bn.el.torva"), std::string::npos) << message;
}

TEST(TextReader, RoundTripRestoresNetwork) {
  ScopedTempDir dir;
  BN written;
  learnTwoNodeNetwork(written);
  written.toFileBNT("bn.txt");
  BN read;
  ASSERT_TRUE(read.readFile("bn.txt"));
  EXPECT_EQ(read.getNodeCount(), 2);
  EXPECT_EQ(read.getNs(), (std::vector<int>{2, 2}));
  EXPECT_EQ(read.getNames(), (std::vector<std::string>{"node0", "node1"}));
  std::vector<int> links;
  EXPECT_EQ(read.getDag().getLinks(links), 1);
  EXPECT_EQ(links, (std::vector<int>{0, 1}));
  for (int i = 0; i < 2; ++i) {
    const std::vector<double> &a = written.getCPD(i);
    const std::vector<double> &b = read.getCPD(i);
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t e = 0; e < a.size(); ++e)
      EXPECT_NEAR(a[e], b[e], 5e-6 * a[e]) << i << " " << e;
  }
  // Written again, the text is unchanged.
  read.toFileBNT("again.txt");
  EXPECT_EQ(readFile("again.txt"), readFile("bn.txt"));

  BN five;
  learnFiveNodeNetwork(five);
  five.toFileBNT("five.txt");
  ASSERT_TRUE(read.readFile("five.txt"));
  std::vector<int> parents;
  read.getDag().getParents(parents, 2);
  EXPECT_EQ(parents, (std::vector<int>{1, 3, 4}));
  EXPECT_EQ(read.getCPD(2).size(), 2u + 16u);
}

TEST(TextReader, BadFilesAreReportedAndLeaveTheNetworkEmpty) {
  ScopedTempDir dir;
  const struct {
    const char *text;
    const char *problem;
  } cases[] = {
      {"2\n2 2 \n0 \n1 0 \n2 0.5 0.5 \n4 0.8 0.1 0.2", "ends early"},
      {"2\n2 2 \n0 \n1 0 \n2 0.5 x \n4 0.8 0.1 0.2 0.9 \n", "'x' is not a number"},
      {"2\n2 two \n", "'two' is not a whole number"},
      {"2\n2 2 \n0 \n1 2 \n", "is not a node"},
      {"2\n2 2 \n0 \n2 0 0 \n", "listed twice"},
      {"2\n2 2 \n0 \n1 0 \n2 0.5 0.5 \n2 0.8 0.1 0.2 0.9 \n", "entry count"},
      {"-1\n", "node count"},
      {"1\n0 \n", "state count"},
      {"", "ends early"},
  };
  for (const auto &bad : cases) {
    writeFile("bad.txt", bad.text);
    BN bn;
    learnTwoNodeNetwork(bn);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(bn.readFile("bad.txt")) << bad.text;
    const std::string message = testing::internal::GetCapturedStderr();
    EXPECT_NE(message.find("bad.txt"), std::string::npos) << message;
    EXPECT_NE(message.find(bad.problem), std::string::npos) << message;
    EXPECT_EQ(bn.getNodeCount(), 0);
    EXPECT_TRUE(bn.getCPD(0).empty());
  }
  BN bn;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(bn.readFile("absent.txt"));
  EXPECT_NE(testing::internal::GetCapturedStderr().find("cannot open absent.txt"),
            std::string::npos);
}

// A network of many nodes is read and written with a bounded number of looks at each arc; the
// quadratic form looks at every arc once per node (here 2000 x 1999 times).
TEST(TextFormat, ReadingAndWritingLookAtEachArcAFewTimes) {
  ScopedTempDir dir;
  const int nodes = 2000;
  BN chain;
  chain.setSize(nodes, std::vector<int>(nodes, 2));
  Dag dag(nodes);
  std::vector<int> arcs;
  for (int i = 1; i < nodes; ++i) {
    arcs.push_back(i - 1);
    arcs.push_back(i);
  }
  dag.setLinks(arcs);
  chain.setDag(dag);
  const long long arcCount = nodes - 1;
  long long before = Dag::arcVisits();
  chain.toFileBNT("chain.txt");
  chain.toFileXDSL("chain.xdsl");
  EXPECT_LE(Dag::arcVisits() - before, 10 * arcCount);

  BN read;
  before = Dag::arcVisits();
  ASSERT_TRUE(read.readFile("chain.txt"));
  read.toFileBNT("again.txt");
  EXPECT_LE(Dag::arcVisits() - before, 5 * arcCount);
  EXPECT_EQ(readFile("again.txt"), readFile("chain.txt"));
  std::vector<int> parents;
  read.getDag().getParents(parents, 1234);
  EXPECT_EQ(parents, (std::vector<int>{1233}));
}

// 40 nodes of 67108864 states would need 40 x 512 MiB of tables: refused from the header, with
// the total, before any table exists. Two such tables of 2^25 entries are exactly the bound.
TEST(TextReader, TotalTableSizeIsBounded) {
  ScopedTempDir dir;
  std::string huge = "40\n";
  for (int i = 0; i < 40; ++i)
    huge += "67108864 ";
  huge += "\n";
  for (int i = 0; i < 40; ++i)
    huge += "0 \n";
  writeFile("huge.txt", huge);
  BN bn;
  learnTwoNodeNetwork(bn);
  std::string error;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(bn.readFile("huge.txt", error));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "the error goes to the caller";
  EXPECT_EQ(error, "BN::readFile: huge.txt: item 43 (parent list): gives the tables 134217728 "
                   "entries in all (1024 MiB); at most 67108864 are read\n");
  EXPECT_EQ(bn.getNodeCount(), 0);

  writeFile("at.txt", "2\n33554432 33554432 \n0 \n0 \n");
  EXPECT_FALSE(bn.readFile("at.txt", error));
  EXPECT_NE(error.find("item 6 (entry count): the file ends early"), std::string::npos) << error;
  writeFile("over.txt", "3\n33554432 33554432 1 \n0 \n0 \n1 0 \n");
  EXPECT_FALSE(bn.readFile("over.txt", error));
  EXPECT_NE(error.find("100663296 entries in all (768 MiB)"), std::string::npos) << error;
}
