// The CSV reader of the continuous data set. Input: one byte whose low bit says whether the
// first line is a header, then the file.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "dataset/dataset.h"
#include "fuzz_support.h"

using fuzzsupport::expect;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 1)
    return 0;
  const int header = data[0] & 1;
  fuzzsupport::MemoryFile file(data + 1, size - 1);
  Dataset dataset;
  const CsvFailure failure = dataset.loadCSV(file.path().c_str(), header);
  long nodes = -1;
  long cases = -1;
  dataset.getSize(nodes, cases);
  if (failure) {
    expect(nodes == 0 && cases == 0, "a refused file leaves the data set empty");
    return 0;
  }
  std::vector<stateMap> maps;
  dataset.getStateMaps(maps);
  for (const stateMap &map : maps) {
    expect(map.raw.find('\0') == std::string::npos, "state names print whole");
    expect(map.node >= 0 && map.node < nodes, "a mapping names a column");
  }
  std::vector<int> states;
  dataset.getNs(states);
  expect(static_cast<long>(states.size()) == nodes, "one state count per column");
  return 0;
}
