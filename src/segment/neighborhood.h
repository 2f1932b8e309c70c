#pragma once
// Neighbourhood systems over the segmentation set (the candidates, then the representative):
// one list per member of flat (tag, linear voxel index) pairs, the tag always 0. Only members
// are listed. Voxel ids are 1-based, linear indices 0-based (v = x + X*(y + Y*z)).
#include <cstdio>
#include <string>
#include <vector>

// Ends the process with status 1, naming the voxel, when the representative or a candidate is
// not a voxel id of the volume (1 .. X*Y*Z).
void check_voxel_ids(int representative, const std::vector<int> &candidates,
                     const std::vector<int> &xyz);

// Lattice neighbours of voxel v that the mask marks as members ('0'): the eight in-slice
// neighbours and the two face neighbours across slices, in a fixed order. `order` is accepted
// for callers that pass it and has no effect.
void voxel_get_neighbor_id(std::vector<int> &out, long v, const char *mask,
                           const std::vector<int> &xyz, int order);

// The lattice neighbourhood: one list per candidate in the given order, then the
// representative's. Voxel ids are checked as by check_voxel_ids.
void create_nbhd_system_kclustering(std::vector<std::vector<int>> &nbhd, int representative,
                                    const std::vector<int> &candidates,
                                    const std::vector<int> &xyz);

// The neighbourhood read from "nbhd_system.torva" (per voxel of the volume, in linear order, a
// count n and n neighbour ids). Lists come in the order of `candidates`, then the
// representative's. A missing file, a malformed record or a relation that is not symmetric
// among the members ends the process with status 1.
void create_nbhd_system_fromfile(std::vector<std::vector<int>> &nbhd, int representative,
                                 const std::vector<int> &candidates, const std::vector<int> &xyz);

// Reads the records of a neighbourhood file: for every voxel v of the volume (memberIndex has
// one entry per voxel) a count and that many 1-based neighbour ids. For a member voxel
// (memberIndex[v] >= 0) its member neighbours are appended to memberLists[memberIndex[v]] as
// (0, index) pairs, in file order with duplicates kept. On a file that ends early, a token that
// is not an integer, a negative count or an id outside the volume, returns false with `error`
// naming `fileName` and the voxel.
bool parse_nbhd_file(std::vector<std::vector<int>> &memberLists, std::FILE *file,
                     const std::vector<int> &memberIndex, const std::string &fileName,
                     std::string &error);

// Checks that among the members each listed neighbour lists the member back. `members` are
// 0-based voxel indices; `lists` hold (tag, index) pairs. On failure `error` names both voxels.
bool check_nbhd_symmetric(const std::vector<int> &members,
                          const std::vector<std::vector<int>> &lists, const std::string &fileName,
                          std::string &error);
