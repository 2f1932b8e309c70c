#include "segment/message.h"

#include <iostream>

#include "util/progress.h"

LbpMessage::LbpMessage(int states, int messages) { setSize(states, messages); }

void LbpMessage::setSize(int states, int messages) {
  stateCount = states;
  messageCount = messages;
  const long total = (states > 0 && messages > 0) ? static_cast<long>(states) * messages : 0;
  values.assign(static_cast<std::size_t>(total), 1.0);
}

void LbpMessage::getSize(int &states, int &messages) const {
  states = stateCount;
  messages = messageCount;
}

void LbpMessage::setMessage(const std::vector<double> &v, int m) {
  double *dst = values.data() + static_cast<long>(m) * stateCount;
  for (std::size_t i = 0; i < v.size(); ++i)
    dst[i] = v[i];
}

void LbpMessage::getMessage(std::vector<double> &out, int m) const {
  const double *src = values.data() + static_cast<long>(m) * stateCount;
  out.assign(src, src + stateCount);
}

void LbpMessage::normalize() {
  if (stateCount <= 0 || messageCount <= 0)
    return;
  for (int m = 0; m < messageCount; ++m) {
    double *msg = values.data() + static_cast<long>(m) * stateCount;
    double sum = 0.0;
    for (int s = 0; s < stateCount; ++s)
      sum += msg[s];
    for (int s = 0; s < stateCount; ++s)
      msg[s] /= sum;
  }
}

void LbpMessage::prod(std::vector<double> &out) const { prod_without_i(out, -1); }

void LbpMessage::prod_without_i(std::vector<double> &out, int i) const {
  out.assign(stateCount > 0 ? stateCount : 0, 1.0);
  for (int s = 0; s < stateCount; ++s) {
    double p = 1.0;
    for (int m = 0; m < messageCount; ++m)
      if (m != i)
        p *= values[static_cast<long>(m) * stateCount + s];
    out[s] = p;
  }
}

void LbpMessage::getRow(std::vector<double> &out, int s) const {
  out.clear();
  for (int m = 0; m < messageCount; ++m)
    out.push_back(values[static_cast<long>(m) * stateCount + s]);
}

void LbpMessage::display() const {
  for (int s = 0; s < stateCount; ++s) {
    for (int m = 0; m < messageCount; ++m)
      torva::progress() << values[static_cast<long>(m) * stateCount + s] << " ";
    torva::progress() << std::endl;
  }
}

void vector_dot_vector(const std::vector<double> &a, const std::vector<double> &b,
                       std::vector<double> &out) {
  out.resize(a.size());
  for (std::size_t i = 0; i < a.size(); ++i)
    out[i] = a[i] * b[i];
}

void matrix_prod_vector(const std::vector<double> &M, const std::vector<double> &v,
                        std::vector<double> &out) {
  if (&out == &M || &out == &v) {
    // The inputs are read after out is resized, so an aliased call works on a copy.
    std::vector<double> result;
    matrix_prod_vector(M, v, result);
    out.swap(result);
    return;
  }
  const std::size_t rows = M.size() / v.size();
  out.assign(rows, 0.0);
  for (std::size_t r = 0; r < rows; ++r) {
    double acc = 0.0;
    for (std::size_t j = 0; j < v.size(); ++j)
      acc += M[r + j * rows] * v[j];
    out[r] = acc;
  }
}
