#include <gtest/gtest.h>

#include "Probe.h"
#include "platform/dispatch/Reactor.h"
#include "platform/dispatch/Source.h"

using namespace platform;
using namespace platform::dispatch;
using dispatchtest::Probe;

namespace {

// Returns once everything due on the clock by now has been delivered on `q`: a marker due now
// is fired by the reactor after every earlier timer, and lands on `q` behind their deliveries.
void settle(const std::shared_ptr<Queue>& q) {
  Probe marker;
  q->after(Duration::zero(), [&] { marker.tick(); });
  ASSERT_TRUE(marker.waitCount(1));
}

std::shared_ptr<Source> recordingTimer(const std::shared_ptr<Queue>& q, Probe& probe) {
  auto timer = Source::makeTimer(q);
  std::weak_ptr<Source> weak = timer;
  timer->setEventHandler([weak, &probe] { probe.add(static_cast<int>(weak.lock()->data())); });
  return timer;
}

using std::chrono::milliseconds;

struct Step {
  int advanceMs;                // how far the clock moves
  std::vector<int> deliveries;  // data() of each delivery so far, in order
};

struct TimerCase {
  const char* name;
  int startMs;
  std::optional<int> intervalMs;
  std::vector<Step> steps;
};

void PrintTo(const TimerCase& c, std::ostream* os) { *os << c.name; }

}  // namespace

class TimerSourceTableTest : public testing::TestWithParam<TimerCase> {};

TEST_P(TimerSourceTableTest, FiresWhenTheClockPassesItsDeadlines) {
  ScopedManualClock clock;
  auto q = Queue::serial("timer");
  Probe probe;
  auto timer = recordingTimer(q, probe);
  const auto& c = GetParam();
  std::optional<Duration> interval;
  if (c.intervalMs) interval = milliseconds(*c.intervalMs);
  timer->setTimer(milliseconds(c.startMs), interval);
  timer->resume();
  int at = 0;
  for (const auto& step : c.steps) {
    clock->advance(milliseconds(step.advanceMs));
    at += step.advanceMs;
    settle(q);
    EXPECT_EQ(probe.values(), step.deliveries) << "at " << at << " ms";
  }
  timer->cancel();
  q->sync([] {});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TimerSourceTableTest,
    testing::Values(
        TimerCase{"OneShot", 5000, std::nullopt, {{4999, {}}, {1, {1}}, {100000, {1}}}},
        TimerCase{"Repeating",
                  1000,
                  1000,
                  {{500, {}}, {500, {1}}, {1000, {1, 1}}, {999, {1, 1}}, {1, {1, 1, 1}}}},
        // A jump over several deadlines is one delivery counting them all; the next deadline
        // stays on the timer's grid.
        TimerCase{"MergedFires", 1000, 1000, {{3500, {3}}, {500, {3, 1}}, {10000, {3, 1, 10}}}},
        TimerCase{"ZeroStart", 0, 2000, {{0, {1}}, {1999, {1}}, {1, {1, 1}}}},
        TimerCase{"LongFirstDelayThenShortInterval",
                  10000,
                  500,
                  {{9000, {}}, {1000, {1}}, {500, {1, 1}}, {1250, {1, 1, 2}}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TimerSourceTest, SettingTheTimerAgainRearmsItFromNow) {
  ScopedManualClock clock;
  auto q = Queue::serial("rearm");
  Probe probe;
  auto timer = recordingTimer(q, probe);
  timer->setTimer(seconds(5), std::nullopt);
  timer->resume();
  clock->advanceSeconds(3);
  timer->setTimer(seconds(5), seconds(1));  // now due at 8, then every second
  clock->advanceSeconds(2);
  settle(q);
  EXPECT_TRUE(probe.values().empty());
  clock->advanceSeconds(3);
  settle(q);
  EXPECT_EQ(probe.values(), std::vector<int>{1});
  clock->advanceSeconds(1);
  settle(q);
  EXPECT_EQ(probe.values(), (std::vector<int>{1, 1}));
  timer->cancel();
  q->sync([] {});
}

TEST(TimerSourceTest, FiresWhileSuspendedAreDeliveredMergedOnResume) {
  ScopedManualClock clock;
  auto q = Queue::serial("suspended-timer");
  Probe probe;
  auto timer = recordingTimer(q, probe);
  timer->setTimer(seconds(1), seconds(1));
  timer->resume();
  clock->advanceSeconds(1);
  settle(q);
  EXPECT_EQ(probe.values(), std::vector<int>{1});
  timer->suspend();
  clock->advanceSeconds(1);
  settle(q);
  clock->advanceSeconds(1);
  settle(q);
  EXPECT_EQ(probe.values(), std::vector<int>{1});
  timer->resume();
  settle(q);
  EXPECT_EQ(probe.values(), (std::vector<int>{1, 2}));
  timer->cancel();
  q->sync([] {});
}

TEST(TimerSourceTest, CancelledTimerFiresNoMoreAndRunsItsCancelHandler) {
  ScopedManualClock clock;
  auto q = Queue::serial("cancelled-timer");
  Probe probe, cancels;
  auto timer = recordingTimer(q, probe);
  timer->setCancelHandler([&] { cancels.tick(); });
  timer->setTimer(seconds(1), seconds(1));
  timer->resume();
  clock->advanceSeconds(1);
  settle(q);
  timer->cancel();
  ASSERT_TRUE(cancels.waitCount(1));
  clock->advanceSeconds(5);
  settle(q);
  EXPECT_EQ(probe.values(), std::vector<int>{1});
  EXPECT_EQ(cancels.count(), 1u);
}

TEST(TimerSourceTest, AfterRunsOnceTheClockReachesTheDelay) {
  ScopedManualClock clock;
  auto q = Queue::serial("after");
  Probe probe;
  q->after(seconds(2), [&] { probe.add(Queue::current() == q); });
  clock->advance(milliseconds(1999));
  settle(q);
  EXPECT_TRUE(probe.values().empty());
  clock->advance(milliseconds(1));
  settle(q);
  EXPECT_EQ(probe.values(), std::vector<int>{1});
}

TEST(TimerSourceTest, AfterKeepsOrderAmongEqualDelays) {
  ScopedManualClock clock;
  auto q = Queue::serial("after-order");
  Probe probe;
  for (int i = 0; i < 20; ++i) q->after(seconds(1), [&probe, i] { probe.add(i); });
  clock->advanceSeconds(1);
  settle(q);
  std::vector<int> expected;
  for (int i = 0; i < 20; ++i) expected.push_back(i);
  EXPECT_EQ(probe.values(), expected);
}

// A time-out that is cancelled long before its deadline (a socket's read time-out, every
// request) must not stay in the reactor's heap, holding its source's memory, until then; timers
// still wanted, and delayed work, fire as before.
TEST(TimerSourceTest, CancelledTimersLeaveTheHeapBeforeTheirDeadline) {
  ScopedManualClock clock;
  auto q = Queue::serial("cancelled-timeouts");
  Probe live;
  auto keeper = recordingTimer(q, live);
  keeper->setTimer(seconds(2), std::nullopt);
  keeper->resume();
  Probe later;
  q->after(seconds(2), [&] { later.tick(); });
  const std::size_t before = Reactor::shared().timerCount();

  for (int round = 0; round < 10; ++round) {
    for (int i = 0; i < 1000; ++i) {
      auto timeout = Source::makeTimer(q);
      timeout->setEventHandler([] {});
      timeout->setTimer(seconds(3600), std::nullopt);
      timeout->resume();
      timeout->cancel();
    }
    q->sync([] {});  // the cancel handlers have run: the sources are gone
  }
  EXPECT_LT(Reactor::shared().timerCount(), before + 3000);

  clock->advanceSeconds(2);
  settle(q);
  EXPECT_EQ(live.values(), std::vector<int>{1});
  EXPECT_TRUE(later.waitCount(1));
  keeper->cancel();
}

// A socket re-arms its time-out for every read: moving the deadline later must not add a heap
// entry each time (the one waiting moves on to the deadline when it comes due), and the timer
// still fires at the last deadline, not at an earlier one.
TEST(TimerSourceTest, RearmingLaterKeepsOneHeapEntryAndFiresAtTheLastDeadline) {
  ScopedManualClock clock;
  auto q = Queue::serial("moved-deadline");
  Probe probe;
  auto timer = recordingTimer(q, probe);
  timer->resume();
  timer->setTimer(seconds(30), std::nullopt);
  const std::size_t armed = Reactor::shared().timerCount();
  for (int i = 0; i < 100; ++i) {
    clock->advance(milliseconds(100));
    timer->setTimer(seconds(30), std::nullopt);  // due 30 s from now
  }
  EXPECT_LE(Reactor::shared().timerCount(), armed);
  clock->advance(milliseconds(29900));  // past the first deadline, 0.1 s short of the last
  settle(q);
  EXPECT_TRUE(probe.values().empty());
  clock->advance(milliseconds(100));
  settle(q);
  EXPECT_EQ(probe.values(), std::vector<int>{1});
  timer->cancel();
  q->sync([] {});
}

// Cleared, a timer fires nothing, also when it was already due; armed again it fires at its new
// deadline only.
TEST(TimerSourceTest, AClearedTimerFiresOnlyOnceArmedAgain) {
  ScopedManualClock clock;
  auto q = Queue::serial("cleared");
  Probe probe;
  auto timer = recordingTimer(q, probe);
  timer->resume();
  timer->setTimer(seconds(5), std::nullopt);
  clock->advanceSeconds(2);
  timer->clearTimer();
  clock->advanceSeconds(10);
  settle(q);
  EXPECT_TRUE(probe.values().empty());
  timer->setTimer(seconds(5), std::nullopt);
  clock->advanceSeconds(4);
  settle(q);
  EXPECT_TRUE(probe.values().empty());
  clock->advanceSeconds(1);
  settle(q);
  EXPECT_EQ(probe.values(), std::vector<int>{1});
  clock->advanceSeconds(60);
  settle(q);
  EXPECT_EQ(probe.values(), std::vector<int>{1});
  timer->cancel();
  q->sync([] {});
}
