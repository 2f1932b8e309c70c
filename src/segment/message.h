#pragma once
// The message table of one graph node for loopy belief propagation: one message per neighbour
// (slot), each a vector of one value per cluster label, stored message-major in one array so
// that a message is a contiguous run of stateCount doubles.
#include <vector>

class LbpMessage {
public:
  LbpMessage() = default;
  LbpMessage(int stateCount, int messageCount);
  ~LbpMessage() = default;
  LbpMessage(const LbpMessage &) = delete;
  LbpMessage &operator=(const LbpMessage &) = delete;

  // Every value starts at 1.0 (not 1/K): belief propagation relies on it as the initial message.
  void setSize(int stateCount, int messageCount);
  void getSize(int &stateCount, int &messageCount) const;

  // Slot and label arguments are not checked; they are the caller's responsibility.
  void setMessage(const std::vector<double> &v, int m);
  void getMessage(std::vector<double> &out, int m) const;

  // Scales every message by its own sum; a zero sum gives non-finite values, as IEEE has it.
  void normalize();
  // out[s] = product over messages m of message m's label s, in slot order.
  void prod(std::vector<double> &out) const;
  // As prod, leaving out slot i; an i outside the slots leaves out nothing.
  void prod_without_i(std::vector<double> &out, int i) const;
  // Label s across all messages.
  void getRow(std::vector<double> &out, int s) const;
  // One line per label, one column per message.
  void display() const;

private:
  int stateCount = 0;
  int messageCount = 0;
  std::vector<double> values;
};

// Element-wise product out[i] = a[i] * b[i] over the positions of a (b at least as long).
void vector_dot_vector(const std::vector<double> &a, const std::vector<double> &b,
                       std::vector<double> &out);

// Column-major matrix times vector: rows = |M| / |v|, out[r] = sum_j M[r + j*rows] * v[j],
// accumulated from j = 0 upward. v must not be empty.
void matrix_prod_vector(const std::vector<double> &M, const std::vector<double> &v,
                        std::vector<double> &out);
