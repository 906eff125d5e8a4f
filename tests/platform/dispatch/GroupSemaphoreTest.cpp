#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "Probe.h"
#include "platform/dispatch/Group.h"
#include "platform/dispatch/Semaphore.h"
#include "platform/foundation/Assert.h"

using namespace platform;
using namespace platform::dispatch;
using dispatchtest::Probe;

namespace {

// Moves the manual clock a second at a time until `done` has counted one, and answers how far
// the waiter's clock had moved when it finished.
void advanceUntilDone(ScopedManualClock& clock, Probe& done) {
  for (int step = 0; step < 1000 && !done.waitCountFor(1, std::chrono::milliseconds(5)); ++step)
    clock->advanceSeconds(1);
  ASSERT_EQ(done.count(), 1u);
}

}  // namespace

TEST(GroupTest, WaitReturnsOnceEveryTaskLeft) {
  auto group = Group::make();
  std::atomic<int> ran{0};
  auto q = Queue::concurrent("group-work");
  for (int i = 0; i < 50; ++i) q->async(group, [&] { ++ran; });
  EXPECT_TRUE(group->wait());
  EXPECT_EQ(ran, 50);
}

TEST(GroupTest, NotifyRunsAfterTheLastLeave) {
  auto group = Group::make();
  auto q = Queue::serial("notified");
  Probe probe;
  group->enter();
  group->enter();
  group->notify(q, [&] { probe.add(1); });
  group->leave();
  q->sync([] {});  // a notification queued by now would have run
  EXPECT_TRUE(probe.values().empty());
  group->leave();
  ASSERT_TRUE(probe.waitValues(1));
  EXPECT_TRUE(group->wait(Duration::zero()));
}

TEST(GroupTest, NotifyOnAnEmptyGroupRunsAtOnce) {
  auto group = Group::make();
  Probe probe;
  group->notify(Queue::global(), [&] { probe.tick(); });
  EXPECT_TRUE(probe.waitCount(1));
}

TEST(GroupTest, LeavingMoreThanEnteredFailsAnAssertion) {
  auto group = Group::make();
  group->enter();
  group->leave();
  EXPECT_THROW(group->leave(), AssertionFailure);
}

TEST(GroupTest, WaitTimesOutOnTheManualClock) {
  ScopedManualClock clock;
  auto group = Group::make();
  group->enter();
  EXPECT_FALSE(group->wait(Duration::zero()));
  Probe done;
  bool result = true;
  MonoTime start, end;
  std::thread waiter([&] {
    start = Clock::shared()->monotonicNow();
    result = group->wait(seconds(3));
    end = Clock::shared()->monotonicNow();
    done.tick();
  });
  advanceUntilDone(clock, done);
  waiter.join();
  EXPECT_FALSE(result);
  EXPECT_GE(end - start, seconds(3));
  group->leave();
}

TEST(SemaphoreTest, CountsUnits) {
  Semaphore semaphore(2);
  EXPECT_TRUE(semaphore.wait(Duration::zero()));
  EXPECT_TRUE(semaphore.wait(Duration::zero()));
  EXPECT_FALSE(semaphore.wait(Duration::zero()));
  semaphore.signal();
  EXPECT_TRUE(semaphore.wait(Duration::zero()));
}

TEST(SemaphoreTest, SignalWakesAWaiter) {
  Semaphore semaphore;
  Probe done;
  std::thread waiter([&] {
    if (semaphore.wait()) done.tick();
  });
  semaphore.signal();
  EXPECT_TRUE(done.waitCount(1));
  waiter.join();
}

TEST(SemaphoreTest, TimeoutFollowsTheManualClock) {
  ScopedManualClock clock;
  Semaphore semaphore;
  Probe done;
  bool result = true;
  MonoTime start, end;
  std::thread waiter([&] {
    start = Clock::shared()->monotonicNow();
    result = semaphore.wait(seconds(5));
    end = Clock::shared()->monotonicNow();
    done.tick();
  });
  advanceUntilDone(clock, done);
  waiter.join();
  EXPECT_FALSE(result);
  EXPECT_GE(end - start, seconds(5));
  // The unit that comes late is still there for the next waiter.
  semaphore.signal();
  EXPECT_TRUE(semaphore.wait(seconds(5)));
}

TEST(SemaphoreTest, BoundsABacklogOfAsyncWork) {
  // The producer may run at most 1000 items ahead of the consumer.
  Semaphore room(1000);
  auto q = Queue::serial("backlog");
  std::atomic<int> consumed{0};
  for (int i = 0; i < 2000; ++i) {
    ASSERT_TRUE(room.wait(seconds(20)));
    q->async([&] {
      ++consumed;
      room.signal();
    });
  }
  q->sync([] {});
  EXPECT_EQ(consumed, 2000);
}
