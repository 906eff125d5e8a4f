#include "tagmanager/pixel/TAGNetReachability.h"

#include "platform/foundation/RunLoop.h"

TAGNetReachability::~TAGNetReachability() { stop(); }

bool TAGNetReachability::start() {
  platform::MutexLock lock(mutex_);
  if (reachability_) return false;
  auto source = platform::ReachabilitySource::shared();
  platform::ReachabilityTarget target{platform::ReachabilityTarget::Kind::HostName, _host};
  if (!source || !source->accepts(target)) return false;
  std::weak_ptr<TAGNetReachability> weak = weak_from_this();
  reachability_ = source->watch(target, [weak](std::uint32_t flags) {
    platform::RunLoop::main()->perform([weak, flags] {
      if (auto self = weak.lock()) self->setReachabilityStatus(statusForFlags(flags));
    });
  });
  return reachability_ != nullptr;
}

void TAGNetReachability::stop() {
  std::unique_ptr<platform::ReachabilitySource::Subscription> subscription;
  {
    platform::MutexLock lock(mutex_);
    subscription = std::move(reachability_);
  }
  // Destroyed outside the lock: it waits for a callback that may be running.
}

std::int32_t TAGNetReachability::statusForFlags(std::uint32_t flags) {
  using namespace platform;
  if (!(flags & kReachabilityFlagsReachable)) return 1;
  if (flags & kReachabilityFlagsConnectionRequired) {
    bool automatic =
        flags & (kReachabilityFlagsConnectionOnTraffic | kReachabilityFlagsConnectionOnDemand);
    if (!automatic || (flags & kReachabilityFlagsInterventionRequired)) return 1;
  }
  return (flags & kReachabilityFlagsIsWWAN) ? 3 : 2;
}

void TAGNetReachability::setReachabilityStatus(std::int32_t status) {
  if (_reachabilityStatus.exchange(status) == status) return;
  StatusChange block;
  {
    platform::MutexLock lock(mutex_);
    block = _statusChange;
  }
  if (block) block(status);
}

void TAGNetReachability::setStatusChange(StatusChange block) {
  platform::MutexLock lock(mutex_);
  _statusChange = std::move(block);
}
