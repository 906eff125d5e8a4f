#pragma once
// TAGDefaultLogger: the tag manager's logger unless another is installed. Each message that
// passes the level becomes one system-log line, "TagManager <kind>: <message>". The level
// starts at 3 (warning) and is read and written atomically, so any thread may log or change it.

#include <atomic>

#include "tagmanager/base/TAGLogger.h"

class TAGDefaultLogger : public TAGLogger {
 public:
  TAGDefaultLogger() = default;

  void error(const std::string& message) override;
  void warning(const std::string& message) override;
  void info(const std::string& message) override;
  void debug(const std::string& message) override;
  void verbose(const std::string& message) override;
  // No range check: 5 and above silence everything, below 0 lets everything through.
  void setLogLevel(std::int32_t logLevel) override { _logLevel.store(logLevel); }
  std::int32_t logLevel() const override { return _logLevel.load(); }

 private:
  void write(std::int32_t level, const char* kind, const std::string& message) const;

  std::atomic<std::int32_t> _logLevel{3};
};
