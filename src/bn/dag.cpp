#include "bn/dag.h"

#include <algorithm>
#include <cstdio>

#include "util/progress.h"
#include "util/progress_line.h"

namespace {

constexpr int kRemoved = -1;

} // namespace

Dag::Dag() = default;
Dag::Dag(int n) : size(n) {}
Dag::Dag(const Dag &other) = default;
Dag &Dag::operator=(const Dag &other) = default;
Dag::~Dag() = default;

void Dag::setSize(int n) {
  size = n;
  links.clear();
}

int Dag::getSize() const { return size; }

void Dag::clear() { links.clear(); }

namespace {

// Per thread, so graphs used on several threads need no synchronisation for it.
thread_local long long visits = 0;

} // namespace

long long Dag::arcVisits() { return visits; }

void Dag::set(int from, int to, int value) {
  if (from < 0 || from >= size || to < 0 || to >= size) {
    torva::writeStandardError("DAG::set out of bound\n");
    return;
  }
  visits += static_cast<long long>(links.size() / 2);
  if (value == 1) {
    for (std::size_t a = 0; a + 1 < links.size(); a += 2)
      if (links[a] == from && links[a + 1] == to)
        return;
    links.push_back(from);
    links.push_back(to);
    return;
  }
  for (std::size_t a = 0; a + 1 < links.size(); a += 2)
    if (links[a] == from && links[a + 1] == to)
      links[a] = links[a + 1] = kRemoved;
  clean();
}

int Dag::get(int from, int to) const {
  if (from < 0 || from >= size || to < 0 || to >= size) {
    torva::writeStandardError("out of bound\n");
    return -1000;
  }
  visits += static_cast<long long>(links.size() / 2);
  for (std::size_t a = 0; a + 1 < links.size(); a += 2)
    if (links[a] == from && links[a + 1] == to)
      return 1;
  return 0;
}

void Dag::getParents(std::vector<int> &out, int node) const {
  out.clear();
  visits += static_cast<long long>(links.size() / 2);
  for (std::size_t a = 0; a + 1 < links.size(); a += 2)
    if (links[a + 1] == node)
      out.push_back(links[a]);
  std::sort(out.begin(), out.end());
}

void Dag::getChildren(std::vector<int> &out, int node) const {
  out.clear();
  visits += static_cast<long long>(links.size() / 2);
  for (std::size_t a = 0; a + 1 < links.size(); a += 2)
    if (links[a] == node)
      out.push_back(links[a + 1]);
  std::sort(out.begin(), out.end());
}

// A counting sort of the arcs by child: count, turn counts into starts, place (which moves each
// start to the next node's), shift the starts back.
void Dag::getParentLists(std::vector<int> &offsets, std::vector<int> &parents) const {
  const std::size_t nodes = size > 0 ? static_cast<std::size_t>(size) : 0;
  offsets.assign(nodes + 1, 0);
  const auto childOf = [this, nodes](std::size_t a) {
    const int child = links[a + 1];
    return child >= 0 && static_cast<std::size_t>(child) < nodes ? child : -1;
  };
  visits += 2 * static_cast<long long>(links.size() / 2);
  for (std::size_t a = 0; a + 1 < links.size(); a += 2)
    if (childOf(a) >= 0)
      ++offsets[static_cast<std::size_t>(childOf(a)) + 1];
  for (std::size_t i = 0; i < nodes; ++i)
    offsets[i + 1] += offsets[i];
  parents.resize(static_cast<std::size_t>(offsets[nodes]));
  for (std::size_t a = 0; a + 1 < links.size(); a += 2)
    if (childOf(a) >= 0)
      parents[static_cast<std::size_t>(offsets[static_cast<std::size_t>(childOf(a))]++)] = links[a];
  for (std::size_t i = nodes; i > 0; --i)
    offsets[i] = offsets[i - 1];
  offsets[0] = 0;
  for (std::size_t i = 0; i < nodes; ++i)
    std::sort(parents.begin() + offsets[i], parents.begin() + offsets[i + 1]);
}

int Dag::getLinks(std::vector<int> &out) const {
  out = links;
  return static_cast<int>(links.size() / 2);
}

void Dag::setLinks(const std::vector<int> &pairs) { links = pairs; }

void Dag::clean() { links.erase(std::remove(links.begin(), links.end(), kRemoved), links.end()); }

void Dag::display() const {
  for (std::size_t a = 0; a + 1 < links.size(); a += 2)
    torva::progressf("%d --> %d\n", links[a], links[a + 1]);
}

void Dag::showArc() const { display(); }

void copy_dag(Dag &dst, const Dag &src) { dst = src; }
