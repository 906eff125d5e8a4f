#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/foundation/RunLoop.h"

using namespace platform;

namespace {

// Timers run on the test thread's loop under a manual clock. Every test leaves the loop empty,
// since the loop outlives the test when the whole suite runs in one process.
class TimerTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (auto& timer : timers_) timer->invalidate();
    loop_->runUntil([&] { return loop_->pendingCount() == 0; }, seconds(5));
    EXPECT_EQ(loop_->pendingCount(), 0u);
  }

  std::shared_ptr<Timer> scheduled(double interval, bool repeats, Timer::Action action) {
    auto timer = Timer::scheduled(seconds(interval), repeats, std::move(action));
    timers_.push_back(timer);
    return timer;
  }

  MonoTime now() { return Clock::shared()->monotonicNow(); }

  ScopedManualClock clock_;
  std::shared_ptr<RunLoop> loop_ = RunLoop::current();
  std::vector<std::shared_ptr<Timer>> timers_;
};

TEST_F(TimerTest, OneShotFiresOnceAtItsDateAndIsThenInvalid) {
  int fired = 0;
  auto timer = scheduled(1.0, false, [&](Timer&) { ++fired; });
  loop_->runFor(seconds(0.5));
  EXPECT_EQ(fired, 0);
  EXPECT_TRUE(timer->isValid());
  loop_->runFor(seconds(0.5));
  EXPECT_EQ(fired, 1);
  EXPECT_FALSE(timer->isValid());
  loop_->runFor(seconds(5));
  EXPECT_EQ(fired, 1);
}

TEST_F(TimerTest, RepeatingTimerFiresOncePerIntervalUnderRunFor) {
  MonoTime start = now();
  std::vector<MonoTime> fireTimes;
  scheduled(1.0, true, [&](Timer&) { fireTimes.push_back(now()); });
  loop_->runFor(seconds(10));
  ASSERT_EQ(fireTimes.size(), 10u);
  for (std::size_t i = 0; i < fireTimes.size(); ++i) {
    EXPECT_EQ(fireTimes[i] - start, seconds(1.0 * (i + 1)));
  }
  EXPECT_EQ(now() - start, seconds(10));
}

TEST_F(TimerTest, RepeatingTimerBehindFiresOnceAndLandsOnNextMultiple) {
  MonoTime start = now();
  int fired = 0;
  auto timer = scheduled(1.0, true, [&](Timer&) { ++fired; });
  clock_->advanceSeconds(3.5);
  EXPECT_TRUE(loop_->runOnce(now()));
  EXPECT_EQ(fired, 1);
  EXPECT_EQ(timer->fireDate() - start, seconds(4));
  EXPECT_FALSE(loop_->runOnce(now()));
  EXPECT_EQ(fired, 1);
}

TEST_F(TimerTest, ActionMayInvalidateItselfAndOtherTimers) {
  int selfFired = 0;
  int victimFired = 0;
  scheduled(1.0, true, [&](Timer& t) {
    if (++selfFired == 3) t.invalidate();
  });
  auto victim = Timer::create(seconds(2), true, [&](Timer&) { ++victimFired; });
  timers_.push_back(victim);
  // Due at the same moment as the victim and added first, so it fires first and cancels it.
  scheduled(2.0, false, [&](Timer&) { victim->invalidate(); });
  loop_->addTimer(victim);
  loop_->runFor(seconds(10));
  EXPECT_EQ(selfFired, 3);
  EXPECT_EQ(victimFired, 0);
  EXPECT_FALSE(victim->isValid());
}

TEST_F(TimerTest, ActionMayAddTimersAndPostWork) {
  std::vector<std::string> events;
  scheduled(1.0, false, [&](Timer&) {
    events.push_back("first");
    loop_->perform([&] { events.push_back("posted"); });
    scheduled(1.0, false, [&](Timer&) { events.push_back("second"); });
  });
  loop_->runFor(seconds(1));
  EXPECT_EQ(events, (std::vector<std::string>{"first", "posted"}));
  loop_->runFor(seconds(1));
  EXPECT_EQ(events, (std::vector<std::string>{"first", "posted", "second"}));
}

TEST_F(TimerTest, FireRunsTheActionNow) {
  int oneShot = 0;
  int repeating = 0;
  auto once = scheduled(5.0, false, [&](Timer&) { ++oneShot; });
  auto again = scheduled(5.0, true, [&](Timer&) { ++repeating; });
  MonoTime date = again->fireDate();
  once->fire();
  again->fire();
  EXPECT_EQ(oneShot, 1);
  EXPECT_EQ(repeating, 1);
  EXPECT_FALSE(once->isValid());
  EXPECT_TRUE(again->isValid());
  EXPECT_EQ(again->fireDate(), date);
  once->fire();
  EXPECT_EQ(oneShot, 1);
  loop_->runFor(seconds(5));
  EXPECT_EQ(oneShot, 1);
  EXPECT_EQ(repeating, 2);
}

TEST_F(TimerTest, InvalidateReleasesTheAction) {
  auto token = std::make_shared<int>(1);
  std::weak_ptr<int> watch = token;
  auto timer = scheduled(1.0, true, [token](Timer&) {});
  token.reset();
  EXPECT_FALSE(watch.expired());
  timer->invalidate();
  EXPECT_TRUE(watch.expired());
  EXPECT_FALSE(timer->isValid());
}

TEST_F(TimerTest, PerformAfterRunsInOrderAndCancelsByOwner) {
  int ownerA = 0;
  int ownerB = 0;
  std::vector<std::string> events;
  loop_->performAfter(
      seconds(1), [&] { events.push_back("a1"); }, &ownerA);
  loop_->performAfter(
      seconds(1), [&] { events.push_back("b1"); }, &ownerB);
  loop_->performAfter(seconds(1), [&] { events.push_back("none"); });
  loop_->performAfter(
      seconds(2), [&] { events.push_back("a2"); }, &ownerA);
  loop_->performAfter(
      seconds(2), [&] { events.push_back("b2"); }, &ownerB);
  loop_->runFor(seconds(0.5));
  EXPECT_TRUE(events.empty());
  loop_->cancelPerforms(&ownerA);
  loop_->runFor(seconds(5));
  EXPECT_EQ(events, (std::vector<std::string>{"b1", "none", "b2"}));
}

TEST_F(TimerTest, CancelPerformsLeavesPlainTimersAlone) {
  int fired = 0;
  scheduled(1.0, false, [&](Timer&) { ++fired; });
  loop_->cancelPerforms(nullptr);
  loop_->runFor(seconds(1));
  EXPECT_EQ(fired, 1);
}

TEST_F(TimerTest, RepeatingTimerWithoutIntervalDoesNotStarveTheLoop) {
  int fired = 0;
  scheduled(0.0, true, [&](Timer&) { ++fired; });
  EXPECT_GT(timers_.back()->interval(), Duration::zero());
  loop_->runFor(std::chrono::milliseconds(1));
  EXPECT_EQ(fired, 10);
}

// A fire date past the end of the clock stays there: the timer waits for ever instead of wrapping
// round to a date in the past and firing at once.
TEST_F(TimerTest, TimersBeyondTheEndOfTheClockNeverFire) {
  int fired = 0;
  // A timer that does fire stops itself, so a wrapped date fails the test instead of spinning.
  auto record = [&](Timer& timer) {
    ++fired;
    timer.invalidate();
  };
  scheduled(1e300, false, record);
  scheduled(1e300, true, record);
  timers_.push_back(Timer::create(Duration::max(), true, record));
  loop_->addTimer(timers_.back());
  int ownerOfDelayed = 0;
  loop_->performAfter(
      seconds(1e12), [&] { ++fired; }, &ownerOfDelayed);
  loop_->runFor(seconds(3600));
  EXPECT_EQ(fired, 0);
  EXPECT_EQ(timers_.back()->fireDate(), MonoTime::max());
  loop_->cancelPerforms(&ownerOfDelayed);
}

}  // namespace
