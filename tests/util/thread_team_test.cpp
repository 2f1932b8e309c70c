// The one fan-out: every part runs once, the caller takes part 0, and a team is joined on every
// path out of its scope, released first when it is left by an exception or its start fails.
#include "util/thread_team.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using torva::fanOut;
using torva::ThreadTeam;

TEST(ThreadTeam, FanOutRunsEachPartOnceAndTheCallerTakesPartZero) {
  for (const int count : {1, 2, 5}) {
    std::vector<std::atomic<int>> runs(static_cast<std::size_t>(count));
    std::vector<std::thread::id> ids(static_cast<std::size_t>(count));
    fanOut(count, [&](int t) {
      ++runs[static_cast<std::size_t>(t)];
      ids[static_cast<std::size_t>(t)] = std::this_thread::get_id();
    });
    for (int t = 0; t < count; ++t)
      EXPECT_EQ(runs[static_cast<std::size_t>(t)], 1) << count << " parts, part " << t;
    EXPECT_EQ(ids[0], std::this_thread::get_id());
    // Each other part had a thread of its own.
    const std::set<std::thread::id> distinct(ids.begin(), ids.end());
    EXPECT_EQ(distinct.size(), static_cast<std::size_t>(count));
  }
}

// What the threads wrote is there once join() returns; a joined team is not released.
TEST(ThreadTeam, JoinWaitsForEveryThreadAndDoesNotRelease) {
  std::vector<long> sums(4, 0);
  int releases = 0;
  {
    ThreadTeam team(
        4,
        [&sums](int t) {
          for (long i = 1; i <= 100000; ++i)
            sums[static_cast<std::size_t>(t)] += i * (t + 1);
        },
        [&releases] { ++releases; });
    team.join();
    for (int t = 0; t < 4; ++t)
      EXPECT_EQ(sums[static_cast<std::size_t>(t)], 5000050000L * (t + 1));
  }
  EXPECT_EQ(releases, 0);
}

// Work that only returns once released, as the resampling loop's workers wait in the helper pool.
struct HeldWork {
  std::shared_ptr<std::atomic<bool>> released;
  std::shared_ptr<std::atomic<int>> finished;
  void operator()(int) const {
    while (!*released)
      std::this_thread::yield();
    ++*finished;
  }
};

TEST(ThreadTeam, ATeamLeftByAnExceptionIsReleasedAndJoined) {
  HeldWork work{std::make_shared<std::atomic<bool>>(false), std::make_shared<std::atomic<int>>(0)};
  int releases = 0;
  EXPECT_THROW(
      {
        ThreadTeam team(3, work, [&] {
          ++releases;
          *work.released = true;
        });
        throw std::runtime_error("the writer failed");
      },
      std::runtime_error);
  EXPECT_EQ(releases, 1);
  EXPECT_EQ(*work.finished, 3); // joined: every thread ran to its end
}

// A thread that cannot be started (here: its copy of the work throws) ends the constructor with
// the exception, after releasing and joining the threads already running, instead of ending the
// process through an unjoined std::thread.
struct CopyFailsAt {
  HeldWork held;
  std::shared_ptr<std::atomic<int>> copies;
  int failAt;
  CopyFailsAt(HeldWork h, std::shared_ptr<std::atomic<int>> c, int f)
      : held(std::move(h)), copies(std::move(c)), failAt(f) {}
  CopyFailsAt(const CopyFailsAt &other)
      : held(other.held), copies(other.copies), failAt(other.failAt) {
    if (++*copies == failAt)
      throw std::runtime_error("no thread");
  }
  CopyFailsAt(CopyFailsAt &&) = default;
  void operator()(int t) const { held(t); }
};

TEST(ThreadTeam, AFailedStartReleasesAndJoinsTheThreadsAlreadyStarted) {
  HeldWork held{std::make_shared<std::atomic<bool>>(false), std::make_shared<std::atomic<int>>(0)};
  auto copies = std::make_shared<std::atomic<int>>(0);
  EXPECT_THROW(ThreadTeam(5, CopyFailsAt(held, copies, 3), [&held] { *held.released = true; }),
               std::runtime_error);
  EXPECT_TRUE(*held.released);
  EXPECT_EQ(*held.finished, 2); // the two started before the third failed
}

} // namespace
