#pragma once
// AnalyticsReachabilityDelegate: told by an AnalyticsReachabilityChecker each time the status of
// its host changes (1 not reachable, 2 reachable, 3 reachable over the mobile network). Called on
// the main thread; the delegate carries the news to its own thread.

#include <cstdint>

class AnalyticsReachabilityChecker;

class AnalyticsReachabilityDelegate {
 public:
  virtual ~AnalyticsReachabilityDelegate() = default;
  virtual void reachabilityStatusChanged(AnalyticsReachabilityChecker& reachability,
                                         std::int32_t status) = 0;
};
