// The analytics default logger and the SDK's log line prefix.

#include <gtest/gtest.h>

#include "analytics/AnalyticsDefaultLogger.h"
#include "analytics/AnalyticsLog.h"
#include "platform/foundation/SystemLog.h"

namespace {

void logEveryKind(AnalyticsLogger& logger) {
  logger.verbose("v");
  logger.info("i");
  logger.warning("w");
  logger.error("e");
}

TEST(AnalyticsDefaultLoggerTest, LevelDecidesWhatReachesTheSystemLog) {
  const std::pair<std::uint32_t, std::vector<std::string>> cases[] = {
      {0, {}},
      {1, {"ERROR: e"}},
      {2, {"WARNING: w", "ERROR: e"}},
      {3, {"INFO: i", "WARNING: w", "ERROR: e"}},
      {4, {"VERBOSE: v", "INFO: i", "WARNING: w", "ERROR: e"}},
  };
  AnalyticsDefaultLogger fresh;
  EXPECT_EQ(fresh.logLevel(), 2u);
  for (const auto& [level, lines] : cases) {
    platform::ScopedSystemLogCapture log;
    AnalyticsDefaultLogger logger;
    logger.setLogLevel(level);
    logEveryKind(logger);
    EXPECT_EQ(log.lines(), lines) << level;
  }
}

TEST(AnalyticsLogTest, PrefixNamesProductVersionFunctionFileAndLine) {
  EXPECT_EQ(analyticsFunctionName("static std::shared_ptr<AnalyticsBatchingDispatcher> "
                                  "AnalyticsBatchingDispatcher::dispatcher()"),
            "AnalyticsBatchingDispatcher::dispatcher");
  EXPECT_EQ(analyticsFunctionName(
                "void AnalyticsDataStore::addHit(const Dictionary&)::<lambda(auto:1&)>"),
            "AnalyticsDataStore::addHit");
  EXPECT_EQ(analyticsFunctionName("std::map<int, int> f(std::map<int, int>)"), "f");
  EXPECT_EQ(analyticsLogPrefix("void Analytics::reset()", "/src/analytics/Analytics.cpp", 42),
            "UsageAnalytics 3.01 Analytics::reset (Analytics.cpp:42): ");
}

}  // namespace
