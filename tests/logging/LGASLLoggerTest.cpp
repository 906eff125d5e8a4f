#include <gtest/gtest.h>

#include "logging/LGASLLogger.h"
#include "logging/LoggingTestSupport.h"

namespace {

class FakeSystemLog : public LGSystemLogClient {
 public:
  void log(int level, const std::string& text) override {
    std::lock_guard<std::mutex> lock(mutex);
    entries.emplace_back(level, text);
  }
  std::mutex mutex;
  std::vector<std::pair<int, std::string>> entries;
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

  ASSERT_EQ(fake->entries.size(), std::size(cases) + 1);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(fake->entries[i].first, cases[i].level) << "flag " << cases[i].flag;
    EXPECT_EQ(fake->entries[i].second, "flag " + std::to_string(cases[i].flag));
  }
  EXPECT_EQ(fake->entries.back().second, "100% done %s %d");
  EXPECT_EQ(logger->loggerName(), "logging.aslLogger");
}

TEST(LGASLLoggerTest, TheSharedInstanceIsOne) {
  EXPECT_EQ(LGASLLogger::sharedInstance(), LGASLLogger::sharedInstance());
}

}  // namespace
