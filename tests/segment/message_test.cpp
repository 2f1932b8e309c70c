#include "segment/message.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using Vec = std::vector<double>;

TEST(LbpMessage, ResizeFillsWithOnesAndReplacesThePreviousTable) {
  LbpMessage table;
  int states = -1;
  int messages = -1;
  table.getSize(states, messages);
  EXPECT_EQ(states, 0);
  EXPECT_EQ(messages, 0);

  table.setSize(2, 1);
  table.setMessage({5, 7}, 0);
  table.setSize(3, 2);
  table.getSize(states, messages);
  EXPECT_EQ(states, 3);
  EXPECT_EQ(messages, 2);
  Vec out{9, 9};
  table.getMessage(out, 1);
  EXPECT_EQ(out, (Vec{1, 1, 1}));
  table.getMessage(out, 0);
  EXPECT_EQ(out, (Vec{1, 1, 1}));
}

TEST(LbpMessage, NormalizeScalesEachMessageByItsOwnSum) {
  LbpMessage table(2, 3);
  table.setMessage({1, 3}, 0);
  table.setMessage({0, 0}, 1);
  table.setMessage({2, 2}, 2);
  table.normalize();
  Vec out;
  table.getMessage(out, 0);
  EXPECT_EQ(out, (Vec{0.25, 0.75}));
  // A zero sum gives 0/0 for that message only.
  table.getMessage(out, 1);
  EXPECT_TRUE(std::isnan(out[0]) && std::isnan(out[1]));
  table.getMessage(out, 2);
  EXPECT_EQ(out, (Vec{0.5, 0.5}));
}

TEST(LbpMessage, ProductsRunOverSlotsAndCanLeaveOneOut) {
  LbpMessage single(2, 1);
  single.setMessage({0.3, 0.7}, 0);
  Vec out;
  single.prod_without_i(out, 0);
  EXPECT_EQ(out, (Vec{1, 1}));
  single.prod(out);
  EXPECT_EQ(out, (Vec{0.3, 0.7}));

  LbpMessage table(2, 3);
  table.setMessage({2, 3}, 0);
  table.setMessage({5, 7}, 1);
  table.setMessage({11, 13}, 2);
  table.prod(out);
  EXPECT_EQ(out, (Vec{110, 273}));
  table.prod_without_i(out, 1);
  EXPECT_EQ(out, (Vec{22, 39}));
  // A slot outside the table leaves nothing out.
  table.prod_without_i(out, 3);
  EXPECT_EQ(out, (Vec{110, 273}));
  table.prod_without_i(out, -1);
  EXPECT_EQ(out, (Vec{110, 273}));

  LbpMessage empty(3, 0);
  empty.prod(out);
  EXPECT_EQ(out, (Vec{1, 1, 1}));
}

TEST(LbpMessage, RowTakesOneLabelFromEveryMessage) {
  LbpMessage table(2, 3);
  table.setMessage({1, 2}, 0);
  table.setMessage({3, 4}, 1);
  table.setMessage({5, 6}, 2);
  Vec out;
  table.getRow(out, 1);
  EXPECT_EQ(out, (Vec{2, 4, 6}));
}

TEST(LbpMessage, DisplayPrintsOneRowPerLabel) {
  LbpMessage table(2, 2);
  table.setMessage({0.25, 0.75}, 0);
  table.setMessage({1.5, 2}, 1);
  testing::internal::CaptureStdout();
  table.display();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "0.25 1.5 \n0.75 2 \n");
}

TEST(VectorOperations, ElementwiseProductAndColumnMajorMatrixProduct) {
  Vec out;
  vector_dot_vector({1, 2}, {3, 4, 5}, out);
  EXPECT_EQ(out, (Vec{3, 8}));

  matrix_prod_vector({1, 2, 3, 4}, {1, 1}, out);
  EXPECT_EQ(out, (Vec{4, 6}));
  // Columns, not rows: out[r] = sum_j M[r + j*rows] * v[j].
  matrix_prod_vector({1, 2, 3, 4, 5, 6}, {1, 10}, out);
  EXPECT_EQ(out, (Vec{41, 52, 63}));

  Vec v{1, 10};
  matrix_prod_vector({1, 2, 3, 4}, v, v);
  EXPECT_EQ(v, (Vec{31, 42}));
}
