#pragma once
// SystemReachabilitySource: reachability flags from Linux itself. The internet (any address, or
// a host name) is reachable when a default route leaves through an interface that is up; the
// mobile-network bit is set when that interface is a mobile one (wwan, ppp, rmnet). Loopback
// hosts are reachable, local and direct. Changes are learnt from the kernel's routing socket
// (links, addresses and routes), on one monitor thread for the process.

#include <mutex>
#include <vector>

#include "platform/net/ReachabilitySource.h"

namespace platform {

class SystemReachabilitySource : public ReachabilitySource {
 public:
  std::optional<std::uint32_t> flags(const ReachabilityTarget& target) override;
  std::unique_ptr<Subscription> watch(const ReachabilityTarget& target, Callback callback) override;

  struct Watcher;

 private:
  void startMonitor();
  void monitor(int socket);
  void recheck();

  std::mutex mutex_;
  bool monitoring_ = false;
  std::vector<std::weak_ptr<Watcher>> watchers_;
};

}  // namespace platform
