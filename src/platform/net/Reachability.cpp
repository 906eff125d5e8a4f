#include "platform/net/Reachability.h"

#include <arpa/inet.h>

#include <cstdio>

#include "platform/foundation/NotificationCenter.h"

using platform::ReachabilitySource;
using platform::ReachabilityTarget;
namespace dispatch = platform::dispatch;

namespace {

std::string addressText(const sockaddr* address) {
  char text[INET6_ADDRSTRLEN] = {};
  if (address->sa_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
  } else if (address->sa_family == AF_INET6) {
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text,
              sizeof text);
  }
  return text;
}

std::shared_ptr<Reachability> forIPv4(const char* text) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  inet_pton(AF_INET, text, &address.sin_addr);
  return Reachability::reachabilityWithAddress(reinterpret_cast<const sockaddr*>(&address));
}

}  // namespace

std::shared_ptr<Reachability> Reachability::reachabilityWithHostname(const std::string& hostname) {
  return initWithReachabilityRef(
      {ReachabilitySource::shared(), {ReachabilityTarget::Kind::HostName, hostname}});
}

std::shared_ptr<Reachability> Reachability::reachabilityWithAddress(const sockaddr* hostAddress) {
  if (!hostAddress) return nullptr;
  std::string text = addressText(hostAddress);
  if (text.empty()) return nullptr;
  return initWithReachabilityRef(
      {ReachabilitySource::shared(), {ReachabilityTarget::Kind::Address, text}});
}

std::shared_ptr<Reachability> Reachability::reachabilityForInternetConnection() {
  return forIPv4("0.0.0.0");
}

std::shared_ptr<Reachability> Reachability::reachabilityForLocalWiFi() {
  return forIPv4("169.254.0.0");
}

std::shared_ptr<Reachability> Reachability::initWithReachabilityRef(ReachabilityRef ref) {
  if (!ref.source || !ref.source->accepts(ref.target)) return nullptr;
  return std::shared_ptr<Reachability>(new Reachability(std::move(ref)));
}

Reachability::~Reachability() {
  // A running notifier holds the watcher, so only a stopped one gets here; drop what is left.
  subscription_.reset();
}

bool Reachability::startNotifier() {
  // Start and stop are serialised by their own lock; `mutex_` is only held briefly, never while
  // calling the source, since the source's callbacks take it.
  platform::MutexLock notifierLock(notifierMutex_);
  std::uint64_t generation;
  {
    platform::MutexLock lock(mutex_);
    if (subscription_) return true;
    reachabilityObject_ = shared_from_this();
    reachabilitySerialQueue_ = dispatch::Queue::serial("com.parlwick.reachability");
    generation = ++generation_;
  }
  std::weak_ptr<Reachability> weak = weak_from_this();
  // The callback holds the watcher weakly and re-checks the generation on the serial queue, so
  // a change racing with `stopNotifier` never reaches a stopped or destroyed watcher.
  auto subscription = reachabilityRef_.source->watch(reachabilityRef_.target,
                                                     [weak, generation](std::uint32_t flags) {
                                                       auto self = weak.lock();
                                                       if (!self) return;
                                                       std::shared_ptr<dispatch::Queue> queue;
                                                       {
                                                         // The generation alone decides: a change
                                                         // may come while `watch` is still
                                                         // returning, before the subscription is
                                                         // kept, and must not be lost.
                                                         platform::MutexLock lock(self->mutex_);
                                                         if (self->generation_ != generation)
                                                           return;
                                                         queue = self->reachabilitySerialQueue_;
                                                       }
                                                       if (!queue) return;
                                                       queue->async([weak, generation, flags] {
                                                         auto self = weak.lock();
                                                         if (!self) return;
                                                         {
                                                           platform::MutexLock lock(self->mutex_);
                                                           if (self->generation_ != generation)
                                                             return;
                                                         }
                                                         self->reachabilityChanged(flags);
                                                       });
                                                     });
  std::shared_ptr<Reachability> self;
  platform::MutexLock lock(mutex_);
  if (!subscription) {
    ++generation_;  // no callback of the failed start may land
    reachabilitySerialQueue_.reset();
    self = std::move(reachabilityObject_);
    return false;
  }
  subscription_ = std::move(subscription);
  return true;
}

void Reachability::stopNotifier() {
  platform::MutexLock notifierLock(notifierMutex_);
  std::unique_ptr<ReachabilitySource::Subscription> subscription;
  std::shared_ptr<Reachability> self;
  {
    platform::MutexLock lock(mutex_);
    ++generation_;
    subscription = std::move(subscription_);
    reachabilitySerialQueue_.reset();
    self = std::move(reachabilityObject_);
  }
  // Outside `mutex_`: unsubscribing waits for a callback in progress, which takes it.
  subscription.reset();
}

bool Reachability::isNotifierRunning() const {
  platform::MutexLock lock(mutex_);
  return subscription_ != nullptr;
}

void Reachability::reachabilityChanged(std::uint32_t flags) {
  auto block = isReachableWithFlags(flags) ? reachableBlock() : unreachableBlock();
  if (block) block(*this);
  auto self = shared_from_this();
  dispatch::Queue::main()->async([self] {
    platform::NotificationCenter::defaultCenter().post(kReachabilityChangedNotification,
                                                       platform::Value::object(self));
  });
}

std::optional<std::uint32_t> Reachability::readFlags() const {
  return reachabilityRef_.source->flags(reachabilityRef_.target);
}

bool Reachability::isReachableWithFlags(std::uint32_t flags) const {
  if (!(flags & platform::kReachabilityFlagsReachable)) return false;
  const std::uint32_t transientAndRequired = platform::kReachabilityFlagsTransientConnection |
                                             platform::kReachabilityFlagsConnectionRequired;
  if ((flags & transientAndRequired) == transientAndRequired) return false;
  if ((flags & platform::kReachabilityFlagsIsWWAN) && !reachableOnWWAN_) return false;
  return true;
}

bool Reachability::isReachable() const {
  auto flags = readFlags();
  return flags && isReachableWithFlags(*flags);
}

bool Reachability::isReachableViaWWAN() const {
  auto flags = readFlags();
  const std::uint32_t both =
      platform::kReachabilityFlagsReachable | platform::kReachabilityFlagsIsWWAN;
  return flags && (*flags & both) == both;
}

bool Reachability::isReachableViaWiFi() const {
  auto flags = readFlags();
  return flags && (*flags & platform::kReachabilityFlagsReachable) &&
         !(*flags & platform::kReachabilityFlagsIsWWAN);
}

bool Reachability::connectionRequired() const {
  auto flags = readFlags();
  return flags && (*flags & platform::kReachabilityFlagsConnectionRequired);
}

bool Reachability::isConnectionOnDemand() const {
  auto flags = readFlags();
  return flags && (*flags & platform::kReachabilityFlagsConnectionRequired) &&
         (*flags & (platform::kReachabilityFlagsConnectionOnTraffic |
                    platform::kReachabilityFlagsConnectionOnDemand));
}

bool Reachability::isInterventionRequired() const {
  auto flags = readFlags();
  return flags && (*flags & platform::kReachabilityFlagsConnectionRequired) &&
         (*flags & platform::kReachabilityFlagsInterventionRequired);
}

NetworkStatus Reachability::currentReachabilityStatus() const {
  auto flags = readFlags();
  if (!flags || !isReachableWithFlags(*flags)) return NotReachable;
  if (!(*flags & platform::kReachabilityFlagsIsWWAN)) return ReachableViaWiFi;
  return ReachableViaWWAN;
}

std::uint32_t Reachability::reachabilityFlags() const { return readFlags().value_or(0); }

std::string Reachability::currentReachabilityString() const {
  switch (currentReachabilityStatus()) {
    case ReachableViaWWAN:
      return "Cellular";
    case ReachableViaWiFi:
      return "WiFi";
    default:
      return "No Connection";
  }
}

std::string Reachability::currentReachabilityFlags() const {
  std::uint32_t f = reachabilityFlags();
  auto bit = [f](std::uint32_t mask, char c) { return (f & mask) ? c : '-'; };
  using namespace platform;
  char text[16];
  std::snprintf(text, sizeof text, "%c%c %c%c%c%c%c%c%c", bit(kReachabilityFlagsIsWWAN, 'W'),
                bit(kReachabilityFlagsReachable, 'R'),
                bit(kReachabilityFlagsConnectionRequired, 'c'),
                bit(kReachabilityFlagsTransientConnection, 't'),
                bit(kReachabilityFlagsInterventionRequired, 'i'),
                bit(kReachabilityFlagsConnectionOnTraffic, 'C'),
                bit(kReachabilityFlagsConnectionOnDemand, 'D'),
                bit(kReachabilityFlagsIsLocalAddress, 'l'), bit(kReachabilityFlagsIsDirect, 'd'));
  return text;
}

Reachability::NetworkReachable Reachability::reachableBlock() const {
  platform::MutexLock lock(mutex_);
  return reachableBlock_;
}

void Reachability::setReachableBlock(NetworkReachable block) {
  platform::MutexLock lock(mutex_);
  reachableBlock_ = std::move(block);
}

Reachability::NetworkUnreachable Reachability::unreachableBlock() const {
  platform::MutexLock lock(mutex_);
  return unreachableBlock_;
}

void Reachability::setUnreachableBlock(NetworkUnreachable block) {
  platform::MutexLock lock(mutex_);
  unreachableBlock_ = std::move(block);
}
