#include "analytics/AnalyticsDefaultLogger.h"

#include "platform/foundation/SystemLog.h"

void AnalyticsDefaultLogger::write(std::uint32_t level, const char* kind,
                                   const std::string& message) const {
  if (_logLevel.load() < level) return;
  platform::SystemLog::write(std::string(kind) + ": " + message);
}

void AnalyticsDefaultLogger::verbose(const std::string& message) { write(4, "VERBOSE", message); }
void AnalyticsDefaultLogger::info(const std::string& message) { write(3, "INFO", message); }
void AnalyticsDefaultLogger::warning(const std::string& message) { write(2, "WARNING", message); }
void AnalyticsDefaultLogger::error(const std::string& message) { write(1, "ERROR", message); }
