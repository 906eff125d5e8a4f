#pragma once
// AnalyticsLoggerImpl: the analytics logger that writes through the tag manager's logging
// (TAGLog), so analytics messages are filtered by the tag manager's level. The tag manager's
// analytics tag installs it into analytics (`Analytics::setLogger`, the sink analytics offers);
// the application itself never does. It lives here, not in analytics, so the lower library
// knows nothing of the tag manager.

#include <cstdint>

#include "analytics/AnalyticsLogger.h"

class AnalyticsLoggerImpl : public AnalyticsLogger {
 public:
  AnalyticsLoggerImpl() = default;

  void verbose(const std::string& message) override;
  void info(const std::string& message) override;
  void warning(const std::string& message) override;
  void error(const std::string& message) override;
  // The tag manager's level in analytics terms.
  std::uint32_t logLevel() const override;
  // Changes nothing: the level belongs to the tag manager's logger. Says so as a warning.
  void setLogLevel(std::uint32_t logLevel) override;

  // Tag-manager level to analytics level: 0 and 1 → 4, 2 → 3, 3 → 2, 4 → 1, anything else → 0.
  static std::uint32_t analyticsLogLevelFromTmLogLevel(std::int32_t tmLogLevel);
};
