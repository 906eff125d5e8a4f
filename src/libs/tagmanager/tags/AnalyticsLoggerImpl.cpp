#include "tagmanager/tags/AnalyticsLoggerImpl.h"

#include "tagmanager/base/TAGLog.h"

void AnalyticsLoggerImpl::verbose(const std::string& message) { TAGLog::verbose(message); }
void AnalyticsLoggerImpl::info(const std::string& message) { TAGLog::info(message); }
void AnalyticsLoggerImpl::warning(const std::string& message) { TAGLog::warning(message); }
void AnalyticsLoggerImpl::error(const std::string& message) { TAGLog::error(message); }

std::uint32_t AnalyticsLoggerImpl::logLevel() const {
  return analyticsLogLevelFromTmLogLevel(TAGLog::logLevel());
}

void AnalyticsLoggerImpl::setLogLevel(std::uint32_t) {
  TAGLog::warning(
      "Analytics uses the tag-manager logger. Please use TAGManager.logger.logLevel instead.");
}

std::uint32_t AnalyticsLoggerImpl::analyticsLogLevelFromTmLogLevel(std::int32_t tmLogLevel) {
  switch (tmLogLevel) {
    case 0:
    case 1:
      return 4;
    case 2:
      return 3;
    case 3:
      return 2;
    case 4:
      return 1;
    default:
      return 0;
  }
}
