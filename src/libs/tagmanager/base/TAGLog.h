#pragma once
// TAGLog: the tag manager's logging facade. Every message of the tag manager, and of the
// analytics logger bridge once the analytics tag has installed it, goes through the one
// installed TAGLogger; a TAGDefaultLogger is installed when TAGLog is first used.
//
// Any thread may log or replace the logger: a message goes to the logger installed when it was
// written, and replacing the logger while another thread logs is safe.

#include <cstdint>
#include <memory>
#include <string>

#include "tagmanager/base/TAGLogger.h"

class TAGLog {
 public:
  TAGLog() = delete;

  static void error(const std::string& message);
  static void warning(const std::string& message);
  static void info(const std::string& message);
  static void debug(const std::string& message);
  static void verbose(const std::string& message);

  // Null is accepted and silences all output.
  static void setLogger(std::shared_ptr<TAGLogger> logger);
  static std::shared_ptr<TAGLogger> logger();
  // The installed logger's level; 0 when none is installed.
  static std::int32_t logLevel();
};
