#include "prepare/participants_table.h"

#include <fstream>
#include <sstream>

namespace {

bool endsWith(const std::string &text, const std::string &suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string lowered(std::string text) {
  for (char &c : text)
    c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return text;
}

std::string trimmed(const std::string &text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos)
    return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Splits `text` into records of fields. Line ends inside quotes belong to the field; a lone CR
// before LF is dropped everywhere else. Unquoted fields lose surrounding blanks.
struct RecordSplitter {
  const std::string &text;
  char separator;
  std::size_t at = 0;
  long line = 1;

  bool done() const { return at >= text.size(); }

  // Reads one record; false with `error` set on an unterminated quote.
  bool next(TableRow &row, std::string &error) {
    row.line = line;
    row.fields.clear();
    std::string field;
    bool quoted = false;
    bool wasQuoted = false;
    const auto finishField = [&]() {
      row.fields.push_back(wasQuoted ? field : trimmed(field));
      field.clear();
      wasQuoted = false;
    };
    while (at < text.size()) {
      const char c = text[at++];
      if (quoted) {
        if (c == '"' && at < text.size() && text[at] == '"') {
          field += '"';
          ++at;
        } else if (c == '"') {
          quoted = false;
        } else {
          line += c == '\n';
          field += c;
        }
      } else if (c == '"' && trimmed(field).empty()) {
        quoted = wasQuoted = true;
        field.clear();
      } else if (c == separator) {
        finishField();
      } else if (c == '\n') {
        ++line;
        finishField();
        return true;
      } else if (c != '\r' || (at < text.size() && text[at] != '\n')) {
        field += c;
      }
    }
    if (quoted) {
      error = "a quoted field that starts on line " + std::to_string(row.line) + " is never closed";
      return false;
    }
    finishField();
    return true;
  }
};

bool allEmpty(const std::vector<std::string> &fields) {
  for (const std::string &f : fields)
    if (!f.empty())
      return false;
  return true;
}

// The separator the name announces, or 0 when the name does not say.
char separatorOfName(const std::string &path) {
  const std::string name = lowered(path);
  if (endsWith(name, ".tsv"))
    return '\t';
  if (endsWith(name, ".csv"))
    return ',';
  return 0;
}

std::string separatorName(char separator) { return separator == '\t' ? "tabs" : "commas"; }

} // namespace

std::string readParticipantsTable(const std::string &path, ParticipantsTable &table) {
  table = ParticipantsTable{};
  table.path = path;
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return "cannot open the table " + path;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  std::string text = buffer.str();
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
    text.erase(0, 3);

  const std::string headerLine = text.substr(0, text.find('\n'));
  const bool hasTab = headerLine.find('\t') != std::string::npos;
  const bool hasComma = headerLine.find(',') != std::string::npos;
  const char byName = separatorOfName(path);
  table.separator = byName != 0 ? byName : (hasTab ? '\t' : ',');
  const char other = table.separator == '\t' ? ',' : '\t';
  if ((table.separator == '\t' ? !hasTab : !hasComma) && (other == '\t' ? hasTab : hasComma))
    return "table " + path + ": its name asks for " + separatorName(table.separator) +
           " between columns, but the header line holds " + separatorName(other);

  RecordSplitter splitter{text, table.separator};
  std::string error;
  TableRow header;
  if (splitter.done() || !splitter.next(header, error) || allEmpty(header.fields))
    return "table " + path + (error.empty() ? " is empty: it has no header line" : ": " + error);
  table.columns = header.fields;
  while (!splitter.done()) {
    TableRow row;
    if (!splitter.next(row, error))
      return "table " + path + ": " + error;
    if (allEmpty(row.fields))
      continue;
    if (row.fields.size() != table.columns.size())
      return "table " + path + ": line " + std::to_string(row.line) + " has " +
             std::to_string(row.fields.size()) + " fields; the header names " +
             std::to_string(table.columns.size()) + " columns";
    table.rows.push_back(std::move(row));
  }
  if (table.rows.empty())
    return "table " + path + " is empty: it has a header line but no rows";
  return {};
}

int columnOf(const ParticipantsTable &table, const std::string &name) {
  for (std::size_t i = 0; i < table.columns.size(); ++i)
    if (table.columns[i] == name)
      return static_cast<int>(i);
  return -1;
}
