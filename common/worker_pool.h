// Threads that come and go with the work: each job runs at once on a thread
// of its own while fewer than the limit are busy, else waits for the next
// free one. No thread stays behind once the queue is empty.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

namespace vorn {

class WorkerPool {
 public:
  explicit WorkerPool(std::size_t maxWorkers);
  /// Waits until every submitted job has run.
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  /// Queues `job`; starts a worker for it unless the limit is reached.
  /// A thread that cannot be started leaves the job to the busy workers, or
  /// runs it on the caller's thread when there are none.
  void submit(std::function<void()> job);

 private:
  void work();

  std::mutex mutex_;
  std::condition_variable allDone_;
  std::deque<std::function<void()>> jobs_;
  std::size_t workers_ = 0;
  const std::size_t maxWorkers_;
};

}  // namespace vorn
