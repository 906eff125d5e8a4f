#pragma once
// ReachabilityNetworkStatus: answers NetWorkUtil's question "is a network there now?" with a
// fresh, unstarted Reachability watcher of the internet connection for every question, as the
// platform's utility does. `install()` puts it in place; the application calls it once at
// launch, before the first screen asks.

#include "netstatus/NetworkStatusSource.h"

class ReachabilityNetworkStatus : public NetworkStatusSource {
 public:
  // Makes NetWorkUtil ask the real reachability from now on.
  static void install();

  int currentReachabilityStatus() const override;
};
