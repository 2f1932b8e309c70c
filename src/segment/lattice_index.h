#pragma once
// Conversions between linear voxel indices and lattice coordinates, first coordinate fastest, as
// the neighbourhood of a voxel is built from its coordinates.
#include <vector>

// Coordinates of linear index v, first coordinate fastest: for dims (X, Y, Z) the result is
// (v mod X, (v div X) mod Y, v div (X*Y)).
void ind2conf(std::vector<int> &conf, long v, const std::vector<int> &dims);

// Linear index of coordinates `conf`: v = sum_i conf[i] * prod_{l<i} dims[l].
void conf2ind(const std::vector<int> &conf, long &v, const std::vector<int> &dims);
