// The network's two file formats: an XDSL document for network viewers and a plain text
// format of numbers that readFile reads back.
#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>

#include "bn/bn.h"
#include "util/number_text.h"
#include "util/token_reader.h"
#include "util/whole_number.h"

namespace {

void appendf(std::string &out, const char *format, ...) __attribute__((format(printf, 2, 3)));

void appendf(std::string &out, const char *format, ...) {
  char buffer[256];
  va_list args;
  va_start(args, format);
  const int length = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (length > 0)
    out.append(buffer, static_cast<std::size_t>(length) < sizeof buffer
                           ? static_cast<std::size_t>(length)
                           : sizeof buffer - 1);
}

// Writes the whole text at once, so a file that cannot be created is left as it was.
void writeWhole(const char *path, const std::string &text, const char *operation) {
  std::FILE *file = std::fopen(path, "wb");
  if (file == nullptr) {
    std::fprintf(stderr, "%s: cannot create %s\n", operation, path);
    return;
  }
  const std::size_t written = std::fwrite(text.data(), 1, text.size(), file);
  const bool closed = std::fclose(file) == 0;
  if (written != text.size() || !closed)
    std::fprintf(stderr, "%s: could not write all of %s\n", operation, path);
}

void appendDisplayBlock(std::string &out, const std::string &name) {
  out += "<node id=\"" + name + "\">\n";
  out += "<name>" + name + "</name>\n";
  out += "<interior color=\"e5f6f7\" />\n";
  out += "<outline color=\"000080\" />\n";
  out += "<font color=\"000000\" name=\"Arial\" size=\"8\" />\n";
  out += "<position>116 153 164 183</position>\n";
  out += "</node>\n";
}

} // namespace

bool BN::tablesComplete(const char *operation) const {
  std::vector<int> sizes;
  getCPDVectorSize(sizes);
  // Tables per node and each node's first, from one pass over the tables.
  std::vector<int> found(static_cast<std::size_t>(nNodes), 0);
  std::vector<const std::vector<double> *> first(static_cast<std::size_t>(nNodes), nullptr);
  for (const std::vector<double> &table : cpd) {
    const int node = table.empty() ? -1 : static_cast<int>(table[0]);
    if (node >= 0 && node < nNodes && found[node]++ == 0)
      first[node] = &table;
  }
  for (int i = 0; i < nNodes; ++i) {
    if (ns[i] < 1) {
      std::fprintf(stderr, "%s: node %d has %d states; nothing written\n", operation, i, ns[i]);
      return false;
    }
    if (found[i] != 1) {
      std::fprintf(stderr, "%s: node %d has %d tables instead of one; nothing written\n", operation,
                   i, found[i]);
      return false;
    }
    const std::size_t expected = 2 + static_cast<std::size_t>(sizes[i]);
    if (first[i]->size() != expected || (*first[i])[1] != static_cast<double>(sizes[i])) {
      std::fprintf(stderr,
                   "%s: the table of node %d holds %zu entries; its parents give %d; nothing "
                   "written\n",
                   operation, i, first[i]->size() - 2, sizes[i]);
      return false;
    }
  }
  return true;
}

// Values of each parent configuration j (lowest-id parent fastest), states k within it:
// entry 2 + j + k q, converted to single precision and printed "%0.4f". Parents are listed
// in descending id order, so in the document's own terms the last listed varies fastest.
void BN::toFileXDSL(const char *path) const {
  if (!tablesComplete("BN::toFileXDSL"))
    return;
  std::string out;
  out += "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n";
  out += "<smile version=\"1.0\" id=\"Network1\" numsamples=\"1000\">\n";
  out += "<nodes>\n";
  std::vector<int> offsets;
  std::vector<int> parents;
  dag.getParentLists(offsets, parents);
  for (int i = 0; i < nNodes; ++i) {
    out += "<cpt id=\"" + names[i] + "\">\n";
    const int r = ns[i];
    // State ids must begin with a letter for the document to be valid.
    for (int s = 0; s < r; ++s)
      appendf(out, "<state id=\"s%d\" />\n", s);
    if (offsets[i] < offsets[i + 1]) {
      out += "<parents>";
      for (int p = offsets[i + 1]; p-- > offsets[i];) {
        out += names[parents[p]];
        if (p > offsets[i])
          out += ' ';
      }
      out += "</parents>\n";
    }
    const std::vector<double> &table = *findCPD(i);
    const std::size_t q = (table.size() - 2) / static_cast<std::size_t>(r);
    out += "<probabilities>";
    for (std::size_t j = 0; j < q; ++j) {
      for (int k = 0; k < r; ++k) {
        const float value = static_cast<float>(table[2 + j + k * q]);
        const bool last = j + 1 == q && k + 1 == r;
        appendf(out, last ? "%0.4f" : "%0.4f ", static_cast<double>(value));
      }
    }
    out += "</probabilities>\n";
    out += "</cpt>\n";
  }
  out += "</nodes>\n";
  out += "<extensions>\n";
  out += "<genie version=\"1.0\" name=\"Network1\" faultnameformat=\"nodestate\">\n";
  for (int i = 0; i < nNodes; ++i)
    appendDisplayBlock(out, names[i]);
  out += "</genie>\n";
  out += "</extensions>\n";
  out += "</smile>";
  writeWhole(path, out, "BN::toFileXDSL");
}

// Lines: n; the state counts; per node its parent count and ascending parent ids; per node
// its entry count and entries in storage order. Every item after line 1 is followed by a blank.
void BN::toFileBNT(const char *path) const {
  if (!tablesComplete("BN::toFileBNT"))
    return;
  std::ostringstream out;
  out << nNodes << "\n";
  for (int i = 0; i < nNodes; ++i)
    out << ns[i] << " ";
  out << "\n";
  std::vector<int> offsets;
  std::vector<int> parents;
  dag.getParentLists(offsets, parents);
  for (int i = 0; i < nNodes; ++i) {
    out << static_cast<std::size_t>(offsets[i + 1] - offsets[i]) << " ";
    for (int p = offsets[i]; p < offsets[i + 1]; ++p)
      out << parents[p] << " ";
    out << "\n";
  }
  for (int i = 0; i < nNodes; ++i) {
    const std::vector<double> &table = *findCPD(i);
    out << table[1] << " ";
    for (std::size_t e = 2; e < table.size(); ++e)
      out << table[e] << " ";
    out << "\n";
  }
  writeWhole(path, out.str(), "BN::toFileBNT");
}

namespace {

// Whitespace-separated numbers of a text-format file, with the item count for messages. The
// first failure is kept in `error`.
class NumberReader {
public:
  NumberReader(std::FILE *file, const char *path, std::string &error)
      : in_(file), path_(path), error_(error) {}

  bool readInt(long &value, const char *what) {
    std::string token;
    if (!next(token, what))
      return false;
    if (!wholeNumberOf(token, value))
      return fail(what, "'" + token + "' is not a whole number");
    return true;
  }

  bool readDouble(double &value, const char *what) {
    std::string token;
    if (!next(token, what))
      return false;
    if (!numberOf(token, value))
      return fail(what, "'" + token + "' is not a number");
    return true;
  }

  bool fail(const char *what, const std::string &problem) {
    error_ = std::string("BN::readFile: ") + path_ + ": item " + std::to_string(items_) + " (" +
             what + "): " + problem + "\n";
    return false;
  }

private:
  bool next(std::string &token, const char *what) {
    ++items_;
    if (!in_.next(token))
      return fail(what, "the file ends early");
    return true;
  }

  torva::TokenReader in_;
  const char *path_;
  std::string &error_;
  long items_ = 0;
};

// The writer prints the entry count like every other number, to 6 significant digits: a
// table of 1048576 entries is counted as 1.04858e+06.
bool entryCountMatches(double written, std::size_t entries) {
  std::ostringstream shown;
  shown << static_cast<double>(entries);
  return written == static_cast<double>(entries) ||
         written == std::strtod(shown.str().c_str(), nullptr);
}

} // namespace

bool BN::readFile(const char *path) {
  std::string error;
  const bool read = readFile(path, error);
  if (!read)
    std::fputs(error.c_str(), stderr);
  return read;
}

// The tables are filled from the values as they come, and installed only when the whole file
// has been read: the memory used grows with the file, not with the sizes it declares.
bool BN::readFile(const char *path, std::string &error) {
  setSize(0, {});
  const std::unique_ptr<std::FILE, int (*)(std::FILE *)> file(std::fopen(path, "r"), std::fclose);
  if (!file) {
    error = std::string("BN::readFile: cannot open ") + path + "\n";
    return false;
  }
  NumberReader reader(file.get(), path, error);
  const auto reject = [&](const char *what, const std::string &problem) {
    return reader.fail(what, problem);
  };

  long n = 0;
  if (!reader.readInt(n, "node count"))
    return false;
  if (n < 0 || n > 100000000)
    return reject("node count", "must lie in 0 .. 100000000");
  std::vector<int> states;
  for (long i = 0; i < n; ++i) {
    long r = 0;
    if (!reader.readInt(r, "state count"))
      return false;
    if (r < 1 || r > kMaxReadEntries)
      return reject("state count", "must lie in 1 .. 67108864");
    states.push_back(static_cast<int>(r));
  }

  // Arcs in file order, as setting them one by one would store them.
  std::vector<int> arcs;
  std::vector<long> sizes(static_cast<std::size_t>(n));
  std::vector<long> listedFor(static_cast<std::size_t>(n), -1);
  long total = 0;
  for (long i = 0; i < n; ++i) {
    long count = 0;
    if (!reader.readInt(count, "parent count"))
      return false;
    if (count < 0 || count > n)
      return reject("parent count", "must lie in 0 .. the node count");
    long entries = states[i];
    for (long p = 0; p < count; ++p) {
      long parent = 0;
      if (!reader.readInt(parent, "parent id"))
        return false;
      if (parent < 0 || parent >= n)
        return reject("parent id", "is not a node of the network");
      // A repeated parent would make the table smaller than the values that follow.
      if (listedFor[parent] == i)
        return reject("parent id", "is listed twice");
      listedFor[parent] = i;
      arcs.push_back(static_cast<int>(parent));
      arcs.push_back(static_cast<int>(i));
      entries *= states[parent];
      if (entries > kMaxReadEntries)
        return reject("parent id", "makes the table too large");
    }
    sizes[i] = entries;
    total += entries;
    if (total > kMaxReadEntries)
      return reject("parent list", "gives the tables " + std::to_string(total) +
                                       " entries in all (" + std::to_string(total / (1L << 17)) +
                                       " MiB); at most 67108864 are read");
  }

  std::vector<std::vector<double>> tables(static_cast<std::size_t>(n));
  for (long i = 0; i < n; ++i) {
    double entries = 0;
    if (!reader.readDouble(entries, "entry count"))
      return false;
    // A count that disagrees with the parents would shift every later value.
    if (!entryCountMatches(entries, static_cast<std::size_t>(sizes[i])))
      return reject("entry count", "differs from the table size its state counts and parents give");
    std::vector<double> &table = tables[i];
    table.reserve(2 + static_cast<std::size_t>(std::min(sizes[i], 65536L)));
    table.push_back(static_cast<double>(i));
    table.push_back(static_cast<double>(sizes[i]));
    for (long e = 0; e < sizes[i]; ++e) {
      double value = 0;
      if (!reader.readDouble(value, "table entry"))
        return false;
      table.push_back(value);
    }
  }

  setSize(static_cast<int>(n), states);
  dag.setLinks(arcs);
  cpd = std::move(tables);
  return true;
}
