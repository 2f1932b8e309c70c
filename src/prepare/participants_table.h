#pragma once
// Reading of a participants table: comma- or tab-separated text whose first line names the
// columns. Quoted fields (with "" for a quote, separators and line breaks inside), CRLF line
// endings and a leading byte-order mark are accepted.
#include <string>
#include <vector>

struct TableRow {
  long line = 0; // line of the file where the row starts, the header being line 1
  std::vector<std::string> fields;
};

struct ParticipantsTable {
  std::string path;
  char separator = ',';
  std::vector<std::string> columns;
  std::vector<TableRow> rows; // rows of only empty fields are dropped
};

// Reads the table at `path`. The separator is a tab for ".tsv" and a comma for ".csv" names,
// and must be confirmed by the header line: a ".csv" whose header holds tabs but no commas (or
// the reverse) is refused rather than read as one column. Other names take the separator the
// header line holds. Returns an empty string on success, else a message naming the file.
std::string readParticipantsTable(const std::string &path, ParticipantsTable &table);

// Position of the column named `name`, or -1.
int columnOf(const ParticipantsTable &table, const std::string &name);
