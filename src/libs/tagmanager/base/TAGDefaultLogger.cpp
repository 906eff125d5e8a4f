#include "tagmanager/base/TAGDefaultLogger.h"

#include "platform/foundation/SystemLog.h"

void TAGDefaultLogger::write(std::int32_t level, const char* kind,
                             const std::string& message) const {
  if (_logLevel.load() > level) return;
  platform::SystemLog::write(std::string("TagManager ") + kind + ": " + message);
}

void TAGDefaultLogger::error(const std::string& message) { write(4, "error", message); }
void TAGDefaultLogger::warning(const std::string& message) { write(3, "warning", message); }
void TAGDefaultLogger::info(const std::string& message) { write(2, "info", message); }
void TAGDefaultLogger::debug(const std::string& message) { write(1, "debug", message); }
void TAGDefaultLogger::verbose(const std::string& message) { write(0, "verbose", message); }
