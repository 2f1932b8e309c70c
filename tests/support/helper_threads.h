#pragma once
// Threads serving a helper pool for as long as the object lives, as the resampling loop's idle
// workers do.
#include <thread>
#include <vector>

#include "util/helper_pool.h"

namespace testsupport {

class HelperThreads {
public:
  // Returns once all `count` threads wait for work.
  HelperThreads(torva::HelperPool &pool, int count) : pool_(pool) {
    for (int i = 0; i < count; ++i)
      threads_.emplace_back([this] { pool_.serve(); });
    while (pool_.idleHelpers() < count)
      std::this_thread::yield();
  }
  ~HelperThreads() {
    pool_.close();
    for (std::thread &t : threads_)
      t.join();
  }
  HelperThreads(const HelperThreads &) = delete;
  HelperThreads &operator=(const HelperThreads &) = delete;

private:
  torva::HelperPool &pool_;
  std::vector<std::thread> threads_;
};

} // namespace testsupport
