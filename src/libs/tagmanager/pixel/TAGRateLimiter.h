#pragma once
// TAGRateLimiter: a token bucket. Each call of `tokenAvailable` first adds the tokens earned
// since the previous call (one per `secondsPerToken`, fractions kept, at most `maxTokens`) and
// then takes one if there is one. The clock is counted from the reference date 2001-01-01, and
// the bucket starts empty at that date, so the first call finds it full.
//
// Any thread may call; the limiter locks itself.

#include <functional>
#include <memory>

#include "platform/foundation/Mutex.h"
#include "platform/foundation/SharedObject.h"
#include "tagmanager/base/TAGLogger.h"

class TAGRateLimiter {
  CH_SHARED_OBJECT(TAGRateLimiter)

 public:
  using LoggerSource = std::function<std::shared_ptr<TAGLogger>()>;

  static std::shared_ptr<TAGRateLimiter> rateLimiterWithMaxTokens(double maxTokens,
                                                                  double secondsPerToken) {
    return create(maxTokens, secondsPerToken);
  }

  // Whether a token was taken. A refusal warns "Excessive tracking detected and throttled." to
  // the logger of the dispatcher that owns the limiter (nothing while it has none).
  bool tokenAvailable() EXCLUDES(mutex_);
  void setLoggerSource(LoggerSource source) EXCLUDES(mutex_);

  double tokens() const EXCLUDES(mutex_);
  double lastTrackTime() const EXCLUDES(mutex_);
  double maxTokens() const { return _maxTokens; }
  double secondsPerToken() const { return _secondsPerToken; }

 protected:
  TAGRateLimiter(double maxTokens, double secondsPerToken)
      : _maxTokens(maxTokens), _secondsPerToken(secondsPerToken) {}

 private:
  const double _maxTokens;
  const double _secondsPerToken;
  mutable platform::Mutex mutex_;
  double tokens_ GUARDED_BY(mutex_) = 0;
  double lastTrackTime_ GUARDED_BY(mutex_) = 0;
  LoggerSource loggerSource_ GUARDED_BY(mutex_);
};
