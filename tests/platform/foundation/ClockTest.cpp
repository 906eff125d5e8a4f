#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
#include <thread>

#include "platform/foundation/Clock.h"

using namespace platform;

TEST(ClockTest, ManualClockMovesBothReadings) {
  ManualClock c;
  auto m0 = c.monotonicNow();
  auto d0 = c.now();
  c.advanceSeconds(2.5);
  EXPECT_EQ(c.monotonicNow() - m0, seconds(2.5));
  EXPECT_DOUBLE_EQ(toSeconds(c.now()) - toSeconds(d0), 2.5);
  EXPECT_EQ(c.sleepDuration(c.monotonicNow()), Duration::zero());
  EXPECT_EQ(c.sleepDuration(c.monotonicNow() + seconds(1)), std::nullopt);
}

TEST(ClockTest, ScopedManualClockInstallsAndRestores) {
  auto before = Clock::shared();
  {
    ScopedManualClock manual;
    EXPECT_EQ(Clock::shared(), manual.get());
  }
  EXPECT_EQ(Clock::shared(), before);
}

TEST(ClockTest, WaitUntilEndsWhenManualClockPassesDeadline) {
  ScopedManualClock manual;
  std::mutex m;
  std::condition_variable cv;
  bool result = true;
  std::atomic<bool> started{false};
  // Fixed before the waiter starts: read inside it, a deadline could land after the moves below.
  const MonoTime deadline = Clock::shared()->monotonicNow() + seconds(5);
  std::thread waiter([&] {
    std::unique_lock<std::mutex> lock(m);
    started = true;
    result = waitUntil(cv, lock, deadline, [] { return false; });
  });
  while (!started) std::this_thread::yield();
  manual->advanceSeconds(4);  // not yet
  manual->advanceSeconds(1);  // deadline reached: the waiter must wake without any real delay
  waiter.join();
  EXPECT_FALSE(result);
}

TEST(ClockTest, WaitUntilReturnsTrueWhenReady) {
  ScopedManualClock manual;
  std::mutex m;
  std::condition_variable cv;
  bool ready = false;
  std::thread setter([&] {
    std::lock_guard<std::mutex> g(m);
    ready = true;
    cv.notify_all();
  });
  std::unique_lock<std::mutex> lock(m);
  EXPECT_TRUE(
      waitUntil(cv, lock, Clock::shared()->monotonicNow() + seconds(1), [&] { return ready; }));
  lock.unlock();
  setter.join();
}

TEST(ClockTest, WaitUntilOnSystemClockTimesOut) {
  std::mutex m;
  std::condition_variable cv;
  std::unique_lock<std::mutex> lock(m);
  EXPECT_FALSE(waitUntil(cv, lock, Clock::shared()->monotonicNow() + std::chrono::milliseconds(5),
                         [] { return false; }));
}

// Intervals in seconds beyond what 64-bit nanoseconds hold (a century-long max-age, 1e300)
// become the longest duration of their sign, never a wrapped or undefined one.
TEST(ClockTest, SecondsSaturateBeyondTheDurationRange) {
  const std::pair<double, Duration> cases[] = {
      {1.5, std::chrono::milliseconds(1500)},
      {-2.0, std::chrono::seconds(-2)},
      {9e9, std::chrono::seconds(9000000000)},
      {1e10, Duration::max()},
      {1e300, Duration::max()},
      {std::numeric_limits<double>::infinity(), Duration::max()},
      {-1e300, Duration::min()},
      {std::numeric_limits<double>::quiet_NaN(), Duration::zero()},
  };
  for (const auto& [secs, expected] : cases) {
    SCOPED_TRACE(secs);
    EXPECT_EQ(seconds(secs), expected);
  }
}

TEST(ClockTest, ManualClockStopsAtTheEndOfTime) {
  ManualClock c;
  Date start = c.now();
  c.advance(Duration::max());
  EXPECT_EQ(c.monotonicNow(), MonoTime::max());
  EXPECT_EQ(c.now(), Date::max());
  c.advanceSeconds(1);
  EXPECT_EQ(c.monotonicNow(), MonoTime::max());
  EXPECT_GT(c.now(), start);
}

// Detached threads (the dispatch reactor, pool workers) read the clock while the process exits,
// after static destruction has begun: the system clock must still be there for them.
TEST(ClockTest, TheSystemClockOutlivesStaticDestruction) {
  // A fresh process, so the clock is first made inside this test.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        // Registered before the clock is made, so it runs after whatever the clock registers
        // for tearing down at exit.
        std::atexit([] {
          auto clock = Clock::system();
          bool sound = clock && clock.use_count() >= 2 && clock == Clock::system() &&
                       clock->sleepDuration(clock->monotonicNow() - seconds(1)) == Duration::zero();
          std::_Exit(sound ? 0 : 1);
        });
        Clock::system()->monotonicNow();
        std::exit(2);
      },
      testing::ExitedWithCode(0), "");
}
