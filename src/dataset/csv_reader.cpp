#include "dataset/csv_reader.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>

namespace {

bool isSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::string trimmed(const std::string &text, std::size_t begin, std::size_t end) {
  while (begin < end && isSpace(text[begin]))
    ++begin;
  while (end > begin && isSpace(text[end - 1]))
    --end;
  return text.substr(begin, end - begin);
}

// Index just past the digits starting at `i`.
std::size_t skipDigits(const std::string &text, std::size_t i) {
  while (i < text.size() && isDigit(text[i]))
    ++i;
  return i;
}

} // namespace

void splitFields(const std::string &line, std::vector<std::string> &fields) {
  fields.clear();
  std::size_t begin = 0;
  for (;;) {
    const std::size_t comma = line.find(',', begin);
    if (comma == std::string::npos) {
      fields.push_back(trimmed(line, begin, line.size()));
      return;
    }
    fields.push_back(trimmed(line, begin, comma));
    begin = comma + 1;
  }
}

std::string readCsvText(const std::string &path, bool header, CsvText &text) {
  std::ifstream in(path);
  if (!in)
    return "cannot open the CSV file " + path + "\n";
  text = CsvText();
  std::string line;
  std::vector<std::string> fields;
  while (std::getline(in, line)) {
    // Names and texts are printed as C strings, so a NUL would cut one short and make two
    // different cells print alike.
    if (line.find('\0') != std::string::npos)
      return "the CSV file " + path + " holds a NUL byte on line " +
             std::to_string(text.lineCount + 1) + "\n";
    splitFields(line, fields);
    if (text.lineCount == 0)
      text.firstLine = fields;
    if (text.lineCount > 0 || !header)
      text.cells.insert(text.cells.end(), fields.begin(), fields.end());
    ++text.lineCount;
  }
  if (in.bad())
    return "reading the CSV file " + path + " failed\n";
  // Without a single line there are no variables to name and, with a header, minus one case.
  if (text.lineCount == 0)
    return "the CSV file " + path + " is empty\n";
  return std::string();
}

bool isPlainDecimal(const std::string &text) {
  int points = 0;
  for (char c : text) {
    if (c == '.')
      ++points;
    else if (!isDigit(c))
      return false;
  }
  return points <= 1;
}

bool parseDecimal(const std::string &text, float &value) {
  // Grammar: [+-] (digits [. digits] | . digits) [(e|E) [+-] digits]. strtof alone would also
  // take hexadecimal, "nan" and "inf", which are no numbers in a data file.
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-'))
    ++i;
  const std::size_t intEnd = skipDigits(text, i);
  std::size_t end = intEnd;
  bool digits = intEnd > i;
  if (end < text.size() && text[end] == '.') {
    const std::size_t fracEnd = skipDigits(text, end + 1);
    digits = digits || fracEnd > end + 1;
    end = fracEnd;
  }
  if (!digits)
    return false;
  if (end < text.size() && (text[end] == 'e' || text[end] == 'E')) {
    std::size_t e = end + 1;
    if (e < text.size() && (text[e] == '+' || text[e] == '-'))
      ++e;
    const std::size_t expEnd = skipDigits(text, e);
    if (expEnd == e)
      return false;
    end = expEnd;
  }
  if (end != text.size())
    return false;
  const float parsed = std::strtof(text.c_str(), nullptr);
  if (std::isinf(parsed))
    return false;
  value = parsed;
  return true;
}
