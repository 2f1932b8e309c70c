#pragma once
// The discrete sample matrix: cases (subjects) by nodes (voxels, then the function variable),
// one byte per cell holding '0' + state, stored row by row (one row of nodeCount bytes per case).
#include <string>
#include <vector>

class Samples {
public:
  Samples();
  ~Samples();
  Samples(const Samples &) = delete;
  Samples &operator=(const Samples &) = delete;

  // Node count first, case count second.
  void getSize(long &nodes, long &cases) const;
  // Declares nodes x cases cells (contents undefined), every node with two states, identity
  // node ids and order, and zero extents.
  void setSize(long nodes, long cases);

  // Column access, case 0 first. An out-of-range node prints a message and copies nothing.
  void getOneNode(char *dst, long node) const;
  void setOneNode(const char *src, long node);

  void getNs(std::vector<int> &ns) const;
  void setNs(const std::vector<int> &ns);
  void getXYZSiz(std::vector<int> &v) const;
  void setXYZSiz(int x, int y, int z);
  // Makes the node order the identity and hands it out.
  void setNatureNodeOrder();
  void getNodeOrder(std::vector<int> &order) const;

  // Raw row-major cells: the cell of case c and node i is at c * nodeCount + i.
  const char *cellData() const { return cells.data(); }
  char *cellData() { return cells.data(); }
  char cell(long c, long node) const { return cells[c * nodeCount + node]; }
  void setCell(long c, long node, char value) { cells[c * nodeCount + node] = value; }

  // Counts of the joint configurations of the listed columns over all cases, first listed
  // column fastest.
  void getDistribution(std::vector<double> &counts, const std::vector<int> &nodes) const;
  // The same count with the caller's stride scratch, so that repeated counts allocate nothing.
  // A listed column out of range is reported and leaves `counts` empty (result false).
  bool getDistribution(std::vector<double> &counts, const std::vector<int> &nodes,
                       std::vector<long> &strides) const;

  // 0-based voxel nodes (below X*Y*Z) that pass the screening test of `type`.
  void pre_threshold(std::vector<int> &out, int type, double th) const;

  // Text export: 0 CSV with a header line, 1 ARFF, anything else CSV without a header.
  void write(const char *path, int layout) const;

private:
  int nodeCount = 0;
  int caseCount = 0;
  int xSize = 0;
  int ySize = 0;
  int zSize = 0;
  std::vector<char> cells;
  std::vector<int> nodeIds;
  std::vector<int> ns;
  std::vector<int> nodeOrder;
};

// The range check of the norm threshold of screening type 1: below 0 or above the case count
// ends the process with the threshold messages.
void check_norm_threshold(double th, long cases);

// Builds `dst` from the listed nodes of `src`, in list order (repeats allowed); dst's extents
// stay 0.
void subset_node(Samples &dst, const Samples &src, const std::vector<int> &nodes);
