#include "roi/run_log.h"

#include <fstream>
#include <ostream>
#include <string>

#include "data/samples.h"

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
  std::ofstream log(kRunLogFile, std::ios::out | std::ios::trunc);
  log << "TORVA Log\n"
      << "sample_length " << cases << '\n';
}

void appendRoundRecord(int round, int id, double gain, double score) {
  std::ofstream log(kRunLogFile, std::ios::out | std::ios::app);
  log << "N=" << round << '\n';
  log << "RId= " << id << ", K2 Diff= " << gain << ", K2= " << score << '\n';
}

void appendClosingBlock(const std::vector<int> &representatives, const Samples &study,
                        long functionNode) {
  long nodes = 0;
  long cases = 0;
  study.getSize(nodes, cases);
  std::vector<char> pattern(static_cast<std::size_t>(cases));
  std::ofstream log(kRunLogFile, std::ios::out | std::ios::app);
  log << "RV\n" << representatives.size() + 1 << '\n';
  for (const int id : representatives) {
    log << "RId= " << id << '\n';
    study.getOneNode(pattern.data(), id - 1);
    writePatternLine(log, pattern.data(), cases);
  }
  log << "fv\n";
  study.getOneNode(pattern.data(), functionNode);
  writePatternLine(log, pattern.data(), cases);
}
