#include "driver/command.h"

#include <cstdio>
#include <fstream>
#include <string>

void printUsage() {
  std::printf("Usage: torvacoreel fileList method resampling_size\n"
              "\n"
              "Parameters: \n"
              "fileList - proj file list\n"
              "method - an integer variable. It takes values from {1 - jackknife; 2 - "
              "bootstrap}\n"
              "resampling_size - an integer variable. It's the number of iterations for "
              "resampling.\n"
              "\n"
              "Examples:\n"
              "torvacoreel torva.prj.filelist 2 200\n"
              "This command tells TORVA to perform bootstrap resampling with resampling "
              "size=200\n");
}

bool readListHead(const char *listPath, long &subjects, long &nodes) {
  std::ifstream in(listPath);
  std::string word;
  subjects = 0;
  nodes = 0;
  return static_cast<bool>(in >> word >> subjects >> word >> nodes);
}
