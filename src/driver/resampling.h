#pragma once
// The resampling loop: per iteration choose subjects, load them, learn regions, and keep the
// iteration's label file and model record.
#include <string>
#include <vector>

#include "driver/model_record.h"

class BN;

constexpr int kJackknife = 1;
constexpr int kBootstrap = 2;

// Subject positions of iteration `iteration`: jackknife leaves out that position, bootstrap
// draws `subjects` positions with replacement via unif(), in draw order.
void chooseSubjects(std::vector<int> &chosen, int method, int subjects, int iteration);

// "label%d.torva" of the iteration.
std::string labelFileName(int iteration);

// One line: every label followed by one blank, then a newline. Ends the process with status 1
// when the file cannot be written, since the ensemble step needs it.
void writeLabelFile(const std::string &path, const std::vector<int> &labels);

struct ResamplingResult {
  std::vector<ModelRecord> records;
  std::vector<int> lastLabels;
};

// Runs every iteration on the study of `listPath` with K subjects; `bn` holds the region
// network of the last iteration afterwards.
void runResampling(ResamplingResult &result, const std::string &listPath, int method,
                   int iterations, long subjects, BN &bn);
