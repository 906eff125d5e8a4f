#include "tagmanager/base/TAGLog.h"

#include "platform/foundation/Mutex.h"
#include "tagmanager/base/TAGDefaultLogger.h"

namespace {

struct Installed {
  platform::Mutex mutex;
  std::shared_ptr<TAGLogger> logger GUARDED_BY(mutex) = std::make_shared<TAGDefaultLogger>();
};

Installed& installed() {
  // Never destroyed: threads may log while the process exits.
  static auto* state = new Installed;
  return *state;
}

}  // namespace

std::shared_ptr<TAGLogger> TAGLog::logger() {
  platform::MutexLock lock(installed().mutex);
  return installed().logger;
}

void TAGLog::setLogger(std::shared_ptr<TAGLogger> logger) {
  // The old logger goes after the lock is left: its destructor may log.
  std::shared_ptr<TAGLogger> previous;
  platform::MutexLock lock(installed().mutex);
  previous = std::move(installed().logger);
  installed().logger = std::move(logger);
}

std::int32_t TAGLog::logLevel() {
  auto current = logger();
  return current ? current->logLevel() : 0;
}

void TAGLog::error(const std::string& message) {
  if (auto current = logger()) current->error(message);
}

void TAGLog::warning(const std::string& message) {
  if (auto current = logger()) current->warning(message);
}

void TAGLog::info(const std::string& message) {
  if (auto current = logger()) current->info(message);
}

void TAGLog::debug(const std::string& message) {
  if (auto current = logger()) current->debug(message);
}

void TAGLog::verbose(const std::string& message) {
  if (auto current = logger()) current->verbose(message);
}
