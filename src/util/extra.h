#pragma once
// Small functions shared by several subsystems: random integers, file existence, and the
// conversions between linear voxel indices and lattice coordinates.
#include <vector>

#include "util/index_sets.h"
#include "util/pattern_measures.h"

// Uniform random integer in 0 .. n-1 drawn from the C library's rand(), so that runs seeded
// with srand(0) reproduce. The divisor is one less than RAND_MAX, so the quotient may slightly
// exceed 1; the result is clamped into range.
int unif(int n);

// Returns only when `path` is a regular file that can be opened for reading; otherwise reports
// it (on standard output, with the reason on standard error) and ends the process with status 1.
void fileExists(const char *path);

// Coordinates of linear index v, first coordinate fastest: for dims (X, Y, Z) the result is
// (v mod X, (v div X) mod Y, v div (X*Y)).
void ind2conf(std::vector<int> &conf, long v, const std::vector<int> &dims);

// Linear index of coordinates `conf`: v = sum_i conf[i] * prod_{l<i} dims[l].
void conf2ind(const std::vector<int> &conf, long &v, const std::vector<int> &dims);

#include "util/conf_index.h"
#include "util/gammaln.h"
