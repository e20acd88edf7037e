// Threads that come and go with the work: each job runs at once on an idle
// worker, or on a new one while fewer than the limit are busy, else waits for
// the next free one. An idle worker waits a moment for more work (sparing a
// thread start per call in a busy service) and then ends, so no thread stays
// behind once the work stops.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

namespace vorn {

class WorkerPool {
 public:
  explicit WorkerPool(std::size_t maxWorkers,
                      std::chrono::milliseconds linger = std::chrono::milliseconds(500));
  /// Waits until every submitted job has run and every worker has ended.
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  /// Queues `job` and makes sure a worker will take it. A thread that cannot
  /// be started leaves the job to the busy workers, or runs it on the
  /// caller's thread when there are none.
  void submit(std::function<void()> job);

 private:
  void work();

  std::mutex mutex_;
  std::condition_variable wake_;     // work arrived, or the pool is closing
  std::condition_variable allDone_;  // the last worker ended
  std::deque<std::function<void()>> jobs_;
  std::size_t workers_ = 0;
  std::size_t idle_ = 0;
  bool closing_ = false;
  const std::size_t maxWorkers_;
  const std::chrono::milliseconds linger_;
};

}  // namespace vorn
