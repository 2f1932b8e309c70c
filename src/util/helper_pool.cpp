#include "util/helper_pool.h"

#include <algorithm>

namespace torva {

namespace {

thread_local HelperPool *threadPool = nullptr;

} // namespace

HelperPool *threadHelperPool() { return threadPool; }

void setThreadHelperPool(HelperPool *pool) { threadPool = pool; }

void HelperPool::work(Job &job, std::unique_lock<std::mutex> &hold) {
  while (job.taken < job.parts) {
    const int part = job.taken++;
    if (job.taken == job.parts)
      jobs_.erase(std::find(jobs_.begin(), jobs_.end(), &job));
    hold.unlock();
    (*job.part)(part);
    hold.lock();
    ++job.finished;
  }
  changed_.notify_all();
}

void HelperPool::serve() {
  std::unique_lock<std::mutex> hold(mutex_);
  for (;;) {
    ++idle_;
    changed_.wait(hold, [this] { return closed_ || !jobs_.empty(); });
    --idle_;
    if (closed_)
      return;
    work(*jobs_.front(), hold);
  }
}

void HelperPool::close() {
  const std::lock_guard<std::mutex> hold(mutex_);
  closed_ = true;
  changed_.notify_all();
}

int HelperPool::idleHelpers() const {
  const std::lock_guard<std::mutex> hold(mutex_);
  return idle_;
}

void HelperPool::run(int parts, const std::function<void(int)> &part) {
  Job job{parts, &part};
  std::unique_lock<std::mutex> hold(mutex_);
  jobs_.push_back(&job);
  if (parts > 1)
    changed_.notify_all();
  work(job, hold);
  changed_.wait(hold, [&job] { return job.finished == job.parts; });
}

} // namespace torva
