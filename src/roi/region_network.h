#pragma once
// The results of the region search handed back to the driver: the network of the
// representative voxels and the function variable, the closing block of the run log and the
// representative patterns on standard output.
#include <iosfwd>
#include <vector>

class BN;
class Samples;

// `bn` becomes k + 1 nodes (the representatives in order, then the function variable) with an
// arc from every representative to the function variable and add-one-smoothed tables fitted on
// `finalMatrix`, which holds the representatives' columns in order, then the function
// variable's, over the study's cases.
void fitRegionNetwork(BN &bn, const Samples &finalMatrix);

// Appends the closing block to the run log, hands R over as `representatives` and writes
// each representative's pattern and the function variable's on `out`; `finalMatrix` as above.
void reportRepresentatives(std::vector<int> &representatives, const std::vector<int> &R,
                           const Samples &finalMatrix, std::ostream &out);
