// The participants-table reader: a table is refused with a message naming it, or read into rows
// that each hold one field per column, in increasing line order.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "prepare/participants_table.h"

using fuzzsupport::expect;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  // The first byte picks the name, which decides the separator: tabs, commas, or the header's.
  static const char *const kNames[] = {"/participants.tsv", "/participants.csv", "/table.txt"};
  const std::string path = fuzzsupport::scratchFolder() + kNames[size == 0 ? 0 : data[0] % 3];
  fuzzsupport::writeWholeFile(path, size == 0 ? data : data + 1, size == 0 ? 0 : size - 1);
  ParticipantsTable table;
  const std::string error = readParticipantsTable(path, table);
  if (!error.empty()) {
    expect(error.find(path) != std::string::npos, "the error names the table");
    return 0;
  }
  expect(!table.columns.empty() && !table.rows.empty(), "a read table has columns and rows");
  long line = 1;
  for (const TableRow &row : table.rows) {
    expect(row.fields.size() == table.columns.size(), "every row has one field per column");
    expect(row.line > line, "rows start on increasing lines after the header");
    line = row.line;
  }
  for (std::size_t i = 0; i < table.columns.size(); ++i) {
    const int at = columnOf(table, table.columns[i]);
    expect(at >= 0 && static_cast<std::size_t>(at) <= i, "a column is found at or before itself");
  }
  return 0;
}
