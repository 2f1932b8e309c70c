#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "data/samples.h"
#include "util/fatal.h"

void check_norm_threshold(double th, long cases) {
  if (th < 0)
    torva::exitWithMessage(torva::kExitInputError, stdout, "Error: th MUST be greater than 0\n");
  if (th > cases)
    torva::exitWithMessage(torva::kExitInputError, stdout,
                           "Error: th MUST be less than sample size\n");
}

// Voxel norms (sum of |cell - '0'| over the cases, as vector_norm computes per column) are
// accumulated row by row: the matrix is stored case by case, so a column walk per voxel would
// stride across every row.
void Samples::pre_threshold(std::vector<int> &out, int type, double th) const {
  out.clear();
  // A matrix whose extents claim more voxels than it has columns is screened over its columns.
  const long voxels =
      std::min(static_cast<long>(xSize) * ySize * zSize, static_cast<long>(nodeCount));
  if (type == 1)
    check_norm_threshold(th, caseCount);
  std::vector<int> norms(static_cast<std::size_t>(voxels), 0);
  for (long c = 0; c < caseCount; ++c) {
    const char *row = cells.data() + c * nodeCount;
    for (long v = 0; v < voxels; ++v)
      norms[v] += std::abs(static_cast<int>(row[v]) - '0');
  }
  for (long v = 0; v < voxels; ++v) {
    const bool keep = type == 1 ? static_cast<double>(norms[v]) >= th : norms[v] != 0;
    if (keep)
      out.push_back(static_cast<int>(v));
  }
}
