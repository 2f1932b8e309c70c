#pragma once
// Threads that have run out of work of their own lend themselves to threads that have not. A
// thread with a job that splits into parts offers it; idle threads take parts while it runs
// the others. The resampling loop makes its workers helpers once no iteration is left to
// start, so that the last iterations of a run, or a run of fewer iterations than threads,
// keep every thread busy.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

namespace torva {

class HelperPool {
public:
  // Serves jobs in the calling thread until close().
  void serve();
  // Ends serve() in every helper once its current part is done.
  void close();
  // Threads waiting in serve() for a part right now.
  int idleHelpers() const;

  // Runs part(0), part(1), ..., part(parts - 1), each once, in the calling thread and in idle
  // helpers, and returns when all are done. Parts are taken in ascending order, so a part may
  // wait for progress of an earlier one: that one has been taken by a thread running it.
  void run(int parts, const std::function<void(int)> &part);

private:
  struct Job {
    int parts;
    const std::function<void(int)> *part;
    int taken = 0;    // parts handed out
    int finished = 0; // parts done
  };
  // Takes and runs parts of `job` until none is left; `hold` is held on entry and on return.
  void work(Job &job, std::unique_lock<std::mutex> &hold);

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Job *> jobs_; // jobs with parts not yet taken
  int idle_ = 0;
  bool closed_ = false;
};

// The pool the calling thread may hand parts of its work to (null: none), set by the thread
// that runs it.
HelperPool *threadHelperPool();
void setThreadHelperPool(HelperPool *pool);

} // namespace torva
