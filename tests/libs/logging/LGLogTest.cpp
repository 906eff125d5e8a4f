#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <thread>

#include "logging/LGLog.h"
#include "logging/LoggingTestSupport.h"
#include "platform/foundation/ApplicationNotifications.h"
#include "platform/foundation/NotificationCenter.h"
#include "support/Returns.h"

using logtest::failureText;
using logtest::RecordingLogger;

namespace {

class LGLogTest : public ::testing::Test {
 protected:
  void TearDown() override { logtest::detachAll(); }
};

TEST_F(LGLogTest, WithoutLoggersMessagesAreDroppedAndEveryCallReturns) {
  // Twice the backlog: were the messages kept for a logger to come, the calls would block.
  EXPECT_TRUE(testsupport::returnsWithin(30, [] {
    logtest::logText(false, LG_LOG_FLAG_ERROR, "dropped");
    for (int i = 0; i < 2000; ++i) logtest::logText(true, LG_LOG_FLAG_INFO, "async");
    LGLog::flushLog();
  }));
  // ... and none of them reaches a logger added afterwards.
  auto logger = RecordingLogger::create();
  LGLog::addLogger(logger);
  logtest::logText(false, LG_LOG_FLAG_INFO, "after");
  EXPECT_EQ(logger->texts(), std::vector<std::string>{"after"});
}

TEST_F(LGLogTest, NullFormatQueuesNothing) {
  auto logger = RecordingLogger::create();
  LGLog::addLogger(logger);
  const char* noFormat = nullptr;
  // A null format is the very input under test.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-security"
  LGLog::log(false, 7, 1, 0, __FILE__, __func__, __LINE__, nullptr, noFormat);
#pragma GCC diagnostic pop
  logtest::logText(false, LG_LOG_FLAG_INFO, "after");
  EXPECT_EQ(logger->texts(), std::vector<std::string>{"after"});
}

TEST_F(LGLogTest, SynchronousCallReturnsAfterEveryLoggerHasTheMessage) {
  auto a = RecordingLogger::create();
  auto b = RecordingLogger::create();
  LGLog::addLogger(a);
  LGLog::addLogger(b);
  LGLog::log(false, 7, LG_LOG_FLAG_ERROR, 80, "/src/HTTPServer.m", "start", 12, nullptr,
             "%s: port %d", "HTTPServer", 12345);
  EXPECT_EQ(a->texts(), std::vector<std::string>{"HTTPServer: port 12345"});
  EXPECT_EQ(b->texts(), std::vector<std::string>{"HTTPServer: port 12345"});
}

TEST_F(LGLogTest, LoggerGetsDidAddFirstAndNothingAfterRemoval) {
  auto logger = RecordingLogger::create();
  LGLog::addLogger(logger);
  logtest::logText(false, LG_LOG_FLAG_INFO, "one");
  LGLog::removeLogger(logger);
  logtest::logText(false, LG_LOG_FLAG_INFO, "two");
  logger->loggerQueue()->sync([] {});
  EXPECT_EQ(logger->events(), (std::vector<std::string>{"didAdd", "log:one", "willRemove"}));
}

TEST_F(LGLogTest, LoggerAttachedTwiceGetsEveryMessageTwiceUntilOneNodeGoes) {
  auto logger = RecordingLogger::create();
  LGLog::addLogger(logger);
  LGLog::addLogger(logger);
  logtest::logText(false, LG_LOG_FLAG_INFO, "twice");
  LGLog::removeLogger(logger);
  logtest::logText(false, LG_LOG_FLAG_INFO, "once");
  EXPECT_EQ(logger->texts(), (std::vector<std::string>{"twice", "twice", "once"}));
}

TEST_F(LGLogTest, NullLoggersAndUnknownLoggersAreIgnored) {
  auto logger = RecordingLogger::create();
  LGLog::addLogger(logger);
  LGLog::addLogger(nullptr);
  LGLog::removeLogger(nullptr);
  LGLog::removeLogger(RecordingLogger::create());
  logtest::logText(false, LG_LOG_FLAG_INFO, "fine");
  // The logger that was added is still there, once, and was told of nothing but its message.
  EXPECT_EQ(logger->events(), (std::vector<std::string>{"didAdd", "log:fine"}));
}

TEST_F(LGLogTest, EachLoggerSeesTheMessagesInOneOrderWithEveryThreadsOrderKept) {
  auto a = RecordingLogger::create();
  auto b = RecordingLogger::create();
  LGLog::addLogger(a);
  LGLog::addLogger(b);
  constexpr int kThreads = 4, kEach = 300;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kEach; ++i) {
        logtest::logText(true, LG_LOG_FLAG_INFO, std::to_string(t) + ":" + std::to_string(i));
      }
    });
  }
  for (auto& thread : threads) thread.join();
  LGLog::flushLog();
  auto seen = a->texts();
  ASSERT_EQ(seen.size(), std::size_t{kThreads * kEach});
  EXPECT_EQ(seen, b->texts());
  std::vector<int> next(kThreads, 0);
  for (const auto& text : seen) {
    int t = std::stoi(text.substr(0, text.find(':')));
    int i = std::stoi(text.substr(text.find(':') + 1));
    EXPECT_EQ(i, next[t]) << text;
    next[t] = i + 1;
  }
}

TEST_F(LGLogTest, AddingAndRemovingKeepsItsPlaceAmongAsynchronousMessages) {
  auto logger = RecordingLogger::create();
  std::vector<std::string> expected;
  for (int round = 0; round < 50; ++round) {
    LGLog::addLogger(logger);
    logtest::logText(true, LG_LOG_FLAG_INFO, "in " + std::to_string(round));
    LGLog::removeLogger(logger);
    logtest::logText(true, LG_LOG_FLAG_INFO, "out " + std::to_string(round));
    expected.insert(expected.end(), {"didAdd", "log:in " + std::to_string(round), "willRemove"});
  }
  LGLog::loggingQueue()->sync([] {});
  logger->loggerQueue()->sync([] {});
  EXPECT_EQ(logger->events(), expected);
}

TEST_F(LGLogTest, TheCallAfterAThousandWaitingMessagesBlocksUntilTheLoggerMovesOn) {
  std::mutex mutex;
  std::condition_variable cv;
  bool stalled = false, release = false;
  std::atomic<bool> lastReturned{false};
  bool lastReturnedBeforeRelease = true;
  auto logger = RecordingLogger::create();
  logger->onMessage = [&](const LGLogMessage& message) {
    if (message.logMsg() != "0") return;
    std::unique_lock<std::mutex> lock(mutex);
    stalled = true;
    cv.notify_all();
    cv.wait(lock, [&] { return release; });
    lastReturnedBeforeRelease = lastReturned;
  };
  LGLog::addLogger(logger);

  // Message 0 stalls in the logger and keeps its place in the backlog; 1 to 999 fill the rest.
  logtest::logText(true, LG_LOG_FLAG_INFO, "0");
  {
    std::unique_lock<std::mutex> lock(mutex);
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(30), [&] { return stalled; }));
  }
  for (int i = 1; i < 1000; ++i) logtest::logText(true, LG_LOG_FLAG_INFO, std::to_string(i));
  std::thread last([&] {
    logtest::logText(true, LG_LOG_FLAG_INFO, "1000");
    lastReturned = true;
  });
  {
    // The 1001st call must still be waiting; it cannot return while message 0 is held.
    std::unique_lock<std::mutex> lock(mutex);
    cv.wait_for(lock, std::chrono::milliseconds(200), [&] { return lastReturned.load(); });
    EXPECT_FALSE(lastReturned);
    release = true;
    cv.notify_all();
  }
  last.join();
  EXPECT_FALSE(lastReturnedBeforeRelease);
  ASSERT_TRUE(logger->waitForMessages(1001));
  EXPECT_EQ(logger->texts().back(), "1000");
}

TEST_F(LGLogTest, SynchronousLogAndFlushFromTheLoggingQueueFailInsteadOfHanging) {
  std::string logFailure, flushFailure;
  LGLog::loggingQueue()->sync([&] {
    logFailure = failureText([] { logtest::logText(false, LG_LOG_FLAG_ERROR, "x"); });
    flushFailure = failureText([] { LGLog::flushLog(); });
  });
  EXPECT_EQ(logFailure, "Core architecture requirement failure");
  EXPECT_EQ(flushFailure, "Core architecture requirement failure");
}

TEST_F(LGLogTest, SynchronousLogAndFlushFromALoggersQueueFailInsteadOfHanging) {
  auto logger = RecordingLogger::create();
  std::string logFailure, flushFailure;
  logger->onMessage = [&](const LGLogMessage& message) {
    if (message.logMsg() != "trigger") return;
    logFailure = failureText([] { logtest::logText(false, LG_LOG_FLAG_ERROR, "inner"); });
    flushFailure = failureText([] { LGLog::flushLog(); });
  };
  LGLog::addLogger(logger);
  logtest::logText(false, LG_LOG_FLAG_INFO, "trigger");
  EXPECT_EQ(logFailure, "Core architecture requirement failure");
  EXPECT_EQ(flushFailure, "Core architecture requirement failure");
}

TEST_F(LGLogTest, AsynchronousLogsFromALoggerPastAFullBacklogAreDeliveredWithoutDeadlock) {
  auto logger = RecordingLogger::create();
  logger->onMessage = [](const LGLogMessage& message) {
    if (message.logMsg() != "burst") return;
    for (int i = 0; i < 1500; ++i) logtest::logText(true, LG_LOG_FLAG_INFO, "inner");
  };
  LGLog::addLogger(logger);
  logtest::logText(true, LG_LOG_FLAG_INFO, "burst");
  ASSERT_TRUE(logger->waitForMessages(1501));
  // The backlog is whole again: another thousand calls do not block for ever.
  for (int i = 0; i < 1000; ++i) logtest::logText(true, LG_LOG_FLAG_INFO, "more");
  LGLog::flushLog();
  EXPECT_EQ(logger->texts().size(), 2501u);
}

TEST_F(LGLogTest, FlushReachesOnlyLoggersWithAFlushAndTheTerminateNotificationFlushes) {
  auto flushing = RecordingLogger::create();
  flushing->withFlush = true;
  auto plain = RecordingLogger::create();
  LGLog::addLogger(flushing);
  LGLog::addLogger(plain);
  LGLog::flushLog();
  platform::NotificationCenter::defaultCenter().post(
      platform::kApplicationWillTerminateNotification);
  plain->loggerQueue()->sync([] {});
  EXPECT_EQ(flushing->events(), (std::vector<std::string>{"didAdd", "flush", "flush"}));
  EXPECT_EQ(plain->events(), std::vector<std::string>{"didAdd"});
}

// Records being installed in and removed from loggers.
class NotedFormatter : public LGLogFormatter {
 public:
  LGLogText formatLogMessage(const LGLogMessage& message) override { return message.logMsgText(); }
  void didAddToLogger(const std::shared_ptr<LGLogger>&) override { ++added; }
  void willRemoveFromLogger(const std::shared_ptr<LGLogger>&) override { ++removed; }
  std::atomic<int> added{0}, removed{0};
};

TEST_F(LGLogTest, FormattersAreSwappedOnTheLoggersQueueAndTold) {
  auto logger = RecordingLogger::create();
  auto first = std::make_shared<NotedFormatter>();
  auto second = std::make_shared<NotedFormatter>();
  logger->setLogFormatter(first);
  logger->setLogFormatter(first);  // already installed: nothing is told
  EXPECT_EQ(logger->logFormatter(), first);
  EXPECT_EQ(first->added, 1);
  EXPECT_EQ(first->removed, 0);
  logger->setLogFormatter(second);
  EXPECT_EQ(logger->logFormatter(), second);
  EXPECT_EQ(first->removed, 1);
  EXPECT_EQ(second->added, 1);

  std::string onLogging, onOwn;
  LGLog::loggingQueue()->sync([&] { onLogging = failureText([&] { logger->logFormatter(); }); });
  logger->loggerQueue()->sync(
      [&] { onOwn = failureText([&] { logger->setLogFormatter(nullptr); }); });
  EXPECT_EQ(onLogging, "Core architecture requirement failure");
  EXPECT_EQ(onOwn, "MUST access ivar directly, NOT via self.* syntax.");
}

// A logger written against the bare interface, with neither queue nor name.
class BareLogger : public LGLogger {
 public:
  void logMessage(const LGLogMessage&) override {
    label = platform::dispatch::Queue::currentLabel();
    onQueue = platform::dispatch::Queue::current() != nullptr;
  }
  std::shared_ptr<LGLogFormatter> logFormatter() override { return nullptr; }
  void setLogFormatter(std::shared_ptr<LGLogFormatter>) override {}
  std::string label = "unset";
  bool onQueue = false;
};

TEST_F(LGLogTest, LoggersAreCalledOnAQueueLabelledWithTheirName) {
  auto bare = std::make_shared<BareLogger>();
  auto named = RecordingLogger::create();
  named->name = "my.logger";
  LGLog::addLogger(bare);
  LGLog::addLogger(named);
  logtest::logText(false, LG_LOG_FLAG_INFO, "where");
  EXPECT_TRUE(bare->onQueue);
  EXPECT_EQ(bare->label, "");
  EXPECT_EQ(named->records().at(0).queueLabel, "my.logger");
}

TEST_F(LGLogTest, OnlyClassesWithBothLevelAccessorsKeepALevel) {
  // The registry lives for the process, so the level it reaches must too.
  auto level = std::make_shared<int>(3);
  auto full = std::make_shared<LGLogClass>(
      LGLogClass{"HTTPLevelled", [level] { return *level; }, [level](int l) { *level = l; }});
  auto half = std::make_shared<LGLogClass>(LGLogClass{"HalfLevelled", [] { return 7; }, nullptr});
  LGLog::declareClass(full);
  LGLog::declareClass(half);

  EXPECT_TRUE(LGLog::isRegisteredClass(*full));
  EXPECT_FALSE(LGLog::isRegisteredClass(*half));
  auto registered = LGLog::registeredClasses();
  EXPECT_NE(std::find(registered.begin(), registered.end(), full), registered.end());
  EXPECT_EQ(std::find(registered.begin(), registered.end(), half), registered.end());
  EXPECT_EQ(LGLog::logLevelForClass(*half), -1);
  EXPECT_EQ(LGLog::logLevelForClassWithName("HTTPLevelled"), 3);
  LGLog::setLogLevel(4, *full);
  EXPECT_EQ(*level, 4);
  LGLog::setLogLevel(4, *half);  // no setter to call: nothing happens
  LGLog::setLogLevelForClassWithName(7, "HTTPLevelled");
  EXPECT_EQ(*level, 7);
  LGLog::setLogLevelForClassWithName(1, "NoSuchClass");
  EXPECT_EQ(LGLog::logLevelForClassWithName("NoSuchClass"), -1);
  auto names = LGLog::registeredClassNames();
  EXPECT_NE(std::find(names.begin(), names.end(), "HTTPLevelled"), names.end());
  EXPECT_EQ(std::find(names.begin(), names.end(), "HalfLevelled"), names.end());
}

TEST_F(LGLogTest, AMessageTheCallerBuiltReachesEveryLoggerAsItIs) {
  auto logger = RecordingLogger::create();
  std::vector<int> contexts;
  logger->onMessage = [&](const LGLogMessage& m) { contexts.push_back(m.logContext()); };
  LGLog::addLogger(logger);
  LGLog::queueLogMessage(std::make_shared<LGLogMessage>("built", 7, LG_LOG_FLAG_WARN, 42, __FILE__,
                                                        __func__, __LINE__, nullptr, 0),
                         false);
  // Synchronous: the logger has it when the call returns.
  EXPECT_EQ(logger->texts(), std::vector<std::string>{"built"});
  LGLog::queueLogMessage(std::make_shared<LGLogMessage>("later", 7, LG_LOG_FLAG_INFO, 43, __FILE__,
                                                        __func__, __LINE__, nullptr, 0),
                         true);
  ASSERT_TRUE(logger->waitForMessages(2));
  EXPECT_EQ(logger->texts(), (std::vector<std::string>{"built", "later"}));
  EXPECT_EQ(contexts, (std::vector<int>{42, 43}));
}

TEST_F(LGLogTest, ALoggerKnowsWhenItRunsOnTheLoggingQueue) {
  auto logger = RecordingLogger::create();
  bool inside = false, onOwnQueue = true;
  EXPECT_FALSE(logger->isOnGlobalLoggingQueue());
  LGLog::loggingQueue()->sync([&] { inside = logger->isOnGlobalLoggingQueue(); });
  logger->loggerQueue()->sync([&] { onOwnQueue = logger->isOnGlobalLoggingQueue(); });
  EXPECT_TRUE(inside);
  EXPECT_FALSE(onOwnQueue);
}

}  // namespace
