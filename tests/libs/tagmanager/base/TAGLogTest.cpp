// The tag manager's logging facade and its default logger.

#include <gtest/gtest.h>

#include <thread>

#include "platform/foundation/SystemLog.h"
#include "tagmanager/TagLogRecorder.h"
#include "tagmanager/base/TAGDefaultLogger.h"
#include "tagmanager/base/TAGLog.h"

namespace {

void logEveryKind() {
  TAGLog::verbose("v");
  TAGLog::debug("d");
  TAGLog::info("i");
  TAGLog::warning("w");
  TAGLog::error("e");
}

// Installs a fresh default logger for a test and puts the previous one back.
class TAGLogTest : public ::testing::Test {
 protected:
  void SetUp() override { TAGLog::setLogger(std::make_shared<TAGDefaultLogger>()); }
  void TearDown() override { TAGLog::setLogger(previous_); }

  std::shared_ptr<TAGLogger> previous_ = TAGLog::logger();
};

TEST_F(TAGLogTest, DefaultLoggerWritesWarningsAndErrors) {
  EXPECT_EQ(TAGLog::logLevel(), 3);
  platform::ScopedSystemLogCapture log;
  logEveryKind();
  EXPECT_EQ(log.lines(),
            (std::vector<std::string>{"TagManager warning: w", "TagManager error: e"}));
}

TEST_F(TAGLogTest, LevelDecidesWhatIsWritten) {
  const std::pair<std::int32_t, std::size_t> cases[] = {{0, 5}, {1, 4}, {2, 3}, {4, 1},
                                                        {5, 0}, {9, 0}, {-1, 5}};
  for (const auto& [level, count] : cases) {
    platform::ScopedSystemLogCapture log;
    TAGLog::logger()->setLogLevel(level);
    EXPECT_EQ(TAGLog::logLevel(), level);
    logEveryKind();
    EXPECT_EQ(log.lines().size(), count) << level;
  }
  platform::ScopedSystemLogCapture log;
  TAGLog::logger()->setLogLevel(0);
  TAGLog::verbose("all of it");
  EXPECT_EQ(log.lines(), (std::vector<std::string>{"TagManager verbose: all of it"}));
}

TEST_F(TAGLogTest, WithoutALoggerNothingIsWrittenAndTheLevelIsZero) {
  TAGLog::setLogger(nullptr);
  EXPECT_EQ(TAGLog::logger(), nullptr);
  EXPECT_EQ(TAGLog::logLevel(), 0);
  platform::ScopedSystemLogCapture log;
  logEveryKind();
  EXPECT_TRUE(log.lines().empty());
}

TEST_F(TAGLogTest, LoggerMayBeReplacedWhileOtherThreadsLog) {
  std::vector<std::thread> writers;
  for (int i = 0; i < 4; ++i) {
    writers.emplace_back([] {
      for (int n = 0; n < 2000; ++n) TAGLog::debug("busy");
    });
  }
  for (int i = 0; i < 100; ++i) {
    testsupport::TagLogRecorder recorder;
    TAGLog::error("replaced");
    EXPECT_EQ(recorder.lines("error"), (std::vector<std::string>{"replaced"}));
  }
  for (auto& writer : writers) writer.join();
}

}  // namespace
