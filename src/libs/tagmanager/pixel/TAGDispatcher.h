#pragma once
// TAGDispatcher: the sender of pixel hits. `sendHitToUrl` lets a hit through the rate limiter
// (60 tokens, one more every 2 s), optionally wraps it, and stores it; a repeating timer on
// TAGThread (every `dispatchInterval` seconds, running only while hits wait and the pixel host
// is reachable) then sends up to `maxRequestsPerDispatch` hits, one request at a time: those
// that never failed first, oldest first, then the failed ones. A hit answered 2xx is deleted; a
// hit whose URL is not http or https, or that the connection refuses outright (not a URL), can
// never be sent and is deleted unsent ("Dropped hit that cannot be sent: "); any other outcome
// marks its first failure, and a hit whose first failure is more than 4 hours old is deleted at
// its next failed send (logged as "Successfully sent hit: " as well). A failure while
// unreachable or cancelled leaves it as it was. The first send goes out 1 s after creation if
// hits are left from an earlier run.
//
// `instance()` is the process's dispatcher; `init()` makes another (tests). `sendHitToUrl` may
// come from any thread; timer, dispatch and completions run on TAGThread.

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "platform/foundation/Mutex.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/SharedObject.h"
#include "tagmanager/pixel/TAGDataProvider.h"
#include "tagmanager/pixel/TAGHitSender.h"
#include "tagmanager/pixel/TAGNetworking.h"
#include "tagmanager/pixel/TAGRateLimiter.h"

class TAGDispatcher : public TAGHitSender, public std::enable_shared_from_this<TAGDispatcher> {
  CH_SHARED_OBJECT(TAGDispatcher)

 public:
  static constexpr double kFirstFailureLifetime = 14400.0;

  static std::shared_ptr<TAGDispatcher> instance();
  static std::shared_ptr<TAGDispatcher> init();
  ~TAGDispatcher() override;

  void sendHitToUrl(const std::string& url) override;
  std::shared_ptr<TAGLogger> logger() const override EXCLUDES(mutex_);
  void setLogger(std::shared_ptr<TAGLogger> logger) override EXCLUDES(mutex_);

  // Starts one batch send on TAGThread.
  void dispatch();
  void timerFired();

  bool canDispatch() const;
  bool canScheduleDispatch() const;
  double dispatchInterval() const { return _dispatchInterval.load(); }
  void setDispatchInterval(double seconds);
  std::uint32_t maxRequestsPerDispatch() const { return _maxRequestsPerDispatch.load(); }
  void setMaxRequestsPerDispatch(std::uint32_t count) { _maxRequestsPerDispatch = count; }
  void setWrapperUrl(std::optional<std::string> url) EXCLUDES(mutex_);
  void setWrapperQueryParameter(std::optional<std::string> name) EXCLUDES(mutex_);

  const std::shared_ptr<TAGRateLimiter>& rateLimiter() const { return _rateLimiter; }
  const std::shared_ptr<TAGDataProvider>& store() const { return _store; }
  const std::shared_ptr<TAGNetworking>& network() const { return _network; }
  // TAGThread only (asserted): the running timer's interval, 0 without one, and the batch in
  // flight.
  double timerInterval() const;
  std::size_t operationCount() const;

 protected:
  TAGDispatcher();

 private:
  void startObserving();
  void initialDispatch();
  void canScheduleDispatchChanged();
  void rescheduleDispatch();
  void startTimer();
  void cancelTimer();
  void handleCompletion(const TAGHit& hit, TAGNetOperation& operation);
  // Only "http://" and "https://" URLs (in any case) are sent at all.
  static bool hasSendableScheme(const std::string& url);
  // The connection refused the hit's URL before any connection: no later try can do better.
  static bool canNeverBeSent(const TAGNetOperation& operation);
  void dropUnsendableHit(const TAGHit& hit);

  std::atomic<double> _dispatchInterval{120.0};
  std::atomic<std::uint32_t> _maxRequestsPerDispatch{40};
  const std::shared_ptr<TAGRateLimiter> _rateLimiter;
  std::shared_ptr<TAGDataProvider> _store;
  std::shared_ptr<TAGNetworking> _network;

  mutable platform::Mutex mutex_;
  std::optional<std::string> _wrapperUrl GUARDED_BY(mutex_);
  std::optional<std::string> _wrapperQueryParameter GUARDED_BY(mutex_);
  std::weak_ptr<TAGLogger> _logger GUARDED_BY(mutex_);

  // Owned by TAGThread: every function that touches them asserts it runs there.
  std::set<std::shared_ptr<TAGNetOperation>> operations_;
  std::shared_ptr<platform::Timer> timer_;
  bool lastCanScheduleDispatch_ = false;
};
