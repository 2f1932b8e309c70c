// The text network reader: a file is either refused with an error and an empty network, or
// read into a network that the writers accept and that reads back to the same shape.
#include <cstddef>
#include <cstdint>
#include <string>

#include "bn/bn.h"
#include "fuzz_support.h"

using fuzzsupport::expect;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  fuzzsupport::MemoryFile input(data, size);
  BN bn;
  std::string error;
  if (!bn.readFile(input.path().c_str(), error)) {
    expect(!error.empty() && error.find(input.path()) != std::string::npos,
           "the error names the file");
    expect(bn.getNodeCount() == 0, "a refused file leaves the network empty");
    return 0;
  }
  fuzzsupport::MemoryFile written;
  bn.toFileBNT(written.path().c_str());
  fuzzsupport::MemoryFile document;
  bn.toFileXDSL(document.path().c_str());
  BN again;
  expect(again.readFile(written.path().c_str(), error), "a written network reads back");
  expect(again.getNs() == bn.getNs(), "state counts survive the round trip");
  // The writer lists parents ascending, so arcs may come back in another order.
  std::vector<int> offsets;
  std::vector<int> parents;
  bn.getDag().getParentLists(offsets, parents);
  std::vector<int> offsetsAgain;
  std::vector<int> parentsAgain;
  again.getDag().getParentLists(offsetsAgain, parentsAgain);
  expect(offsets == offsetsAgain && parents == parentsAgain, "parents survive the round trip");
  for (int i = 0; i < bn.getNodeCount(); ++i)
    expect(again.getCPD(i).size() == bn.getCPD(i).size(), "table sizes survive the round trip");
  return 0;
}
