// The analytics logger the tag manager installs into analytics: it writes through the tag
// manager's log and reads its level.

#include <gtest/gtest.h>

#include "platform/foundation/SystemLog.h"
#include "tagmanager/base/TAGDefaultLogger.h"
#include "tagmanager/base/TAGLog.h"
#include "tagmanager/tags/AnalyticsLoggerImpl.h"

namespace {

void logEveryKind(AnalyticsLogger& logger) {
  logger.verbose("v");
  logger.info("i");
  logger.warning("w");
  logger.error("e");
}

TEST(AnalyticsLoggerImplTest, WritesThroughTheTagManagersLevel) {
  auto previous = TAGLog::logger();
  TAGLog::setLogger(std::make_shared<TAGDefaultLogger>());
  AnalyticsLoggerImpl logger;
  EXPECT_EQ(logger.logLevel(), 2u);
  {
    platform::ScopedSystemLogCapture log;
    logEveryKind(logger);
    EXPECT_EQ(log.lines(),
              (std::vector<std::string>{"TagManager warning: w", "TagManager error: e"}));
  }
  {
    platform::ScopedSystemLogCapture log;
    logger.setLogLevel(4);
    EXPECT_EQ(logger.logLevel(), 2u);
    EXPECT_EQ(log.lines(), (std::vector<std::string>{
                               "TagManager warning: Analytics uses the tag-manager logger. "
                               "Please use TAGManager.logger.logLevel instead."}));
  }
  const std::pair<std::int32_t, std::uint32_t> levels[] = {{0, 4}, {1, 4}, {2, 3}, {3, 2},
                                                           {4, 1}, {5, 0}, {-1, 0}};
  for (const auto& [tm, analytics] : levels) {
    EXPECT_EQ(AnalyticsLoggerImpl::analyticsLogLevelFromTmLogLevel(tm), analytics) << tm;
  }
  TAGLog::setLogger(previous);
}

}  // namespace
