#pragma once
// AnalyticsLogger: where all diagnostic output of the usage analytics goes (through
// `Analytics::sharedLogger()`). Levels run 0 none, 1 error, 2 warning, 3 info, 4 verbose; a
// message of a level is written when the logger's level is at least that level. Any thread may
// log.

#include <cstdint>
#include <string>

class AnalyticsLogger {
 public:
  virtual ~AnalyticsLogger() = default;

  virtual void verbose(const std::string& message) = 0;
  virtual void info(const std::string& message) = 0;
  virtual void warning(const std::string& message) = 0;
  virtual void error(const std::string& message) = 0;
  virtual std::uint32_t logLevel() const = 0;
  virtual void setLogLevel(std::uint32_t logLevel) = 0;
};
