#pragma once
// SystemReachabilitySource: reachability flags from Linux itself. The internet (any address, or
// a host name) is reachable when a default route leaves through an interface that is up; the
// mobile-network bit is set when that interface is a mobile one (wwan, ppp, rmnet). Loopback
// hosts are reachable, local and direct. Changes are learnt from the kernel's routing socket
// (links, addresses and routes), on one monitor thread for the process.

#include <vector>

#include "platform/foundation/Mutex.h"
#include "platform/net/ReachabilitySource.h"

namespace platform {

class SystemReachabilitySource : public ReachabilitySource {
 public:
  std::optional<std::uint32_t> flags(const ReachabilityTarget& target) override;
  std::unique_ptr<Subscription> watch(const ReachabilityTarget& target, Callback callback) override
      EXCLUDES(mutex_);

  struct Watcher;

 private:
  void startMonitor() EXCLUDES(mutex_);
  // The monitor thread's loop.
  void monitor(int socket) EXCLUDES(mutex_);
  void recheck() EXCLUDES(mutex_);

  Mutex mutex_;
  bool monitoring_ GUARDED_BY(mutex_) = false;
  std::vector<std::weak_ptr<Watcher>> watchers_ GUARDED_BY(mutex_);
};

}  // namespace platform
