// The region search counts and scores one family per candidate voxel, hundreds of thousands of
// times per round: after the first call neither step may allocate.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "bn/bn.h"

// Counting replaces the global allocation functions for the whole test program; the sanitizer
// builds keep their own (they check new/delete pairing), so the count runs in the plain build only.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TORVA_COUNT_ALLOCATIONS 0
#else
#define TORVA_COUNT_ALLOCATIONS 1
#endif

namespace {

std::atomic<long> allocations{0};

} // namespace

#if TORVA_COUNT_ALLOCATIONS
void *operator new(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void *p = std::malloc(size == 0 ? 1 : size))
    return p;
  throw std::bad_alloc();
}

void operator delete(void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }
#endif

TEST(BnAllocation, CountingAndScoringAFamilyAllocatesNothingAfterTheFirstCall) {
  if (!TORVA_COUNT_ALLOCATIONS)
    GTEST_SKIP() << "allocations are not counted in the sanitizer build";
  std::srand(3);
  Samples data;
  data.setSize(4, 300);
  for (int c = 0; c < 300; ++c)
    for (int i = 0; i < 4; ++i)
      data.setCell(c, i, static_cast<char>('0' + std::rand() % 2));
  BN bn;
  bn.setSize(4, {2, 2, 2, 2});
  Dag dag(4);
  dag.set(0, 3, 1);
  dag.set(2, 3, 1);
  bn.setDag(dag);
  bn.getSuffStatNode(data, 3);
  double total = bn.K2ScoreNode(3, 1);

  const long before = allocations.load();
  for (int round = 0; round < 100; ++round) {
    data.setCell(round, 2, static_cast<char>('0' + round % 2));
    bn.getSuffStatNode(data, 3);
    total += bn.K2ScoreNode(3, 1);
  }
  EXPECT_EQ(allocations.load() - before, 0);
  EXPECT_LT(total, 0.0);
}
