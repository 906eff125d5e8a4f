#pragma once
// AnalyticsDefaultLogger: the analytics logger `Analytics` starts with. Each message that passes
// the level becomes one system-log line, "<KIND>: <message>". The level starts at 2 (warning)
// and is read and written atomically, so any thread may log or change it.

#include <atomic>

#include "analytics/AnalyticsLogger.h"

class AnalyticsDefaultLogger : public AnalyticsLogger {
 public:
  AnalyticsDefaultLogger() = default;

  void verbose(const std::string& message) override;
  void info(const std::string& message) override;
  void warning(const std::string& message) override;
  void error(const std::string& message) override;
  // No range check: 0 silences everything, 4 and above let everything through.
  std::uint32_t logLevel() const override { return _logLevel.load(); }
  void setLogLevel(std::uint32_t logLevel) override { _logLevel.store(logLevel); }

 private:
  void write(std::uint32_t level, const char* kind, const std::string& message) const;

  std::atomic<std::uint32_t> _logLevel{2};
};
