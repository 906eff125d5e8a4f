#pragma once
// TAGLogger: what the tag manager's diagnostic output goes through (see TAGLog). Levels run
// 0 verbose, 1 debug, 2 info, 3 warning, 4 error, 5 (or more) none; a message of level L is
// written when the logger's level is L or lower. Any thread may log.

#include <cstdint>
#include <string>

class TAGLogger {
 public:
  virtual ~TAGLogger() = default;

  virtual void error(const std::string& message) = 0;
  virtual void warning(const std::string& message) = 0;
  virtual void info(const std::string& message) = 0;
  virtual void debug(const std::string& message) = 0;
  virtual void verbose(const std::string& message) = 0;
  virtual void setLogLevel(std::int32_t logLevel) = 0;
  virtual std::int32_t logLevel() const = 0;
};
