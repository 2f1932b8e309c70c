#include "roi/run_log.h"

#include <ostream>
#include <sstream>
#include <string>

#include "data/samples.h"
#include "util/progress.h"

void writePatternLine(std::ostream &out, const char *pattern, long cases) {
  std::string line;
  line.reserve(static_cast<std::size_t>(cases) * 2 + 1);
  for (long c = 0; c < cases; ++c) {
    line.push_back(pattern[c]);
    line.push_back(' ');
  }
  line.push_back('\n');
  out << line;
}

void startRunLog(long cases) {
  std::ostringstream log;
  log << "TORVA Log\n"
      << "sample_length " << cases << '\n';
  torva::startRunLogText(log.str());
}

void appendRoundRecord(int round, int id, double gain, double score) {
  std::ostringstream log;
  log << "N=" << round << '\n';
  log << "RId= " << id << ", K2 Diff= " << gain << ", K2= " << score << '\n';
  torva::appendRunLogText(log.str());
}

void appendClosingBlock(const std::vector<int> &representatives, const Samples &finalMatrix) {
  long nodes = 0;
  long cases = 0;
  finalMatrix.getSize(nodes, cases);
  std::vector<char> pattern(static_cast<std::size_t>(cases));
  std::ostringstream log;
  log << "RV\n" << representatives.size() + 1 << '\n';
  for (std::size_t i = 0; i < representatives.size(); ++i) {
    log << "RId= " << representatives[i] << '\n';
    finalMatrix.getOneNode(pattern.data(), static_cast<long>(i));
    writePatternLine(log, pattern.data(), cases);
  }
  log << "fv\n";
  finalMatrix.getOneNode(pattern.data(), static_cast<long>(representatives.size()));
  writePatternLine(log, pattern.data(), cases);
  torva::appendRunLogText(log.str());
}
