#include "segment/neighborhood.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "segment/lattice_index.h"
#include "util/fatal.h"
#include "util/file_checks.h"
#include "util/progress.h"
#include "util/token_reader.h"
#include "util/whole_number.h"

namespace {

const char kNbhdFile[] = "nbhd_system.torva";

// The in-slice square plus the two face neighbours across slices, in list order.
struct Offset {
  int dx, dy, dz;
};
constexpr Offset kLatticeOffsets[10] = {{0, 0, -1}, {-1, -1, 0}, {-1, 0, 0}, {-1, 1, 0}, {0, -1, 0},
                                        {0, 1, 0},  {1, -1, 0},  {1, 0, 0},  {1, 1, 0},  {0, 0, 1}};

template <typename... Args> std::string formatted(const char *pattern, Args... args) {
  char text[512];
  std::snprintf(text, sizeof text, pattern, args...);
  return text;
}

long volumeOf(const std::vector<int> &xyz) { return static_cast<long>(xyz[0]) * xyz[1] * xyz[2]; }

// Members marked '0', every other voxel '9'.
std::vector<char> membershipMask(int representative, const std::vector<int> &candidates,
                                 const std::vector<int> &xyz) {
  check_voxel_ids(representative, candidates, xyz);
  std::vector<char> mask(static_cast<std::size_t>(volumeOf(xyz)), '9');
  for (int id : candidates)
    mask[id - 1] = '0';
  mask[representative - 1] = '0';
  return mask;
}

std::string shown(const std::string &token) {
  return token.size() <= 40 ? token : token.substr(0, 40) + "...";
}

// A count or id of the file: a decimal integer with optional sign. One beyond long long takes
// the nearest end of that range, which every caller then refuses as out of range.
bool parseInteger(const std::string &token, long long &value) {
  const WholeNumber parsed = parseWholeNumber(token, LLONG_MIN, LLONG_MAX, value);
  if (parsed == WholeNumber::OutOfRange)
    value = token[0] == '-' ? LLONG_MIN : LLONG_MAX;
  return parsed != WholeNumber::NotWhole;
}

// An integer token for a message: its value, or the token as written when it is beyond long
// long, so that no digit is lost.
std::string integerShown(const std::string &token) {
  long long value = 0;
  return parseWholeNumber(token, LLONG_MIN, LLONG_MAX, value) == WholeNumber::Ok
             ? std::to_string(value)
             : shown(token);
}

struct FileCloser {
  void operator()(std::FILE *file) const { std::fclose(file); }
};

} // namespace

void check_voxel_ids(int representative, const std::vector<int> &candidates,
                     const std::vector<int> &xyz) {
  // An id outside the volume would address memory outside the mask and the sample matrix.
  const long volume = volumeOf(xyz);
  auto check = [&](int id) {
    if (id < 1 || id > volume)
      torva::exitWithMessage(
          torva::kExitInputError, stderr,
          formatted("segmentation: voxel id %d is outside 1..%ld of the %d x %d x %d volume\n", id,
                    volume, xyz[0], xyz[1], xyz[2]));
  };
  for (int id : candidates)
    check(id);
  check(representative);
}

void voxel_get_neighbor_id(std::vector<int> &out, long v, const char *mask,
                           const std::vector<int> &xyz, int /*order*/) {
  out.clear();
  out.reserve(2 * 10);
  // Reused between calls: the builders ask once per member of a set of tens of thousands.
  static thread_local std::vector<int> conf;
  static thread_local std::vector<int> target(3);
  ind2conf(conf, v, xyz);
  for (const Offset &o : kLatticeOffsets) {
    target[0] = conf[0] + o.dx;
    target[1] = conf[1] + o.dy;
    target[2] = conf[2] + o.dz;
    if (o.dz != 0) {
      if (target[2] < 0 || target[2] >= xyz[2])
        continue;
    } else if (target[0] < 0 || target[0] >= xyz[0] || target[1] < 0 || target[1] >= xyz[1]) {
      continue;
    }
    long u = 0;
    conf2ind(target, u, xyz);
    if (mask[u] == '0') {
      out.push_back(0);
      out.push_back(static_cast<int>(u));
    }
  }
}

void create_nbhd_system_kclustering(std::vector<std::vector<int>> &nbhd, int representative,
                                    const std::vector<int> &candidates,
                                    const std::vector<int> &xyz) {
  nbhd.clear();
  const std::vector<char> mask = membershipMask(representative, candidates, xyz);
  nbhd.resize(candidates.size() + 1);
  for (std::size_t i = 0; i < candidates.size(); ++i)
    voxel_get_neighbor_id(nbhd[i], candidates[i] - 1, mask.data(), xyz, 2);
  voxel_get_neighbor_id(nbhd.back(), representative - 1, mask.data(), xyz, 2);
}

bool parse_nbhd_file(std::vector<std::vector<int>> &memberLists, std::FILE *file,
                     const std::vector<int> &memberIndex, const std::string &fileName,
                     std::string &error) {
  const long volume = static_cast<long>(memberIndex.size());
  torva::TokenReader reader(file);
  std::string token;
  long long value = 0;
  for (long v = 0; v < volume; ++v) {
    const long id = v + 1;
    if (!reader.next(token)) {
      error = formatted("%s ends before the record of voxel %ld; the volume has %ld voxels\n",
                        fileName.c_str(), id, volume);
      return false;
    }
    if (!parseInteger(token, value)) {
      error = formatted("%s: the record of voxel %ld holds \"%s\", which is not an integer\n",
                        fileName.c_str(), id, shown(token).c_str());
      return false;
    }
    if (value < 0) {
      error = formatted("%s: the record of voxel %ld has a negative neighbour count %s\n",
                        fileName.c_str(), id, integerShown(token).c_str());
      return false;
    }
    const long long count = value;
    // A count beyond long long cannot be read to its end; its message shows it as written.
    const std::string countText = count == LLONG_MAX ? integerShown(token) : std::string();
    std::vector<int> *list = memberIndex[v] >= 0 ? &memberLists[memberIndex[v]] : nullptr;
    for (long long i = 0; i < count; ++i) {
      if (!reader.next(token)) {
        error = formatted("%s ends inside the record of voxel %ld: %s neighbour ids announced, "
                          "%lld found\n",
                          fileName.c_str(), id,
                          countText.empty() ? std::to_string(count).c_str() : countText.c_str(), i);
        return false;
      }
      if (!parseInteger(token, value)) {
        error = formatted("%s: the record of voxel %ld holds \"%s\", which is not an integer\n",
                          fileName.c_str(), id, shown(token).c_str());
        return false;
      }
      if (value < 1 || value > volume) {
        error = formatted("%s: the record of voxel %ld lists voxel id %s, outside 1..%ld\n",
                          fileName.c_str(), id, integerShown(token).c_str(), volume);
        return false;
      }
      if (list != nullptr && memberIndex[value - 1] >= 0) {
        list->push_back(0);
        list->push_back(static_cast<int>(value - 1));
      }
    }
  }
  return true;
}

bool check_nbhd_symmetric(const std::vector<int> &members,
                          const std::vector<std::vector<int>> &lists, const std::string &fileName,
                          std::string &error) {
  // Sorted neighbour indices per member, so that each reverse lookup is a binary search.
  std::vector<std::vector<int>> sorted(members.size());
  std::vector<int> position;
  for (std::size_t i = 0; i < members.size(); ++i) {
    for (std::size_t k = 1; k < lists[i].size(); k += 2)
      sorted[i].push_back(lists[i][k]);
    std::sort(sorted[i].begin(), sorted[i].end());
  }
  // Member position by voxel index, through a sorted copy of the member list.
  std::vector<std::pair<int, int>> byVoxel;
  for (std::size_t i = 0; i < members.size(); ++i)
    byVoxel.emplace_back(members[i], static_cast<int>(i));
  std::sort(byVoxel.begin(), byVoxel.end());
  for (std::size_t i = 0; i < members.size(); ++i) {
    for (int w : sorted[i]) {
      const auto found = std::lower_bound(byVoxel.begin(), byVoxel.end(), std::make_pair(w, -1));
      const bool listsBack = found != byVoxel.end() && found->first == w &&
                             std::binary_search(sorted[found->second].begin(),
                                                sorted[found->second].end(), members[i]);
      if (!listsBack) {
        error = formatted("%s: voxel %d lists voxel %d, but voxel %d does not list voxel %d\n",
                          fileName.c_str(), members[i] + 1, w + 1, w + 1, members[i] + 1);
        return false;
      }
    }
  }
  return true;
}

void create_nbhd_system_fromfile(std::vector<std::vector<int>> &nbhd, int representative,
                                 const std::vector<int> &candidates, const std::vector<int> &xyz) {
  nbhd.clear();
  const long volume = volumeOf(xyz);
  torva::progressf("Total %d voxels, %d are used for clustering\n", static_cast<int>(volume),
                   static_cast<int>(candidates.size()) + 1);
  const std::vector<char> mask = membershipMask(representative, candidates, xyz);

  // One list per distinct member voxel, in ascending voxel order.
  std::vector<int> memberIndex(mask.size(), -1);
  std::vector<int> members;
  for (long v = 0; v < volume; ++v)
    if (mask[v] == '0') {
      memberIndex[v] = static_cast<int>(members.size());
      members.push_back(static_cast<int>(v));
    }
  std::vector<std::vector<int>> lists(members.size());

  // Checked before opening: a FIFO in its place would block the reader.
  const std::string kind = torva::nonRegularKind(kNbhdFile);
  if (!kind.empty())
    torva::exitWithMessage(torva::kExitInputError, stderr,
                           formatted("%s is %s, not a regular file\n", kNbhdFile, kind.c_str()));
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(kNbhdFile, "r"));
  if (!file) {
    const std::string reason = std::strerror(errno);
    std::fputs("File nhbd_system.torva not exist\n", stdout);
    torva::exitWithMessage(
        torva::kExitInputError, stderr,
        formatted("%s cannot be opened: %s (a neighborhoodType other than 0 reads it)\n", kNbhdFile,
                  reason.c_str()));
  }
  std::string error;
  if (!parse_nbhd_file(lists, file.get(), memberIndex, kNbhdFile, error) ||
      !check_nbhd_symmetric(members, lists, kNbhdFile, error))
    torva::exitWithMessage(torva::kExitInputError, stderr, error);

  // Node order follows the candidate list, which is the file's ascending order whenever the
  // candidates come ascending; any other order still keeps lists and nodes aligned.
  nbhd.reserve(candidates.size() + 1);
  for (int id : candidates)
    nbhd.push_back(lists[memberIndex[id - 1]]);
  nbhd.push_back(lists[memberIndex[representative - 1]]);
}
