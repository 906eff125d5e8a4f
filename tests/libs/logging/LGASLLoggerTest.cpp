#include <gtest/gtest.h>

#include "logging/LGASLLogger.h"
#include "logging/LoggingTestSupport.h"
#include "platform/foundation/Mutex.h"

namespace {

class FakeSystemLog : public LGSystemLogClient {
 public:
  void log(int level, const std::string& text) override {
    platform::MutexLock lock(mutex_);
    entries_.emplace_back(level, text);
  }
  std::vector<std::pair<int, std::string>> entries() {
    platform::MutexLock lock(mutex_);
    return entries_;
  }

 private:
  platform::Mutex mutex_;
  std::vector<std::pair<int, std::string>> entries_ GUARDED_BY(mutex_);
};

TEST(LGASLLoggerTest, EachFlagGoesOutAtItsSystemLogLevel) {
  auto fake = std::make_shared<FakeSystemLog>();
  auto logger = LGASLLogger::withClient(fake);
  LGLog::addLogger(logger);
  struct Case {
    int flag;
    int level;
  } cases[] = {{1, 2}, {2, 3}, {4, 4}, {3, 5}, {0, 5}, {8, 5}};
  for (const auto& c : cases) logtest::logText(false, c.flag, "flag " + std::to_string(c.flag));
  logtest::logText(false, LG_LOG_FLAG_INFO, "100% done %s %d");
  logtest::detachAll();

  auto entries = fake->entries();
  ASSERT_EQ(entries.size(), std::size(cases) + 1);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(entries[i].first, cases[i].level) << "flag " << cases[i].flag;
    EXPECT_EQ(entries[i].second, "flag " + std::to_string(cases[i].flag));
  }
  EXPECT_EQ(entries.back().second, "100% done %s %d");
  EXPECT_EQ(logger->loggerName(), "logging.aslLogger");
}

TEST(LGASLLoggerTest, TheSharedInstanceIsOne) {
  EXPECT_EQ(LGASLLogger::sharedInstance(), LGASLLogger::sharedInstance());
}

}  // namespace
