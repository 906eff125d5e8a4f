#pragma once
// AnalyticsTrackerImpl: the tracker `Analytics` makes. It keeps a model of persistent
// parameters, limits the rate of hits, and hands each hit (its model with the hit's own
// parameters over it) to the dispatcher.
//
// Rate limit: a bucket of 60 credits refilled at 0.5 credit per second of clock time; every hit
// but "transaction" and "item" hits spends one, and a hit finding less than one credit is
// dropped with the info line "Excessive tracking detected and throttled.". So a burst of 60
// passes at once, then one hit every 2 seconds.
//
// Any thread: the model, the rate limit and the hand-over run under the tracker's lock, so one
// tracker's hits are limited and queued in call order.

#include <cstdint>
#include <memory>
#include <string>

#include "analytics/AnalyticsTracker.h"
#include "analytics/AnalyticsTrackerModel.h"
#include "analytics/AnalyticsUsageTracker.h"
#include "platform/foundation/Mutex.h"

class AnalyticsDispatchSender;

class AnalyticsTrackerImpl : public AnalyticsTracker {
 public:
  // Null, with the error line "initialization failed: dispatcher is required.", when there is
  // no dispatcher.
  static std::shared_ptr<AnalyticsTrackerImpl> trackerWithDispatcher(
      std::shared_ptr<AnalyticsDispatchSender> dispatcher, const std::string& name);

  // Each records its usage code on the tracker's own usage tracker, then does the an_ form.
  void set(const std::string& key, const std::optional<std::string>& value) override;
  std::optional<std::string> get(const std::string& key) override;
  void send(const platform::Dictionary& parameters) override;
  std::string name() const override { return _name; }

  // The same without usage codes (for the SDK's own callers).
  void an_set(const std::string& key, const std::optional<std::string>& value) EXCLUDES(mutex_);
  std::optional<std::string> an_get(const std::string& key) EXCLUDES(mutex_);
  void an_set(const platform::Dictionary& parameters);
  void an_send(const platform::Dictionary& parameters) EXCLUDES(mutex_);
  // The uncaught-exception report's send: built from the model as last set, without the
  // tracker's lock (an exception that went uncaught under it left it held for good) and without
  // the rate limit (the process's last hit), and handed to the dispatcher's exception road.
  void an_sendException(const platform::Dictionary& parameters) EXCLUDES(snapshotMutex_);

  // Spends a credit; true when the hit must be dropped.
  bool shouldRateLimit() EXCLUDES(mutex_);

  std::uint64_t hitCount() const { return _hitCount; }
  std::uint64_t trackCount() const { return _trackCount; }
  double trackingCredits() const EXCLUDES(mutex_);
  const std::shared_ptr<AnalyticsDispatchSender>& dispatcher() const { return _dispatcher; }

 private:
  AnalyticsTrackerImpl(std::shared_ptr<AnalyticsDispatchSender> dispatcher, std::string name);
  bool shouldRateLimitLocked() REQUIRES(mutex_);
  // Publishes a copy of the model for `an_sendException`.
  void publishSnapshotLocked() REQUIRES(mutex_) EXCLUDES(snapshotMutex_);

  // Set before start, read-only after.
  const std::string _name;
  const std::shared_ptr<AnalyticsDispatchSender> _dispatcher;
  AnalyticsUsageTracker _usageTracker;
  const std::uint64_t _hitCount = 0;
  const std::uint64_t _trackCount = 0;

  // Guarded by mutex_.
  mutable platform::Mutex mutex_;
  AnalyticsTrackerModel _model GUARDED_BY(mutex_);
  double _trackingCredits GUARDED_BY(mutex_) = 60.0;
  // Seconds since 1 January 2001 of the last rate-limited hit; 0 for none yet.
  double _lastTrackTime GUARDED_BY(mutex_) = 0.0;

  // Guarded by snapshotMutex_, which is held only to copy the pointer: no code that could throw
  // runs under it, so an uncaught exception never leaves it held.
  mutable platform::Mutex snapshotMutex_;
  std::shared_ptr<const AnalyticsTrackerModel> snapshot_ GUARDED_BY(snapshotMutex_);
};
