// Text export of a sample matrix: CSV with a header line, ARFF, or bare CSV.
#include <fstream>
#include <iostream>
#include <string>

#include "data/samples.h"

namespace {

// Appends the cells of one case as stored (one character each), comma separated.
void appendDataLine(std::string &line, const char *row, int nodeCount) {
  line.clear();
  for (int i = 0; i < nodeCount; ++i) {
    if (i > 0)
      line += ',';
    line += row[i];
  }
}

} // namespace

void Samples::write(const char *path, int layout) const {
  // setNs takes any list; a short one would be read past its end in the ARFF attributes.
  if (static_cast<long>(ns.size()) != nodeCount) {
    std::cerr << "Samples::write: " << ns.size() << " state counts for " << nodeCount << " nodes; "
              << path << " not written\n";
    return;
  }
  std::ofstream out(path, std::ios::out | std::ios::trunc);
  if (!out) {
    std::cerr << "Samples::write: cannot create the file " << path << "\n";
    return;
  }
  if (layout == 0) {
    for (int i = 0; i < nodeCount; ++i)
      out << (i > 0 ? ",n" : "n") << nodeIds[i];
    out << std::endl;
  } else if (layout == 1) {
    out << "@relation " << path << std::endl;
    for (int k = 0; k < nodeCount; ++k) {
      out << "@attribute " << nodeIds[k] << " {";
      for (int s = 0; s < ns[k]; ++s)
        out << (s > 0 ? "," : "") << s;
      out << "}" << std::endl;
    }
    out << "@data" << std::endl;
  }
  // One buffer for every row: a whole-brain matrix has close to a million cells per case.
  std::string line;
  line.reserve(2 * static_cast<std::size_t>(nodeCount));
  for (int c = 0; c < caseCount; ++c) {
    appendDataLine(line, cells.data() + static_cast<std::size_t>(c) * nodeCount, nodeCount);
    out << line << std::endl;
  }
  if (!out)
    std::cerr << "Samples::write: writing the file " << path << " failed\n";
}
