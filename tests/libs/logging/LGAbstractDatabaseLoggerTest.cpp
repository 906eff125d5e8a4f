#include <gtest/gtest.h>

#include <condition_variable>

#include "logging/LGAbstractDatabaseLogger.h"
#include "logging/LoggingTestSupport.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Mutex.h"
#include "platform/foundation/SharedObject.h"

namespace {

// Counts the calls the base makes of its storage operations.
class CountingDatabaseLogger : public LGAbstractDatabaseLogger {
  CH_SHARED_OBJECT(CountingDatabaseLogger)
 public:
  struct Counts {
    int logged = 0, saves = 0, deletes = 0, saveAndDeletes = 0;
    bool operator==(const Counts&) const = default;
  };

  Counts counts() {
    platform::MutexLock lock(mutex_);
    return counts_;
  }
  // Waits (with a generous real-time limit) until `ready` holds for the counts.
  bool waitFor(const std::function<bool(const Counts&)>& ready) {
    platform::MutexLock lock(mutex_);
    return cv_.wait_for(lock.native(), std::chrono::seconds(30),
                        [&]() REQUIRES(mutex_) { return ready(counts_); });
  }
  bool refuse = false;

 protected:
  bool db_log(const LGLogMessage&) override {
    if (refuse) return false;
    return change([](Counts& c) { ++c.logged; });
  }
  void db_save() override {
    change([](Counts& c) { ++c.saves; });
  }
  void db_delete() override {
    change([](Counts& c) { ++c.deletes; });
  }
  void db_saveAndDelete() override {
    change([](Counts& c) { ++c.saveAndDeletes; });
  }

 private:
  CountingDatabaseLogger() = default;
  bool change(const std::function<void(Counts&)>& f) {
    platform::MutexLock lock(mutex_);
    f(counts_);
    cv_.notify_all();
    return true;
  }
  platform::Mutex mutex_;
  std::condition_variable cv_;
  Counts counts_ GUARDED_BY(mutex_);
};

class LGAbstractDatabaseLoggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    logger_ = CountingDatabaseLogger::create();
    LGLog::addLogger(logger_);
    settle();  // the timers exist once didAddLogger has run
  }
  void TearDown() override { logtest::detachAll(); }

  void logMessages(int count) {
    for (int i = 0; i < count; ++i) logtest::logText(i + 1 < count, LG_LOG_FLAG_INFO, "entry");
  }
  void settle() { logtest::drain(logger_->loggerQueue()); }

  platform::ScopedManualClock clock_;
  std::shared_ptr<CountingDatabaseLogger> logger_;
};

TEST_F(LGAbstractDatabaseLoggerTest, TheFiveHundredthMessageSavesAtOnce) {
  logMessages(499);
  EXPECT_EQ(logger_->counts().saves, 0);
  logMessages(1);
  EXPECT_EQ(logger_->counts().saves, 1);
}

TEST_F(LGAbstractDatabaseLoggerTest, ASingleMessageIsSavedOneIntervalAfterItWasLogged) {
  logMessages(1);
  clock_->advanceSeconds(30);
  settle();
  EXPECT_EQ(logger_->counts().saves, 0);
  clock_->advanceSeconds(30);
  EXPECT_TRUE(logger_->waitFor([](const auto& c) { return c.saves == 1; }));
}

TEST_F(LGAbstractDatabaseLoggerTest, WithoutAThresholdOnlyTheTimerSaves) {
  logger_->setSaveThreshold(0);
  logMessages(600);
  EXPECT_EQ(logger_->counts().saves, 0);
  clock_->advanceSeconds(60);
  EXPECT_TRUE(logger_->waitFor([](const auto& c) { return c.saves == 1; }));
}

TEST_F(LGAbstractDatabaseLoggerTest, WithoutAnIntervalOnlyTheCountSaves) {
  logger_->setSaveInterval(0);
  logger_->setSaveThreshold(3);
  logMessages(2);
  clock_->advanceSeconds(600);
  settle();
  EXPECT_EQ(logger_->counts().saves, 0);
  logMessages(1);
  EXPECT_EQ(logger_->counts().saves, 1);
}

TEST_F(LGAbstractDatabaseLoggerTest, LoweringTheMaximumAgeDeletesAtOnceAndRaisingItDoesNot) {
  // Seven days is the age it has: setting it again changes nothing, a second less is lower.
  logger_->setMaxAge(604800);
  settle();
  EXPECT_EQ(logger_->counts().deletes, 0);
  logger_->setMaxAge(604799);
  settle();
  EXPECT_EQ(logger_->counts().deletes, 1);
  logger_->setMaxAge(86400);
  settle();
  EXPECT_EQ(logger_->counts().deletes, 2);
  logger_->setMaxAge(86400 * 8);
  settle();
  EXPECT_EQ(logger_->counts().deletes, 2);
}

TEST_F(LGAbstractDatabaseLoggerTest, DeletePassesRunEveryIntervalUntilTheAgeIsZero) {
  clock_->advanceSeconds(300);
  EXPECT_TRUE(logger_->waitFor([](const auto& c) { return c.deletes == 1; }));
  clock_->advanceSeconds(300);
  EXPECT_TRUE(logger_->waitFor([](const auto& c) { return c.deletes == 2; }));
  logger_->setMaxAge(0);
  // The setting travels through the logging queue; the delete request goes straight to the
  // logger's queue, so it must not overtake the setting.
  settle();
  logger_->deleteOldLogEntries();
  settle();
  EXPECT_EQ(logger_->counts().deletes, 2);
}

TEST_F(LGAbstractDatabaseLoggerTest, AFlushWithNothingUnsavedSavesNothing) {
  LGLog::flushLog();
  EXPECT_EQ(logger_->counts(), CountingDatabaseLogger::Counts{});
  logMessages(2);
  LGLog::flushLog();
  // By default a save is only a save.
  EXPECT_EQ(logger_->counts(), (CountingDatabaseLogger::Counts{2, 1, 0, 0}));
}

TEST_F(LGAbstractDatabaseLoggerTest, DeletingOnEverySaveSavesAndDeletesTogether) {
  logger_->setDeleteOnEverySave(true);
  logMessages(1);
  logger_->savePendingLogEntries();
  settle();
  auto counts = logger_->counts();
  EXPECT_EQ(counts.saveAndDeletes, 1);
  EXPECT_EQ(counts.saves, 0);
}

TEST_F(LGAbstractDatabaseLoggerTest, RefusedMessagesAreNeitherCountedNorTimed) {
  logger_->refuse = true;
  logger_->setSaveThreshold(2);
  logMessages(5);
  LGLog::flushLog();
  EXPECT_EQ(logger_->counts(), CountingDatabaseLogger::Counts{});
}

TEST_F(LGAbstractDatabaseLoggerTest, DetachingSavesWhatIsPending) {
  logMessages(3);
  logtest::detachAll();
  settle();
  EXPECT_EQ(logger_->counts().saves, 1);
}

TEST_F(LGAbstractDatabaseLoggerTest, LoweringTheThresholdToTheUnsavedCountSavesAtOnce) {
  logMessages(3);
  logger_->setSaveThreshold(4);
  settle();
  EXPECT_EQ(logger_->counts().saves, 0);
  logger_->setSaveThreshold(3);
  settle();
  EXPECT_EQ(logger_->counts().saves, 1);
}

TEST_F(LGAbstractDatabaseLoggerTest, AChangedSaveIntervalCountsFromThePendingMessage) {
  logMessages(1);
  clock_->advanceSeconds(5);
  logger_->setSaveInterval(10);
  settle();
  clock_->advanceSeconds(4);
  settle();
  EXPECT_EQ(logger_->counts().saves, 0);
  clock_->advanceSeconds(1);
  EXPECT_TRUE(logger_->waitFor([](const auto& c) { return c.saves == 1; }));
  // Without an interval the timer goes: a pending message waits for the count.
  logger_->setSaveInterval(0);
  settle();
  logMessages(1);
  clock_->advanceSeconds(600);
  settle();
  EXPECT_EQ(logger_->counts().saves, 1);
}

TEST_F(LGAbstractDatabaseLoggerTest, TheDeleteIntervalStopsAndRestartsTheDeletePasses) {
  logger_->setDeleteInterval(0);
  settle();
  clock_->advanceSeconds(900);
  settle();
  EXPECT_EQ(logger_->counts().deletes, 0);
  logger_->setDeleteInterval(100);
  settle();
  clock_->advanceSeconds(99);
  settle();
  EXPECT_EQ(logger_->counts().deletes, 0);
  clock_->advanceSeconds(1);
  EXPECT_TRUE(logger_->waitFor([](const auto& c) { return c.deletes == 1; }));
}

TEST_F(LGAbstractDatabaseLoggerTest, AnAgeSetAgainAfterZeroDeletesAtOnceAndRestartsTheTimer) {
  logger_->setMaxAge(0);
  settle();
  clock_->advanceSeconds(600);
  settle();
  EXPECT_EQ(logger_->counts().deletes, 0);
  logger_->setMaxAge(3600);
  settle();
  EXPECT_EQ(logger_->counts().deletes, 1);
  clock_->advanceSeconds(300);
  EXPECT_TRUE(logger_->waitFor([](const auto& c) { return c.deletes == 2; }));
}

TEST_F(LGAbstractDatabaseLoggerTest, SettingsFollowTheQueueRules) {
  std::string onLogging, onOwn, setOnLogging;
  LGLog::loggingQueue()->sync([&] {
    onLogging = logtest::failureText([&] { logger_->saveInterval(); });
    setOnLogging = logtest::failureText([&] { logger_->setMaxAge(1); });
  });
  logMessages(3);
  CountingDatabaseLogger::Counts atOnce;
  logger_->loggerQueue()->sync([&] {
    onOwn = logtest::failureText([&] { logger_->maxAge(); });
    // On the logger's own queue a change runs before the setter returns.
    logger_->setSaveThreshold(3);
    atOnce = logger_->counts();
  });
  EXPECT_EQ(onLogging, "Core architecture requirement failure");
  EXPECT_EQ(setOnLogging, "Core architecture requirement failure");
  EXPECT_EQ(onOwn, "MUST access ivar directly, NOT via self.* syntax.");
  EXPECT_EQ(atOnce.saves, 1);
  EXPECT_EQ(logger_->maxAge(), 604800);
}

}  // namespace
