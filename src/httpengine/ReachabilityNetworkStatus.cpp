#include "httpengine/ReachabilityNetworkStatus.h"

#include <memory>

#include "platform/net/Reachability.h"
#include "util/NetWorkUtil.h"

void ReachabilityNetworkStatus::install() {
  NetWorkUtil::setStatusSource(std::make_shared<ReachabilityNetworkStatus>());
}

int ReachabilityNetworkStatus::currentReachabilityStatus() const {
  auto watcher = Reachability::reachabilityForInternetConnection();
  return watcher ? watcher->currentReachabilityStatus() : NotReachable;
}
