// Idle threads take parts of a job in ascending order, each part runs exactly once, a part may
// wait for an earlier one's progress, and serve() ends on close().
#include "util/helper_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "support/helper_threads.h"

using Helpers = testsupport::HelperThreads;

TEST(HelperPool, WithoutHelpersTheCallerRunsEveryPartInOrder) {
  torva::HelperPool pool;
  std::vector<int> order;
  pool.run(4, [&order](int part) { order.push_back(part); });
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3}));
  pool.run(1, [&order](int part) { order.push_back(10 + part); });
  EXPECT_EQ(order.back(), 10);
}

// A pipeline of parts that each wait for the one before: it can finish only if every part is
// taken by a thread that runs it. Part 0 waits until part 1 has started, which only an idle
// helper can do: the helpers take parts while the caller runs its own.
TEST(HelperPool, PartsWaitingForEarlierPartsFinishAndRunOnHelpers) {
  for (const int helpers : {1, 3}) {
    torva::HelperPool pool;
    Helpers serving(pool, helpers);
    for (int round = 0; round < 20; ++round) {
      constexpr int kParts = 4;
      constexpr int kSteps = 50;
      std::atomic<int> progress[kParts] = {};
      std::atomic<bool> secondStarted{false};
      std::mutex guard;
      std::multiset<int> ran;
      std::set<std::thread::id> threads;
      pool.run(kParts, [&](int part) {
        if (part == 1)
          secondStarted = true;
        while (part == 0 && !secondStarted)
          std::this_thread::yield();
        for (int step = 1; step <= kSteps; ++step) {
          if (part > 0)
            while (progress[part - 1].load() < step)
              std::this_thread::yield();
          progress[part].store(step);
        }
        const std::lock_guard<std::mutex> hold(guard);
        ran.insert(part);
        threads.insert(std::this_thread::get_id());
      });
      EXPECT_EQ(ran, (std::multiset<int>{0, 1, 2, 3}));
      EXPECT_GE(threads.size(), 2u) << helpers << " helpers, round " << round;
      EXPECT_EQ(progress[kParts - 1].load(), kSteps);
    }
  }
}

// Jobs of several threads at once share the helpers; every part of every job runs once.
TEST(HelperPool, ConcurrentJobsEachRunEveryPartOnce) {
  torva::HelperPool pool;
  Helpers serving(pool, 2);
  std::atomic<int> runs[3][5] = {};
  std::vector<std::thread> owners;
  for (int job = 0; job < 3; ++job)
    owners.emplace_back([&pool, &runs, job] {
      for (int round = 0; round < 30; ++round)
        pool.run(5, [&runs, job](int part) { ++runs[job][part]; });
    });
  for (std::thread &owner : owners)
    owner.join();
  for (int job = 0; job < 3; ++job)
    for (int part = 0; part < 5; ++part)
      EXPECT_EQ(runs[job][part].load(), 30) << "job " << job << ", part " << part;
}

TEST(HelperPool, CloseEndsServingAndTheThreadsPool) {
  torva::HelperPool pool;
  { Helpers serving(pool, 2); } // joins: close() ended serve() in both
  pool.serve();                 // returns at once on a closed pool
  EXPECT_EQ(pool.idleHelpers(), 0);
  EXPECT_EQ(torva::threadHelperPool(), nullptr);
  torva::setThreadHelperPool(&pool);
  EXPECT_EQ(torva::threadHelperPool(), &pool);
  std::thread other([] { EXPECT_EQ(torva::threadHelperPool(), nullptr); });
  other.join();
  torva::setThreadHelperPool(nullptr);
}
