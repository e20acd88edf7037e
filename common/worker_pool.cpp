#include "common/worker_pool.h"

#include <system_error>
#include <thread>

namespace vorn {

WorkerPool::WorkerPool(std::size_t maxWorkers) : maxWorkers_(maxWorkers == 0 ? 1 : maxWorkers) {}

WorkerPool::~WorkerPool() {
  std::unique_lock lock(mutex_);
  allDone_.wait(lock, [this] { return workers_ == 0 && jobs_.empty(); });
}

void WorkerPool::submit(std::function<void()> job) {
  std::unique_lock lock(mutex_);
  jobs_.push_back(std::move(job));
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

// Runs jobs until none is left; the last one out wakes the destructor. Nothing
// of the pool is touched after the final unlock.
void WorkerPool::work() {
  std::unique_lock lock(mutex_);
  while (!jobs_.empty()) {
    auto job = std::move(jobs_.front());
    jobs_.pop_front();
    lock.unlock();
    job();
    lock.lock();
  }
  --workers_;
  if (workers_ == 0) allDone_.notify_all();
}

}  // namespace vorn
