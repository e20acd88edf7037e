// The worker pool behind the service mode: every job runs exactly once, no
// more than the limit at a time, a slow job never holds up the next, and the
// pool waits for all of them before it goes.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "common/worker_pool.h"

namespace {

using namespace std::chrono_literals;

TEST(WorkerPool, RunsEveryJobOnceWithinTheLimit) {
  std::atomic<int> done{0}, running{0}, most{0};
  {
    vorn::WorkerPool pool(4, 10ms);
    for (int i = 0; i < 200; ++i) {
      pool.submit([&] {
        int now = ++running;
        int seen = most.load();
        while (now > seen && !most.compare_exchange_weak(seen, now)) {
        }
        std::this_thread::sleep_for(1ms);
        --running;
        ++done;
      });
    }
  }  // the destructor waits for every job
  EXPECT_EQ(done.load(), 200);
  EXPECT_LE(most.load(), 4);
  EXPECT_GE(most.load(), 2);
}

TEST(WorkerPool, ASlowJobDoesNotHoldUpTheNext) {
  vorn::WorkerPool pool(8);
  std::promise<void> release;
  auto gate = release.get_future().share();
  pool.submit([gate] { gate.wait(); });
  std::promise<void> ran;
  pool.submit([&ran] { ran.set_value(); });
  EXPECT_EQ(ran.get_future().wait_for(10s), std::future_status::ready);
  release.set_value();
}

}  // namespace
