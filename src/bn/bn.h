#pragma once
// A discrete Bayesian network: nodes with their state counts, a Dag, and one table per node.
//
// Table (CPD vector) of a node: [node id, E, entries...], E = r * q with r the node's state
// count and q the product of its parents' state counts. With parents p1 < p2 < ... < pm,
// configuration j = s(p1) + ns(p1) * (s(p2) + ns(p2) * (...)) (lowest id fastest), and the
// entry of configuration j and child state k sits at 2 + j + k * q. The table holds counts
// after getSuffStat* and conditional probabilities after paramLearning.
#include <string>
#include <vector>

#include "bn/dag.h"
#include "data/samples.h"

class BN {
public:
  BN();
  ~BN();

  // Declares n nodes named "node%d" (refused with a message when ns has another length); in
  // every case empties the graph to n nodes and drops every table.
  void setSize(int n, const std::vector<int> &ns);
  // Installs a copy of `dag` and rebuilds every table as zeros; a graph of another node count
  // is refused with a message.
  void setDag(const Dag &dag);
  // E = ns(node) * prod ns(parents) for each node in id order.
  void getCPDVectorSize(std::vector<int> &sizes) const;

  // Count tables from the sample matrix; BN node i is column i of `data`.
  void getSuffStat(const Samples &data);
  void getSuffStatNode(const Samples &data, int node);
  // Add-one smoothing, then each configuration's column normalised to sum 1. Counts in,
  // probabilities out: call once per count.
  void paramLearning(const Samples &data);

  // Family score of `node` from its count table; prior 2 gives alpha = 1/(r q), any other
  // value alpha = 1. 0 when the node has no table.
  double K2ScoreNode(int node, int prior) const;
  // Sum of the family scores over all nodes in id order.
  double K2Score(int prior) const;
  // As K2ScoreNode with alpha = ess / (r q).
  double BDeuScoreNode(int node, double ess) const;
  double BDeuScore(double ess) const;

  // Count updates for one case given as bytes '0' + state indexed by node id.
  // Exchanges `outgoing` (counted) for `incoming` in every node's table.
  void updateSuffStat(const char *incoming, const char *outgoing);
  // mode 0 removes the record from every table, mode 1 adds it, other modes do nothing.
  void updateSuffStat(const char *record, int mode);
  // Change of the whole score if `outgoing` were replaced by `incoming`, from current counts.
  double updateK2Score(const char *incoming, const char *outgoing) const;
  double updateBDeuScore(const char *incoming, const char *outgoing, double ess) const;

  // Writers of the XDSL document and the text format; a network lacking a table for some
  // node, or a file that cannot be created, is reported and nothing is written.
  void toFileXDSL(const char *path) const;
  void toFileBNT(const char *path) const;
  // Reads the text format. On a file that cannot be opened, ends early, holds something other
  // than the expected numbers or declares tables of more than kMaxReadEntries entries in all,
  // returns false with `error` naming the file and leaves the network empty.
  bool readFile(const char *path, std::string &error);
  // The same, with the error printed on standard error.
  bool readFile(const char *path);
  // Bound on the entries of all tables of a network read from a file (512 MiB of values), so a
  // corrupt state count cannot exhaust memory.
  static constexpr long kMaxReadEntries = 1L << 26;

  int getNodeCount() const { return nNodes; }
  const std::vector<int> &getNs() const { return ns; }
  const std::vector<std::string> &getNames() const { return names; }
  const Dag &getDag() const { return dag; }
  // The first table of `node`, or an empty vector when it has none.
  const std::vector<double> &getCPD(int node) const;

private:
  friend void copy_bn(BN &dst, const BN &src);

  // The table of `node`, or nullptr. setDag builds table i for node i and nothing reorders them,
  // so the lookup is by position.
  const std::vector<double> *findCPD(int node) const;
  std::vector<double> *findCPD(int node);
  // Configuration index of `record` in the family table of `node` (parents ascending, then
  // the node; strides from the network's state counts).
  long recordIndex(const char *record, int node) const;
  double exchangeScoreChange(const char *incoming, const char *outgoing, bool k2, double ess) const;
  // Whether every node has exactly one table of the size its parents give; reports the first
  // that does not, naming `operation`.
  bool tablesComplete(const char *operation) const;

  int nNodes = 0;
  std::vector<std::string> names;
  std::vector<int> ns;
  Dag dag;
  std::vector<std::vector<double>> cpd;

  // Scratch reused by the per-candidate count and the update operations.
  mutable std::vector<int> family;
  mutable std::vector<int> parentOffsets;
  mutable std::vector<long> strides;
  std::vector<double> counts;
};

void copy_bn(BN &dst, const BN &src);

// Family score straight from a count table laid out as CPD entries (configuration j and child
// state k at j + k * q, q = entries / r):
//   score = sum_j [ lnG(a_j) - lnG(a_j + N_j) + sum_k ( lnG(a + N_jk) - lnG(a) ) ]
// with a = 1/(r q) for prior 2 and a = 1 otherwise, a_j = a added r times; accumulated exactly
// as K2ScoreNode does, so a fast candidate scan gets the same bits.
double k2FamilyScore(const double *counts, int entries, int r, int prior);
// The same sum for any alpha (the BDeu score passes ess / (r q)).
double familyScore(const double *counts, int entries, int r, double alpha);
