// Family scores (K2, BDeu) and their updates when one case is exchanged for another.
#include <cmath>
#include <cstdio>

#include "bn/bn.h"
#include "util/gammaln.h"
#include "util/progress_line.h"

double familyScore(const double *counts, int entries, int r, double alpha) {
  if (r <= 0)
    return 0.0;
  const int q = entries / r;
  const double lnAlpha = gammaln(alpha);
  double score = 0.0;
  for (int j = 0; j < q; ++j) {
    double nj = 0.0;
    double alphaj = 0.0;
    double sj = 0.0;
    for (int k = 0; k < r; ++k) {
      const double njk = counts[j + k * q];
      nj += njk;
      alphaj += alpha;
      sj += gammaln(alpha + njk) - lnAlpha;
    }
    score += sj + gammaln(alphaj) - gammaln(alphaj + nj);
  }
  return score;
}

double k2FamilyScore(const double *counts, int entries, int r, int prior) {
  if (r <= 0)
    return 0.0;
  const int q = entries / r;
  const double alpha = prior == 2 ? 1.0 / static_cast<double>(q * r) : 1.0;
  return familyScore(counts, entries, r, alpha);
}

double BN::K2ScoreNode(int node, int prior) const {
  if (node < 0 || node >= nNodes)
    return 0.0;
  const std::vector<double> *table = findCPD(node);
  if (table == nullptr || table->size() < 2)
    return 0.0;
  return k2FamilyScore(table->data() + 2, static_cast<int>(table->size() - 2), ns[node], prior);
}

double BN::K2Score(int prior) const {
  double total = 0.0;
  for (int i = 0; i < nNodes; ++i)
    total += K2ScoreNode(i, prior);
  return total;
}

double BN::BDeuScoreNode(int node, double ess) const {
  if (node < 0 || node >= nNodes)
    return 0.0;
  const std::vector<double> *table = findCPD(node);
  const int r = ns[node];
  if (table == nullptr || table->size() < 2 || r <= 0)
    return 0.0;
  const int entries = static_cast<int>(table->size() - 2);
  const int q = entries / r;
  return familyScore(table->data() + 2, entries, r, ess / static_cast<double>(r * q));
}

double BN::BDeuScore(double ess) const {
  double total = 0.0;
  for (int i = 0; i < nNodes; ++i)
    total += BDeuScoreNode(i, ess);
  return total;
}

long BN::recordIndex(const char *record, int node) const {
  dag.getParents(family, node);
  family.push_back(node);
  strides.resize(family.size() + 1);
  strides[0] = 1;
  for (std::size_t t = 0; t < family.size(); ++t)
    strides[t + 1] = strides[t] * ns[family[t]];
  long index = 0;
  for (std::size_t t = 0; t < family.size(); ++t)
    index += (static_cast<signed char>(record[family[t]]) - 48) * strides[t];
  return index;
}

namespace {

// A record with a state outside a node's range would address past its table.
bool entryInTable(long index, const std::vector<double> &table, int node) {
  if (index >= 0 && static_cast<std::size_t>(index) + 2 < table.size())
    return true;
  char message[160];
  std::snprintf(message, sizeof message,
                "BN: record gives configuration %ld of node %d, whose table has %zu "
                "entries; node left unchanged\n",
                index, node, table.size() - 2);
  torva::writeStandardError(message);
  return false;
}

// Column sum of configuration j: sum_k N_jk.
double columnCount(const std::vector<double> &table, long j, long q, int r) {
  double sum = 0.0;
  for (int k = 0; k < r; ++k)
    sum += table[2 + j + k * q];
  return sum;
}

} // namespace

void BN::updateSuffStat(const char *incoming, const char *outgoing) {
  for (int i = 0; i < nNodes; ++i) {
    std::vector<double> *table = findCPD(i);
    if (table == nullptr)
      continue;
    const long a = recordIndex(incoming, i);
    const long b = recordIndex(outgoing, i);
    if (!entryInTable(a, *table, i) || !entryInTable(b, *table, i))
      continue;
    (*table)[2 + b] -= 1.0;
    (*table)[2 + a] += 1.0;
  }
}

void BN::updateSuffStat(const char *record, int mode) {
  if (mode != 0 && mode != 1)
    return;
  for (int i = 0; i < nNodes; ++i) {
    std::vector<double> *table = findCPD(i);
    if (table == nullptr)
      continue;
    const long a = recordIndex(record, i);
    if (!entryInTable(a, *table, i))
      continue;
    (*table)[2 + a] += mode == 1 ? 1.0 : -1.0;
  }
}

// One case leaving cell b and entering cell a, with alpha per cell (r alpha per column):
//   same column:      ln(N_a + alpha) - ln(N_b + alpha - 1)
//   different column: ln(C_out + r alpha - 1) + ln(N_a + alpha) - ln(N_b + alpha - 1)
//                     - ln(C_in + r alpha)
// alpha = 1 is the K2 change; summed over the nodes in id order.
namespace {

double exchangeChange(const std::vector<double> &table, long a, long b, int r, double alpha) {
  const long q = static_cast<long>(table.size() - 2) / r;
  const double na = table[2 + a];
  const double nb = table[2 + b];
  const long ja = a % q;
  const long jb = b % q;
  if (ja == jb)
    return std::log(na + alpha) - std::log(nb + alpha - 1);
  const double cin = columnCount(table, ja, q, r);
  const double cout = columnCount(table, jb, q, r);
  return std::log(cout + r * alpha - 1) + std::log(na + alpha) - std::log(nb + alpha - 1) -
         std::log(cin + r * alpha);
}

} // namespace

// Sum over the nodes of the change of the family score when `outgoing` is replaced by
// `incoming`; the pseudo-count is 1 (K2) or ess / (r q) per node (BDeu).
double BN::exchangeScoreChange(const char *incoming, const char *outgoing, bool k2,
                               double ess) const {
  double delta = 0.0;
  for (int i = 0; i < nNodes; ++i) {
    const std::vector<double> *table = findCPD(i);
    const int r = ns[i];
    if (table == nullptr || r <= 0 || table->size() - 2 < static_cast<std::size_t>(r))
      continue;
    const long a = recordIndex(incoming, i);
    const long b = recordIndex(outgoing, i);
    if (a == b || !entryInTable(a, *table, i) || !entryInTable(b, *table, i))
      continue;
    const int q = static_cast<int>(table->size() - 2) / r;
    const double alpha = k2 ? 1.0 : ess / static_cast<double>(r * q);
    delta += exchangeChange(*table, a, b, r, alpha);
  }
  return delta;
}

double BN::updateK2Score(const char *incoming, const char *outgoing) const {
  return exchangeScoreChange(incoming, outgoing, true, 0.0);
}

double BN::updateBDeuScore(const char *incoming, const char *outgoing, double ess) const {
  return exchangeScoreChange(incoming, outgoing, false, ess);
}
