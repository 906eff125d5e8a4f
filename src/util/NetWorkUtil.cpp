#include "util/NetWorkUtil.h"

#include <mutex>

namespace {

// Until a watcher is installed, the network counts as there.
class AlwaysReachableSource : public NetworkStatusSource {
 public:
  int currentReachabilityStatus() const override { return kReachableViaWiFi; }
};

std::mutex& sourceMutex() {
  static std::mutex m;
  return m;
}

std::shared_ptr<NetworkStatusSource>& installedSource() {
  static auto* source = new std::shared_ptr<NetworkStatusSource>();
  return *source;
}

std::shared_ptr<NetworkStatusSource> currentSource() {
  std::lock_guard<std::mutex> lock(sourceMutex());
  if (!installedSource()) installedSource() = std::make_shared<AlwaysReachableSource>();
  return installedSource();
}

}  // namespace

bool NetWorkUtil::netWorkIsEnable() {
  return currNetworkState() != NetworkStatusSource::kNotReachable;
}

int NetWorkUtil::currNetworkState() { return currentSource()->currentReachabilityStatus(); }

void NetWorkUtil::setStatusSource(std::shared_ptr<NetworkStatusSource> source) {
  std::lock_guard<std::mutex> lock(sourceMutex());
  installedSource() = std::move(source);
}
