#pragma once
// Starting threads on one piece of work and waiting for them: the one fan-out of the study
// decoder, the permutation nulls and the resampling loop. A team is always joined, on every
// path out of its scope: a std::thread destroyed unjoined ends the whole process.
#include <functional>
#include <thread>
#include <utility>
#include <vector>

namespace torva {

class ThreadTeam {
public:
  // Starts `count` threads running work(t), t = 0 .. count - 1 (each holds its own copy of
  // `work`). `release` makes running work return; it is called before the join of a team left
  // by an exception (or whose start failed), and the default does nothing, for work that ends
  // by itself.
  template <class Work>
  ThreadTeam(
      int count, Work work, std::function<void()> release = [] {})
      : release_(std::move(release)) {
    try {
      threads_.reserve(static_cast<std::size_t>(count > 0 ? count : 0));
      for (int t = 0; t < count; ++t)
        threads_.emplace_back(work, t);
    } catch (...) {
      releaseAndJoin(); // the threads already started, when a later one could not be
      throw;
    }
  }
  ThreadTeam(const ThreadTeam &) = delete;
  ThreadTeam &operator=(const ThreadTeam &) = delete;
  ~ThreadTeam() { releaseAndJoin(); }

  // Waits for every thread's work to return.
  void join() {
    for (std::thread &thread : threads_)
      if (thread.joinable())
        thread.join();
  }

private:
  void releaseAndJoin() {
    for (const std::thread &thread : threads_)
      if (thread.joinable()) {
        release_();
        break;
      }
    join();
  }

  std::function<void()> release_;
  std::vector<std::thread> threads_;
};

// work(t) for t = 0 .. count - 1: t = 0 on the calling thread, each other on a thread of its
// own. Returns when all have returned.
template <class Work> void fanOut(int count, Work &&work) {
  ThreadTeam team(count - 1, [&work](int t) { work(t + 1); });
  work(0);
  team.join();
}

} // namespace torva
