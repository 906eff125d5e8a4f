#include "netstatus/NetWorkUtil.h"

#include "platform/foundation/Mutex.h"

namespace {

// Until a watcher is installed, the network counts as there.
class AlwaysReachableSource : public NetworkStatusSource {
 public:
  int currentReachabilityStatus() const override { return kReachableViaWiFi; }
};

// The installed source, read by any thread.
struct InstalledSource {
  platform::Mutex mutex;
  std::shared_ptr<NetworkStatusSource> source GUARDED_BY(mutex);
};

InstalledSource& installed() {
  static auto* shared = new InstalledSource();
  return *shared;
}

std::shared_ptr<NetworkStatusSource> currentSource() {
  auto& shared = installed();
  platform::MutexLock lock(shared.mutex);
  if (!shared.source) shared.source = std::make_shared<AlwaysReachableSource>();
  return shared.source;
}

}  // namespace

bool NetWorkUtil::netWorkIsEnable() {
  return currNetworkState() != NetworkStatusSource::kNotReachable;
}

int NetWorkUtil::currNetworkState() { return currentSource()->currentReachabilityStatus(); }

void NetWorkUtil::setStatusSource(std::shared_ptr<NetworkStatusSource> source) {
  auto& shared = installed();
  platform::MutexLock lock(shared.mutex);
  shared.source = std::move(source);
}
