#pragma once
// Structure of a Bayesian network: a node count and a flat list of arcs (parent, child) in
// insertion order. The networks the analysis builds have a handful of nodes, so single queries
// search the arcs linearly and no adjacency index is kept; whole-network work (sizing every
// table, writing and reading files) takes all parent lists in one pass instead.
#include <vector>

class Dag {
public:
  Dag();
  explicit Dag(int n);
  Dag(const Dag &other);
  Dag &operator=(const Dag &other);
  ~Dag();

  // Changes the node count and removes every arc, even when the count is unchanged.
  void setSize(int n);
  int getSize() const;
  // Removes every arc; the node count stays.
  void clear();

  // value 1 adds from -> to unless it is stored already; any other value removes it.
  // Ids outside 0 .. size-1 are reported and change nothing.
  void set(int from, int to, int value);
  // 1 if from -> to is stored, 0 if not, -1000 for an id out of range.
  int get(int from, int to) const;

  // Parents (children) of `node`, ascending: the table layout and the writers rely on it.
  void getParents(std::vector<int> &out, int node) const;
  void getChildren(std::vector<int> &out, int node) const;
  // Parents of every node from one pass over the arcs, each list ascending as getParents gives
  // it: node i's are parents[offsets[i] .. offsets[i+1]-1].
  void getParentLists(std::vector<int> &offsets, std::vector<int> &parents) const;
  // The arc list as pairs in stored order; returns the number of arcs.
  int getLinks(std::vector<int> &out) const;
  // Replaces the arc list as it stands, without checks.
  void setLinks(const std::vector<int> &pairs);
  // Drops the -1 markers that a removal leaves, keeping the order of the rest.
  void clean();

  // One line "parent --> child" per arc, in stored order, on standard output.
  void display() const;
  void showArc() const;

  // Arc entries examined by the queries of any graph on the calling thread so far, so tests
  // can check that a whole-network operation stays linear in the arcs.
  static long long arcVisits();

private:
  int size = 0;
  std::vector<int> links;
};

void copy_dag(Dag &dst, const Dag &src);
