#include "tagmanager/pixel/TAGRateLimiter.h"

#include <algorithm>

#include "platform/foundation/Clock.h"

namespace {

// Seconds from 1970-01-01 to the reference date 2001-01-01 (UTC).
constexpr double kReferenceDateOffset = 978307200.0;

}  // namespace

bool TAGRateLimiter::tokenAvailable() {
  LoggerSource source;
  {
    platform::MutexLock lock(mutex_);
    if (_secondsPerToken > 0) {
      double now = platform::toSeconds(platform::Clock::shared()->now()) - kReferenceDateOffset;
      if (tokens_ < _maxTokens) {
        tokens_ = std::min(_maxTokens, tokens_ + (now - lastTrackTime_) / _secondsPerToken);
      }
      lastTrackTime_ = now;
      if (tokens_ >= 1) {
        tokens_ -= 1;
        return true;
      }
    }
    source = loggerSource_;
  }
  if (source) {
    if (auto logger = source()) logger->warning("Excessive tracking detected and throttled.");
  }
  return false;
}

void TAGRateLimiter::setLoggerSource(LoggerSource source) {
  platform::MutexLock lock(mutex_);
  loggerSource_ = std::move(source);
}

double TAGRateLimiter::tokens() const {
  platform::MutexLock lock(mutex_);
  return tokens_;
}

double TAGRateLimiter::lastTrackTime() const {
  platform::MutexLock lock(mutex_);
  return lastTrackTime_;
}
