// The subject file list: any text either parses into a consistent study description or comes
// back as an error naming the list.
#include <cstddef>
#include <cstdint>

#include "data/study_reader.h"
#include "fuzz_support.h"

using fuzzsupport::expect;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  fuzzsupport::MemoryFile file(data, size);
  FileList list;
  const ReadFailure failure = parseFileList(file.path(), list, "cannot open the list\n", false);
  if (failure) {
    expect(failure.message.back() == '\n', "a failure message ends its line");
    return 0;
  }
  expect(list.subjectCount >= 1, "a parsed list has subjects");
  expect(static_cast<long>(list.subjects.size()) == list.subjectCount, "every entry is kept");
  expect(list.x >= 1 && list.y >= 1 && list.z >= 1, "extents are positive");
  expect(list.nodeCount == static_cast<long>(list.x) * list.y * list.z + 1, "node count is XYZ+1");
  for (const SubjectEntry &subject : list.subjects)
    expect(subject.fv == 0 || subject.fv == 1, "function variable is 0 or 1");
  return 0;
}
