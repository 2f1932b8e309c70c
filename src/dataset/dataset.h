#pragma once
// The continuous data set: cases by variables, one single-precision value per cell, filled from
// CSV files whose text (categorical) columns are mapped to state numbers.
#include <string>
#include <vector>

// How one distinct text of a categorical column was turned into a number.
struct stateMap {
  int node = 0;        // the column
  int state = 0;       // position of the text among the column's sorted distinct texts
  std::string raw;     // the text as read ("null" for an empty cell)
  int transformed = 0; // the state, or kMissingCode for the text null
};

// A failure of loadCSV. The message goes to standard output when `toStdout`, else to standard
// error. An empty message means success.
struct CsvFailure {
  std::string message;
  bool toStdout = false;
  explicit operator bool() const { return !message.empty(); }
};

class Dataset {
public:
  // Code of a missing value; its float (exactly -1e9) is what a missing cell holds.
  static constexpr int kMissingCode = -999999999;
  static constexpr float kMissingValue = static_cast<float>(kMissingCode);

  Dataset();
  Dataset(long nodes, long cases);
  ~Dataset();
  Dataset(const Dataset &) = delete;
  Dataset &operator=(const Dataset &) = delete;

  // Zero values, names n0 n1 ..., every variable numeric (-1 states), identity order, the last
  // variable as target, no state mappings.
  void setSize(long nodes, long cases);
  // Node count first, case count second.
  void getSize(long &nodes, long &cases) const;

  void setTargetVar(long v);
  void getTargetVar(long &v) const;

  // The caseCount values of one variable, case 0 first. Out of range: message, nothing copied.
  void setOneNode(const float *src, long node);
  void getOneNode(float *dst, long node) const;
  // The nodeCount values of one case. Out of range: message, nothing copied.
  void setOneSamp(const float *src, long sample);
  void getOneSamp(float *dst, long sample) const;

  // A list of the wrong length ends the process with status 1.
  void setNs(const std::vector<int> &states);
  void getNs(std::vector<int> &states) const;
  void setNodeName(const std::vector<std::string> &nodeNames);
  void getNodeName(std::vector<std::string> &nodeNames) const;
  void getOrder(std::vector<int> &nodeOrder) const;
  void getStateMaps(std::vector<stateMap> &maps) const;

  // Fills the data set from a CSV file (`header` non-zero: the first line holds the names) and
  // ends the process with status 1 when the file cannot be used.
  void readCSV(const char *path, int header);
  // readCSV without ending the process: the failure comes back and the data set is unchanged.
  CsvFailure loadCSV(const char *path, int header);

  // One line per variable: mean, sd, min, max and median of the non-missing values.
  void summaryStatistics() const;
  void view() const;
  void viewStateMapping() const;
  void display() const;

  static bool isMissing(float value);

private:
  void fillNumericColumn(const std::vector<std::string> &cells, int column, int firstLine,
                         const char *path);
  // Returns the number of states (distinct texts, null included).
  int fillTextColumn(const std::vector<std::string> &cells, int column);

  int nodeCount = 0;
  int caseCount = 0;
  std::vector<float> values; // case c, variable i at c * nodeCount + i
  int targetVar = 0;
  std::vector<std::string> names;
  std::vector<int> ns; // -1 marks a numeric variable
  std::vector<int> order;
  std::vector<stateMap> stateMaps;
};
