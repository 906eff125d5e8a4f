// The pool's count of jobs in flight: a job counts from its submission until it has run, also
// while it blocks.

#include <gtest/gtest.h>

#include "Probe.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/Semaphore.h"
#include "platform/dispatch/WorkerPool.h"
#include "platform/foundation/RunLoop.h"

namespace {

using platform::dispatch::Queue;
using platform::dispatch::Semaphore;
using platform::dispatch::WorkerPool;

TEST(WorkerPoolTest, AJobCountsInFlightUntilItHasRun) {
  auto& pool = WorkerPool::shared();
  dispatchtest::Probe started, done;
  Semaphore release;
  // A serial queue hands the pool one job at a time: the second waits on the queue, not in the
  // pool, while the first blocks on a worker.
  auto queue = Queue::serial("worker-pool-test");
  queue->async([&] {
    started.tick();
    release.wait();
  });
  queue->async([&] { done.tick(); });
  ASSERT_TRUE(started.waitCount(1));
  EXPECT_GE(pool.jobsInFlight(), 1u) << "a job blocked on its worker is in flight";

  release.signal();
  ASSERT_TRUE(done.waitCount(1));
  // The end of the last job is counted just after it returns.
  EXPECT_TRUE(platform::RunLoop::main()->runUntil([&] { return pool.jobsInFlight() == 0; },
                                                  dispatchtest::kPatience));
}

}  // namespace
