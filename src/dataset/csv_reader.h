#pragma once
// Splitting a CSV file into trimmed fields and recognising numbers in them. The functions return
// their failures; Dataset::readCSV decides whether the process ends.
#include <string>
#include <vector>

struct CsvText {
  long lineCount = 0;                 // every line of the file, the header included
  std::vector<std::string> firstLine; // fields of the first line; its size is the variable count
  std::vector<std::string> cells;     // fields of the data lines, row after row
};

// Reads the file at `path`; with `header` the first line is kept out of `cells`. Returns an
// error message naming the file (and the line of a NUL byte), or an empty string.
std::string readCsvText(const std::string &path, bool header, CsvText &text);

// Fields of one line: n commas give n + 1 fields, each trimmed of surrounding white space.
void splitFields(const std::string &line, std::vector<std::string> &fields);

// The test that makes a column numeric by its first data cell: only decimal digits with at most
// one '.', or nothing at all. Signs and exponents make a text.
bool isPlainDecimal(const std::string &text);

// Reads a decimal number (optional sign, digits with an optional point, optional exponent) as a
// float. Anything else, or a value beyond the float range, fails.
bool parseDecimal(const std::string &text, float &value);
