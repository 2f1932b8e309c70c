#include "run/resampling_method.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "util/whole_number.h"

int unif(int n) {
  const double r = static_cast<double>(std::rand());
  const double b = std::floor(n * (r / 2147483646.0));
  int result = static_cast<int>(b);
  if (result >= n)
    result = n - 1;
  if (result < 0)
    result = 0;
  return result;
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

void chooseAllSubjects(std::vector<std::vector<int>> &chosen, int method, int subjects, int first,
                       int last) {
  chosen.assign(static_cast<std::size_t>(std::max(last, 0)), {});
  std::vector<int> discarded;
  for (int P = 0; P < last; ++P) {
    if (P >= first)
      chooseSubjects(chosen[P], method, subjects, P);
    else if (method == kBootstrap)
      chooseSubjects(discarded, method, subjects, P); // keeps rand() in step with a whole run
  }
}

int methodOfArgument(const std::string &text) {
  if (text == "1")
    return kJackknife;
  if (text == "2")
    return kBootstrap;
  return 0;
}

std::string parseResamplingSize(const std::string &text, int &size) {
  const std::string refusal =
      "resampling_size '" + text + "' is not a whole decimal number from 0 to 2147483647\n";
  unsigned long long value = 0;
  if (text.size() > 10 || parseDigits(text, 2147483647ULL, value) != WholeNumber::Ok)
    return refusal;
  size = static_cast<int>(value);
  return std::string();
}

std::string resamplingPlanProblem(int method, long subjects, int iterations,
                                  const std::string &listPath) {
  if (subjects < 1 || iterations < 1)
    return "nothing to resample: " + std::to_string(subjects) + " subjects and " +
           std::to_string(iterations) + " iterations (file list " + listPath + ")\n";
  if (method == kJackknife && subjects == 1)
    return "file list " + listPath +
           " holds 1 subject; a jackknife needs at least 2, since each iteration leaves one out\n";
  return std::string();
}
