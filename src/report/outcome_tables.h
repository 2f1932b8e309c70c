#pragma once
// Each region's own view of the fitted network: the outcome's distribution given the state of
// that region's representative voxel alone, the other regions averaged out by their priors.
#include <vector>

class BN;

// For the network of the run (root voxel nodes 0 .. R-1, each a parent of the outcome node R):
//   P(outcome = k | X_r = s) = sum over the other voxels' states c of
//                              P(outcome = k | X_r = s, c) * prod_{o != r} P(X_o = c_o)
// Returns [s][k]; empty when node r is not a parent of the outcome.
std::vector<std::vector<double>> outcomeGivenRegion(const BN &network, int r);
