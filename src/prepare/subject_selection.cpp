#include "prepare/subject_selection.h"

#include <cstdio>
#include <map>

#include "prepare/numbers.h"
#include "util/whole_number.h"

namespace {

bool isMissingValue(const std::string &text) {
  return text.empty() || text == "n/a" || text == "N/A" || text == "NA";
}

std::string describeCut(const PrepareOptions &options) {
  if (options.cut == PrepareOptions::Cut::None)
    return "as given";
  return std::string(options.cut == PrepareOptions::Cut::Above ? "above " : "below ") +
         numberText(options.cutValue);
}

// Id texts become file names and list tokens: anything but letters, digits, '.', '_' and '-' is
// replaced so the list stays one token per field and no path leaves img/.
std::string safeFileName(const std::string &text) {
  std::string name = text;
  for (char &c : name) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '.' || c == '_' || c == '-';
    if (!plain)
      c = '_';
  }
  if (name.find_first_not_of('.') == std::string::npos)
    name = "_" + name;
  return name;
}

std::string folderOf(const std::string &path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string replacedAll(std::string text, const std::string &from, const std::string &to) {
  for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

std::string maskPathOf(const std::string &relative, const std::string &tableFolder) {
  if (relative.empty() || relative[0] == '/')
    return relative;
  return tableFolder + relative;
}

bool fileReadable(const std::string &path) {
  std::FILE *file = path.empty() ? nullptr : std::fopen(path.c_str(), "rb");
  if (file == nullptr)
    return false;
  std::fclose(file);
  return true;
}

std::string rowName(const ParticipantsTable &table, const TableRow &row, const std::string &id) {
  return "table " + table.path + ", line " + std::to_string(row.line) +
         (id.empty() ? std::string() : " (" + id + ")");
}

std::string missingColumn(const ParticipantsTable &table, const std::string &name) {
  std::string known;
  for (const std::string &column : table.columns)
    known += (known.empty() ? "" : ", ") + column;
  return "table " + table.path + " has no column '" + name + "' (its columns: " + known + ")";
}

// Gives list ids and image names: the numbers themselves when every id is an integer, else the
// row number with the id text in the image name. Two subjects may not share an image name.
std::string assignNames(const ParticipantsTable &table, const std::vector<long> &rowNumbers,
                        std::vector<PreparedSubject> &subjects) {
  bool numeric = true;
  std::vector<long> numbers(subjects.size());
  for (std::size_t i = 0; i < subjects.size(); ++i)
    numeric = numeric && wholeNumberOf(subjects[i].idText, numbers[i]);
  std::map<std::string, std::size_t> owners;
  for (std::size_t i = 0; i < subjects.size(); ++i) {
    PreparedSubject &s = subjects[i];
    s.listId = numeric ? numbers[i] : rowNumbers[i];
    s.imageName = (numeric ? std::to_string(numbers[i]) : safeFileName(s.idText)) + ".nii";
    const auto [owner, fresh] = owners.emplace(s.imageName, i);
    if (!fresh) {
      const PreparedSubject &first = subjects[owner->second];
      return "table " + table.path + ": lines " + std::to_string(first.line) + " and " +
             std::to_string(s.line) + " both make the image img/" + s.imageName + " (ids '" +
             first.idText + "' and '" + s.idText + "')";
    }
  }
  return {};
}

std::string checkMasks(const PrepareOptions &options, SubjectSelection &selection) {
  std::vector<PreparedSubject> present;
  std::string missing;
  int missingCount = 0;
  for (PreparedSubject &s : selection.subjects) {
    if (fileReadable(s.maskPath)) {
      present.push_back(std::move(s));
      continue;
    }
    const std::string where = "line " + std::to_string(s.line) + " (" + s.idText +
                              "): " + (s.maskPath.empty() ? "no mask path given" : s.maskPath);
    ++missingCount;
    if (options.skipMissing)
      selection.warnings.push_back("mask missing, row skipped: table " + options.table + ", " +
                                   where);
    else
      missing += "\n  " + where;
  }
  if (!options.skipMissing && missingCount > 0)
    return std::to_string(missingCount) + " mask" + (missingCount == 1 ? " is" : "s are") +
           " missing (give --skip-missing to leave those rows out), table " + options.table + ":" +
           missing;
  selection.skippedMissingMask = missingCount;
  selection.subjects = std::move(present);
  return {};
}

std::string checkEnoughSubjects(const PrepareOptions &options, const SubjectSelection &selection,
                                std::size_t rows) {
  const std::size_t kept = selection.subjects.size();
  if (kept < 2)
    return "table " + options.table + ": " + std::to_string(kept) + " subject" +
           (kept == 1 ? " is" : "s are") + " left of " + std::to_string(rows) +
           " rows; a study needs at least 2";
  int ones = 0;
  for (const PreparedSubject &s : selection.subjects)
    ones += s.outcome;
  if (ones == 0 || static_cast<std::size_t>(ones) == kept)
    return "table " + options.table + ": all " + std::to_string(kept) + " subjects have outcome " +
           std::to_string(ones == 0 ? 0 : 1) + " (column " + options.outcomeColumn + ", " +
           describeCut(options) + "); the analysis needs subjects with outcome 0 and with 1";
  return {};
}

} // namespace

bool outcomeOf(const std::string &text, const PrepareOptions &options, int &outcome,
               std::string &problem, std::string &refusal) {
  if (isMissingValue(text)) {
    problem = "outcome '" + text + "' is missing";
    return false;
  }
  double value = 0.0;
  if (!parseFinite(text, value)) {
    problem = "outcome '" + text + "' is not a number";
    return false;
  }
  switch (options.cut) {
  case PrepareOptions::Cut::Above:
    outcome = value > options.cutValue ? 1 : 0;
    return true;
  case PrepareOptions::Cut::Below:
    outcome = value < options.cutValue ? 1 : 0;
    return true;
  case PrepareOptions::Cut::None:
    break;
  }
  if (value != 0.0 && value != 1.0) {
    refusal = "outcome '" + text + "' is neither 0 nor 1; give --above V or --below V to cut it";
    return false;
  }
  outcome = value == 1.0 ? 1 : 0;
  return true;
}

std::string selectSubjects(const ParticipantsTable &table, const PrepareOptions &options,
                           SubjectSelection &selection) {
  selection = SubjectSelection{};
  const int idColumn = columnOf(table, options.idColumn);
  const int outcomeColumn = columnOf(table, options.outcomeColumn);
  const bool imageByColumn = !options.imageColumn.empty();
  const int imageColumn = imageByColumn ? columnOf(table, options.imageColumn) : 0;
  if (idColumn < 0)
    return missingColumn(table, options.idColumn);
  if (outcomeColumn < 0)
    return missingColumn(table, options.outcomeColumn);
  if (imageColumn < 0)
    return missingColumn(table, options.imageColumn);

  const std::string tableFolder = folderOf(table.path);
  std::vector<long> rowNumbers;
  for (std::size_t r = 0; r < table.rows.size(); ++r) {
    const TableRow &row = table.rows[r];
    const std::string &id = row.fields[idColumn];
    if (id.empty()) {
      ++selection.skippedNoId;
      selection.warnings.push_back(rowName(table, row, id) + ": no id; row skipped");
      continue;
    }
    PreparedSubject subject;
    subject.idText = id;
    subject.line = row.line;
    subject.outcomeText = row.fields[outcomeColumn];
    std::string problem;
    std::string refusal;
    if (!outcomeOf(subject.outcomeText, options, subject.outcome, problem, refusal)) {
      if (!refusal.empty())
        return rowName(table, row, id) + ": " + refusal;
      ++selection.skippedOutcome;
      selection.warnings.push_back(rowName(table, row, id) + ": " + problem + "; row skipped");
      continue;
    }
    subject.maskPath = maskPathOf(imageByColumn ? row.fields[imageColumn]
                                                : replacedAll(options.imagePattern, "{id}", id),
                                  tableFolder);
    selection.subjects.push_back(std::move(subject));
    rowNumbers.push_back(static_cast<long>(r) + 1);
  }
  std::string problem = assignNames(table, rowNumbers, selection.subjects);
  if (problem.empty())
    problem = checkMasks(options, selection);
  if (problem.empty())
    problem = checkEnoughSubjects(options, selection, table.rows.size());
  return problem;
}
