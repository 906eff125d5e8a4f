#pragma once
// AnalyticsReachabilityChecker: watches whether the host of the hit collection endpoint can be
// reached and tells its delegate each time the derived status changes: 0 unknown (not watching,
// or nothing heard yet), 1 not reachable, 2 reachable, 3 reachable over the mobile network.
// Flags come from the platform's reachability of the host name; the delegate is told on the main
// run loop. Once watching, the current flags are reported as the first change.
//
// The five functions it watches through (`AnalyticsReachabilityApi`) can be replaced while it is
// stopped. Start, stop and the accessors may be called from any thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "analytics/AnalyticsReachabilityDelegate.h"
#include "platform/foundation/Mutex.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/SharedObject.h"

// The reachability object of one host name, as the functions below make and use it.
struct AnalyticsReachabilityRef;

struct AnalyticsReachabilityApi {
  using Callback = std::function<void(std::uint32_t flags)>;
  // Null when the host cannot be watched.
  std::shared_ptr<AnalyticsReachabilityRef> (*createWithName)(const std::string& host);
  bool (*setCallback)(AnalyticsReachabilityRef&, Callback callback);
  bool (*scheduleWithRunLoop)(AnalyticsReachabilityRef&, std::shared_ptr<platform::RunLoop>);
  bool (*unscheduleFromRunLoop)(AnalyticsReachabilityRef&, std::shared_ptr<platform::RunLoop>);
  void (*release)(std::shared_ptr<AnalyticsReachabilityRef>&);

  // Over the platform's reachability by host name.
  static const AnalyticsReachabilityApi* defaultApi();
};

class AnalyticsReachabilityChecker
    : public std::enable_shared_from_this<AnalyticsReachabilityChecker> {
 public:
  // Null, with the error line "Invalid host specified.", for an empty host name.
  static std::shared_ptr<AnalyticsReachabilityChecker> initWithDelegate(
      std::weak_ptr<AnalyticsReachabilityDelegate> delegate, const std::string& host);
  // Stops watching.
  ~AnalyticsReachabilityChecker();

  // Begins watching; true when watching (also when it already was).
  bool start() EXCLUDES(mutex_);
  // Ends watching; the status goes back to 0.
  void stop() EXCLUDES(mutex_);
  bool isActive() const EXCLUDES(mutex_);

  static std::int32_t statusForFlags(std::uint32_t flags);
  // The callback's entry: logs the flags and tells the delegate when the status changed.
  void reachabilityFlagsChanged(std::uint32_t flags) EXCLUDES(mutex_);

  std::int32_t reachabilityStatus() const EXCLUDES(mutex_);
  const std::string& host() const { return _host; }
  std::shared_ptr<AnalyticsReachabilityDelegate> delegate() const EXCLUDES(mutex_);
  void setDelegate(std::weak_ptr<AnalyticsReachabilityDelegate> delegate) EXCLUDES(mutex_);
  const AnalyticsReachabilityApi* reachabilityApi() const EXCLUDES(mutex_);
  // Refused with an error line while watching.
  void setReachabilityApi(const AnalyticsReachabilityApi* api) EXCLUDES(mutex_);

 private:
  AnalyticsReachabilityChecker(std::weak_ptr<AnalyticsReachabilityDelegate> delegate,
                               std::string host);

  // Set before start, read-only after.
  const std::string _host;

  // Guarded by mutex_.
  mutable platform::Mutex mutex_;
  const AnalyticsReachabilityApi* _reachabilityApi GUARDED_BY(mutex_);
  std::shared_ptr<AnalyticsReachabilityRef> _reachability GUARDED_BY(mutex_);
  std::int32_t _reachabilityStatus GUARDED_BY(mutex_) = 0;
  std::weak_ptr<AnalyticsReachabilityDelegate> _delegate GUARDED_BY(mutex_);
};
