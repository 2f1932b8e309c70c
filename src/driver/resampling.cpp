#include "driver/resampling.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>

#include "bn/bn.h"
#include "data/samples.h"
#include "roi/bml.h"
#include "util/extra.h"
#include "util/fatal.h"

ModelRecord makeModelRecord(int iteration, const std::vector<int> &representatives) {
  ModelRecord record;
  record.fill(-1);
  record[0] = iteration;
  record[1] = static_cast<int>(representatives.size());
  const std::size_t stored = std::min<std::size_t>(representatives.size(), kModelRecordIds);
  for (std::size_t i = 0; i < stored; ++i)
    record[2 + i] = representatives[i];
  return record;
}

void chooseSubjects(std::vector<int> &chosen, int method, int subjects, int iteration) {
  chosen.clear();
  if (method == kBootstrap) {
    std::vector<int> all(subjects);
    for (int k = 0; k < subjects; ++k)
      all[k] = k;
    for (int k = 0; k < subjects; ++k)
      chosen.push_back(all[unif(subjects)]);
    return;
  }
  for (int k = 0; k < subjects; ++k) {
    if (k != iteration)
      chosen.push_back(k);
  }
}

std::string labelFileName(int iteration) {
  char name[64];
  std::snprintf(name, sizeof name, "label%d.torva", iteration);
  return name;
}

void writeLabelFile(const std::string &path, const std::vector<int> &labels) {
  std::string text;
  text.reserve(labels.size() * 3 + 1);
  char number[16];
  for (const int label : labels) {
    const int length = std::snprintf(number, sizeof number, "%d ", label);
    text.append(number, static_cast<std::size_t>(length));
  }
  text.push_back('\n');
  std::ofstream out(path, std::ios::out | std::ios::trunc | std::ios::binary);
  out << text;
  out.close();
  if (!out)
    torva::exitWithMessage(torva::kExitInputError, stderr,
                           "cannot write the iteration label file " + path + "\n");
}

void runResampling(ResamplingResult &result, const std::string &listPath, int method,
                   int iterations, long subjects, BN &bn) {
  result.records.clear();
  std::vector<int> chosen;
  std::vector<int> labels;
  std::vector<double> voxelValues;
  std::vector<int> representatives;
  for (int P = 0; P < iterations; ++P) {
    std::printf("resampling %d\n", P);
    chooseSubjects(chosen, method, static_cast<int>(subjects), P);
    std::printf("Read Dataset\n");
    auto samples = std::make_unique<Samples>();
    samples->readFilelistSubsetNifti(listPath.c_str(), chosen);
    labels.clear();
    voxelValues.clear();
    representatives.clear();
    const std::string labelFile = labelFileName(P);
    bml(*samples, labels, voxelValues, bn, representatives);
    samples.reset();
    writeLabelFile(labelFile, labels);
    result.records.push_back(makeModelRecord(P, representatives));
    std::printf("*****************\n");
  }
  result.lastLabels = labels;
}
