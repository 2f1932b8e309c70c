// BDeu score and the count/score updates for exchanging one case.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "bn/bn.h"
#include "bn/bn_fixtures.h"

namespace {

// Four nodes of 2, 3, 2 and 3 states with arcs 0 -> 2, 1 -> 2, 0 -> 3, 2 -> 3: tables with
// one and two parents and columns of different lengths.
void buildMixedNetwork(BN &bn, Samples &data, int cases) {
  data.setSize(4, cases);
  const std::vector<int> ns = {2, 3, 2, 3};
  data.setNs(ns);
  for (int c = 0; c < cases; ++c)
    for (int i = 0; i < 4; ++i)
      data.setCell(c, i, static_cast<char>('0' + std::rand() % ns[i]));
  bn.setSize(4, ns);
  Dag dag(4);
  dag.set(0, 2, 1);
  dag.set(1, 2, 1);
  dag.set(0, 3, 1);
  dag.set(2, 3, 1);
  bn.setDag(dag);
  bn.getSuffStat(data);
}

std::string row(const Samples &data, int c) {
  std::string out(4, '0');
  for (int i = 0; i < 4; ++i)
    out[i] = data.cell(c, i);
  return out;
}

} // namespace

TEST(BdeuScore, AgreesWithK2UniformPriorAtUnitSampleSize) {
  BN bn;
  Samples data;
  bntest::countTwoNodeNetwork(bn, data);
  EXPECT_NEAR(bn.BDeuScoreNode(1, 1.0), -6.28752, 5e-6);
  for (int i = 0; i < 2; ++i)
    EXPECT_NEAR(bn.BDeuScoreNode(i, 1.0), bn.K2ScoreNode(i, 2), 1e-12);
  EXPECT_DOUBLE_EQ(bn.BDeuScore(1.0), bn.BDeuScoreNode(0, 1.0) + bn.BDeuScoreNode(1, 1.0));
  // A larger sample size pulls the tables toward uniform: ess = 4 on node 1 is alpha = 1.
  EXPECT_NEAR(bn.BDeuScoreNode(1, 4.0), bn.K2ScoreNode(1, 1), 1e-12);
}

TEST(ScoreUpdates, IdenticalExchangeChangesNothing) {
  BN bn;
  Samples data;
  bntest::countTwoNodeNetwork(bn, data);
  const std::vector<double> before = bn.getCPD(1);
  EXPECT_EQ(bn.updateK2Score("01", "01"), 0.0);
  EXPECT_EQ(bn.updateBDeuScore("11", "11", 1.0), 0.0);
  bn.updateSuffStat("01", "01");
  EXPECT_EQ(bn.getCPD(1), before);
}

TEST(ScoreUpdates, RootNodeExchangeWorkedExample) {
  // Counts (11, 9); a case in state 1 replaced by one in state 0: ln 12 - ln 9.
  Samples data;
  bntest::fillSamples(data, {"0", "0", "0", "0", "0", "0", "0", "0", "0", "0",
                             "0", "1", "1", "1", "1", "1", "1", "1", "1", "1"});
  BN bn;
  bn.setSize(1, {2});
  bn.setDag(Dag(1));
  bn.getSuffStat(data);
  const double before = bn.K2Score(1);
  const double delta = bn.updateK2Score("0", "1");
  EXPECT_NEAR(delta, 0.28768, 5e-6);
  bn.updateSuffStat("0", "1");
  EXPECT_EQ(bn.getCPD(0), (std::vector<double>{0, 2, 12, 8}));
  EXPECT_NEAR(bn.K2Score(1), before + delta, 1e-12);
}

TEST(ScoreUpdates, RandomExchangesMatchRecountAndRescoring) {
  std::srand(11);
  BN bn;
  Samples data;
  const int cases = 60;
  buildMixedNetwork(bn, data, cases);
  const std::vector<int> ns = {2, 3, 2, 3};
  for (int step = 0; step < 500; ++step) {
    const int c = std::rand() % cases;
    const std::string outgoing = row(data, c);
    std::string incoming = outgoing;
    for (int i = 0; i < 4; ++i)
      if (std::rand() % 2 == 0)
        incoming[i] = static_cast<char>('0' + std::rand() % ns[i]);
    const double ess = 0.5 + step % 4;
    const double k2Before = bn.K2Score(1);
    const double bdeuBefore = bn.BDeuScore(ess);
    const double k2Delta = bn.updateK2Score(incoming.c_str(), outgoing.c_str());
    const double bdeuDelta = bn.updateBDeuScore(incoming.c_str(), outgoing.c_str(), ess);
    bn.updateSuffStat(incoming.c_str(), outgoing.c_str());
    ASSERT_NEAR(bn.K2Score(1), k2Before + k2Delta, 1e-9) << step;
    ASSERT_NEAR(bn.BDeuScore(ess), bdeuBefore + bdeuDelta, 1e-9) << step;
    for (int i = 0; i < 4; ++i)
      data.setCell(c, i, incoming[i]);
  }
  // The updated tables are exactly the tables counted afresh.
  BN fresh;
  fresh.setSize(4, ns);
  fresh.setDag(bn.getDag());
  fresh.getSuffStat(data);
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(bn.getCPD(i), fresh.getCPD(i)) << i;
}

TEST(ScoreUpdates, AddAndRemoveOneRecord) {
  std::srand(5);
  BN bn;
  Samples data;
  buildMixedNetwork(bn, data, 30);
  BN original;
  copy_bn(original, bn);
  const char record[] = "1211";
  bn.updateSuffStat(record, 1);
  // Node 3 (parents 0, 2; q = 4): configuration 1 + 2 * 1 = 3, state 1 at 2 + 3 + 1 * 4.
  // Node 2 (parents 0, 1; q = 6): configuration 1 + 2 * 2 = 5, state 1 at 2 + 5 + 1 * 6.
  std::vector<double> expected3 = original.getCPD(3);
  std::vector<double> expected2 = original.getCPD(2);
  expected3[9] += 1;
  expected2[13] += 1;
  EXPECT_EQ(bn.getCPD(3), expected3);
  EXPECT_EQ(bn.getCPD(2), expected2);
  bn.updateSuffStat(record, 7);
  bn.updateSuffStat(record, 0);
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(bn.getCPD(i), original.getCPD(i)) << i;
}
