#include "common/worker_pool.h"

#include <system_error>
#include <thread>

namespace vorn {

WorkerPool::WorkerPool(std::size_t maxWorkers, std::chrono::milliseconds linger)
    : maxWorkers_(maxWorkers == 0 ? 1 : maxWorkers), linger_(linger) {}

WorkerPool::~WorkerPool() {
  std::unique_lock lock(mutex_);
  closing_ = true;
  wake_.notify_all();
  allDone_.wait(lock, [this] { return workers_ == 0; });
}

void WorkerPool::submit(std::function<void()> job) {
  std::unique_lock lock(mutex_);
  jobs_.push_back(std::move(job));
  // Every idle worker that is not yet spoken for takes one queued job.
  if (idle_ >= jobs_.size()) {
    wake_.notify_one();
    return;
  }
  if (workers_ >= maxWorkers_) return;
  ++workers_;
  try {
    std::thread([this] { work(); }).detach();
    return;
  } catch (const std::system_error&) {
  }
  if (workers_ > 1) {
    --workers_;  // a busy worker will take the job
    return;
  }
  // No thread at all: the caller's own thread keeps the promise.
  lock.unlock();
  work();
}

// Runs jobs while there are any, lingers a moment for more, then ends; the
// last one out wakes the destructor. Nothing of the pool is touched after the
// final unlock.
void WorkerPool::work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    while (!jobs_.empty()) {
      auto job = std::move(jobs_.front());
      jobs_.pop_front();
      lock.unlock();
      job();
      lock.lock();
    }
    if (closing_) break;
    ++idle_;
    bool woken = wake_.wait_for(lock, linger_, [this] { return !jobs_.empty() || closing_; });
    --idle_;
    if (!woken) break;
  }
  --workers_;
  if (workers_ == 0) allDone_.notify_all();
}

}  // namespace vorn
