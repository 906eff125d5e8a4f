#include "netstatus/ReachabilityNetworkStatus.h"

#include <memory>

#include "netstatus/NetWorkUtil.h"
#include "platform/net/Reachability.h"

void ReachabilityNetworkStatus::install() {
  NetWorkUtil::setStatusSource(std::make_shared<ReachabilityNetworkStatus>());
}

int ReachabilityNetworkStatus::currentReachabilityStatus() const {
  auto watcher = Reachability::reachabilityForInternetConnection();
  return watcher ? watcher->currentReachabilityStatus() : NotReachable;
}
