#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/foundation/Assert.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Thread.h"

using namespace platform;

namespace {

// gtest runs tests on the process's first thread, so the current loop is the main loop.
class RunLoopTest : public ::testing::Test {
 protected:
  void TearDown() override {
    loop_->runUntil([&] { return loop_->pendingCount() == 0; }, seconds(5));
    EXPECT_EQ(loop_->pendingCount(), 0u);
  }

  std::shared_ptr<RunLoop> loop_ = RunLoop::current();
};

TEST_F(RunLoopTest, TheTestThreadIsTheMainThread) {
  EXPECT_TRUE(RunLoop::isMainThread());
  EXPECT_EQ(RunLoop::main(), loop_);
  EXPECT_TRUE(loop_->isCurrent());
}

TEST_F(RunLoopTest, WorkRunsInOrderAndWorkPostedDuringAPassRunsAfter) {
  std::vector<int> order;
  loop_->perform([&] {
    order.push_back(1);
    loop_->perform([&] { order.push_back(4); });
  });
  loop_->perform([&] { order.push_back(2); });
  loop_->perform([&] { order.push_back(3); });
  EXPECT_TRUE(loop_->runUntil([&] { return order.size() == 4; }));
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
}

TEST_F(RunLoopTest, ManyPostersKeepTheirOwnOrder) {
  constexpr int kPosters = 8;
  constexpr int kEach = 500;
  std::map<int, std::vector<int>> seen;  // touched on the main thread only
  std::vector<std::shared_ptr<Thread>> posters;
  for (int p = 0; p < kPosters; ++p) {
    posters.push_back(Thread::start("poster", [this, p, &seen] {
      for (int i = 0; i < kEach; ++i) loop_->perform([p, i, &seen] { seen[p].push_back(i); });
    }));
  }
  int total = 0;
  EXPECT_TRUE(loop_->runUntil([&] {
    total = 0;
    for (auto& [p, values] : seen) total += static_cast<int>(values.size());
    return total == kPosters * kEach;
  }));
  for (auto& thread : posters) thread->join();
  for (auto& [p, values] : seen) {
    ASSERT_EQ(values.size(), static_cast<std::size_t>(kEach));
    for (int i = 0; i < kEach; ++i) ASSERT_EQ(values[i], i) << "poster " << p;
  }
}

TEST_F(RunLoopTest, PerformAndWaitRunsInlineOnItsOwnThread) {
  std::vector<std::string> order;
  loop_->perform([&] { order.push_back("queued"); });
  loop_->performAndWait([&] { order.push_back("inline"); });
  EXPECT_EQ(order, (std::vector<std::string>{"inline"}));
  loop_->runUntil([&] { return order.size() == 2; });
  EXPECT_EQ(order, (std::vector<std::string>{"inline", "queued"}));
}

TEST_F(RunLoopTest, PerformAndWaitFromAnotherThreadWaitsForTheMainLoop) {
  std::atomic<bool> returned{false};
  bool ranOnMain = false;
  std::string caught;
  auto thread = Thread::start("waiter", [&] {
    auto main = RunLoop::main();
    EXPECT_FALSE(main->isCurrent());
    main->performAndWait([&] { ranOnMain = Thread::isMainThread(); });
    try {
      main->performAndWait([] { throw std::runtime_error("boom"); });
    } catch (const std::runtime_error& e) {
      caught = e.what();
    }
    returned = true;
  });
  EXPECT_TRUE(loop_->runUntil([&] { return returned.load(); }));
  thread->join();
  EXPECT_TRUE(ranOnMain);
  EXPECT_EQ(caught, "boom");
}

TEST_F(RunLoopTest, MainLoopIsReachableFromOtherThreads) {
  std::atomic<bool> posted{false};
  bool ranOnMain = false;
  auto thread = Thread::start("poster", [&] {
    EXPECT_FALSE(RunLoop::isMainThread());
    EXPECT_NE(RunLoop::current(), RunLoop::main());
    RunLoop::main()->perform([&] { ranOnMain = Thread::isMainThread(); });
    posted = true;
  });
  thread->join();
  EXPECT_TRUE(posted);
  EXPECT_FALSE(ranOnMain);  // nothing runs until the main thread runs its loop
  EXPECT_TRUE(loop_->runUntil([&] { return ranOnMain; }));
}

TEST_F(RunLoopTest, StopEndsRunAndLeavesTheRestQueued) {
  std::vector<int> order;
  loop_->perform([&] { order.push_back(1); });
  loop_->perform([&] {
    order.push_back(2);
    loop_->stop();
  });
  loop_->perform([&] { order.push_back(3); });
  loop_->run();
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  loop_->runUntil([&] { return order.size() == 3; });
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST_F(RunLoopTest, StopFromAnotherThreadEndsRun) {
  // The other thread stops the loop only once it runs, so the stop arrives during the run.
  auto running = std::make_shared<std::promise<void>>();
  loop_->perform([running] { running->set_value(); });
  auto thread = Thread::start("stopper", [loop = loop_, running] {
    running->get_future().wait();
    loop->stop();
  });
  // A stop that does not wake the loop leaves it asleep until its next timer: this one, 10 s on,
  // which also ends a run whose stop was lost altogether.
  auto started = std::chrono::steady_clock::now();
  loop_->performAfter(
      seconds(10), [loop = loop_] { loop->stop(); }, &started);
  loop_->run();
  auto ran = std::chrono::steady_clock::now() - started;
  thread->join();
  loop_->cancelPerforms(&started);
  EXPECT_LT(ran, seconds(9)) << "the other thread's stop did not wake the loop";
}

TEST_F(RunLoopTest, StopEndsOnlyTheInnermostRun) {
  std::vector<std::string> events;
  loop_->perform([&] {
    loop_->perform([&] { loop_->stop(); });
    bool handled = loop_->runOnce(std::nullopt);
    events.push_back(handled ? "inner handled" : "inner stopped");
    loop_->perform([&] { events.push_back("outer continued"); });
    loop_->perform([&] { loop_->stop(); });
  });
  loop_->run();
  EXPECT_EQ(events, (std::vector<std::string>{"inner handled", "outer continued"}));
}

TEST_F(RunLoopTest, RunOnceWaitsUntilItsDeadline) {
  ScopedManualClock clock;
  MonoTime start = clock->monotonicNow();
  EXPECT_FALSE(loop_->runOnce(start));
  loop_->perform([] {});
  EXPECT_TRUE(loop_->runOnce(start));
}

TEST_F(RunLoopTest, RunOnceWakesWhenTheManualClockReachesADeadline) {
  ScopedManualClock clock;
  MonoTime deadline = clock->monotonicNow() + seconds(5);
  auto mover = Thread::start("mover", [clock = clock.get()] { clock->advanceSeconds(5); });
  EXPECT_FALSE(loop_->runOnce(deadline));
  mover->join();
}

TEST_F(RunLoopTest, RunUntilGivesUpAfterItsTimeout) {
  ScopedManualClock clock;
  EXPECT_FALSE(loop_->runUntil([] { return false; }, std::chrono::milliseconds(20)));
}

TEST_F(RunLoopTest, RunForUnderManualClockDrainsWorkBeforeMovingTime) {
  ScopedManualClock clock;
  MonoTime start = clock->monotonicNow();
  std::vector<double> at;
  auto stamp = [&] { at.push_back(toSeconds(clock->monotonicNow() - start)); };
  loop_->perform(stamp);
  loop_->performAfter(seconds(3), [&] {
    stamp();
    loop_->perform(stamp);
  });
  loop_->runFor(seconds(5));
  EXPECT_EQ(at, (std::vector<double>{0, 3, 3}));
  EXPECT_EQ(clock->monotonicNow() - start, seconds(5));
}

// Work on another thread that ends by posting its result: the clock waits for it, so the result
// lands at the clock time the work began, before a timer one second on, however slow the thread.
TEST_F(RunLoopTest, RunForMovesTheManualClockOnlyWhileQuiet) {
  ScopedManualClock clock;
  MonoTime start = clock->monotonicNow();
  std::vector<std::string> order;
  auto at = [&](const char* what) {
    order.push_back(what + (" at " + std::to_string(toSeconds(clock->monotonicNow() - start))));
  };
  std::mutex mutex;
  std::condition_variable cv;
  bool released = false;
  std::atomic<bool> working{true};
  // The worker goes on only after the loop ran the release, so its result cannot be queued
  // before the loop first looks for something to do.
  auto worker = Thread::start("worker", [&] {
    std::unique_lock lock(mutex);
    cv.wait(lock, [&] { return released; });
    loop_->perform([&] { at("result"); });
    working = false;
  });
  loop_->perform([&] {
    std::lock_guard lock(mutex);
    released = true;
    cv.notify_all();
  });
  loop_->performAfter(seconds(1), [&] { at("timer"); });
  loop_->runFor(
      seconds(2), [&] { return !working; }, seconds(20));
  worker->join();
  EXPECT_EQ(order, (std::vector<std::string>{"result at 0.000000", "timer at 1.000000"}));
  EXPECT_EQ(clock->monotonicNow() - start, seconds(2));
}

TEST_F(RunLoopTest, RunForMovesTheClockRegardlessOncePatienceIsSpent) {
  ScopedManualClock clock;
  MonoTime start = clock->monotonicNow();
  bool fired = false;
  loop_->performAfter(seconds(3), [&] { fired = true; });
  loop_->runFor(
      seconds(5), [] { return false; }, std::chrono::milliseconds(20));
  EXPECT_TRUE(fired);
  EXPECT_EQ(clock->monotonicNow() - start, seconds(5));
}

TEST_F(RunLoopTest, RunForUnderTheSystemClockNeverAsksWhetherQuiet) {
  int asked = 0;
  loop_->runFor(
      std::chrono::milliseconds(10), [&] { return ++asked > 0; }, seconds(20));
  EXPECT_EQ(asked, 0);
}

TEST_F(RunLoopTest, ExceptionsLeaveTheRunCallAndKeepTheQueue) {
  std::vector<int> order;
  loop_->perform([&] { order.push_back(1); });
  loop_->perform([] { throw std::runtime_error("work failed"); });
  loop_->perform([&] { order.push_back(3); });
  EXPECT_THROW(loop_->runUntil([&] { return order.size() == 2; }), std::runtime_error);
  EXPECT_EQ(order, (std::vector<int>{1}));
  EXPECT_TRUE(loop_->runUntil([&] { return order.size() == 2; }));
  EXPECT_EQ(order, (std::vector<int>{1, 3}));
}

// A pass takes all queued work at once; a run nested inside one of its items must still run the
// rest of that batch before anything posted later, and the batch counts as pending until run.
TEST_F(RunLoopTest, NestedRunKeepsTheOrderOfThePassAroundIt) {
  std::vector<std::string> order;
  std::size_t pendingSeenFirst = 0;
  loop_->perform([&] {
    pendingSeenFirst = loop_->pendingCount();
    order.push_back("outer starts");
    loop_->perform([&] { order.push_back("posted inside"); });
    EXPECT_TRUE(loop_->runUntil([&] { return order.size() == 4; }));
    order.push_back("outer ends");
  });
  loop_->perform([&] { order.push_back("second"); });
  loop_->perform([&] { order.push_back("third"); });
  EXPECT_TRUE(loop_->runUntil([&] { return order.size() == 5; }));
  EXPECT_EQ(pendingSeenFirst, 2u);
  EXPECT_EQ(order, (std::vector<std::string>{"outer starts", "second", "third", "posted inside",
                                             "outer ends"}));
}

TEST_F(RunLoopTest, RunUntilStopsBetweenItemsOfAPassAndKeepsTheRest) {
  std::vector<int> order;
  for (int i = 0; i < 5; ++i) loop_->perform([&, i] { order.push_back(i); });
  EXPECT_TRUE(loop_->runUntil([&] { return order.size() == 2; }));
  EXPECT_EQ(order, (std::vector<int>{0, 1}));
  EXPECT_EQ(loop_->pendingCount(), 3u);
  loop_->perform([&] { order.push_back(5); });
  EXPECT_TRUE(loop_->runUntil([&] { return order.size() == 6; }));
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 5}));
}

TEST_F(RunLoopTest, RunningAnotherThreadsLoopIsRefused) {
  std::string refused;
  auto thread = Thread::start("intruder", [&] {
    try {
      RunLoop::main()->runFor(seconds(1));
    } catch (const AssertionFailure& e) {
      refused = e.what();
    }
  });
  thread->join();
  EXPECT_FALSE(refused.empty());
}

}  // namespace
