#pragma once
// Reachability: watches whether one network target (a host name or an address) can be reached.
// It answers the current status on request (reading the flags each time), and once its notifier
// is started it reports every change: the reachable or unreachable block on the watcher's own
// serial queue, then "kReachabilityChangedNotification" posted on the main queue with the
// watcher as object.
//
// The application watches the internet connection and the course API host; the address,
// link-local and connection-requirement queries have no caller yet and are kept as the
// platform has them.
//
// A started watcher keeps itself alive until `stopNotifier()`; owners that go away stop it.
// After `stopNotifier()` has returned, no change is reported any more, and a change already on
// its way is dropped.

#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/dispatch/Queue.h"
#include "platform/foundation/Mutex.h"
#include "platform/net/ReachabilityNotifications.h"
#include "platform/net/ReachabilitySource.h"

enum NetworkStatus { NotReachable = 0, ReachableViaWWAN = 1, ReachableViaWiFi = 2 };

// What the platform's reachability reference stands for: a target on a flags source.
struct ReachabilityRef {
  std::shared_ptr<platform::ReachabilitySource> source;
  platform::ReachabilityTarget target;
};

class Reachability : public std::enable_shared_from_this<Reachability> {
 public:
  using NetworkReachable = std::function<void(Reachability&)>;
  using NetworkUnreachable = std::function<void(Reachability&)>;

  // Null when the source refuses the target.
  static std::shared_ptr<Reachability> reachabilityWithHostname(const std::string& hostname);
  static std::shared_ptr<Reachability> reachabilityWithAddress(const sockaddr* hostAddress);
  // Any route to the internet (0.0.0.0).
  static std::shared_ptr<Reachability> reachabilityForInternetConnection();
  // The link-local network (169.254.0.0).
  static std::shared_ptr<Reachability> reachabilityForLocalWiFi();
  static std::shared_ptr<Reachability> initWithReachabilityRef(ReachabilityRef ref);

  ~Reachability();

  bool startNotifier() EXCLUDES(notifierMutex_, mutex_);
  void stopNotifier() EXCLUDES(notifierMutex_, mutex_);
  bool isNotifierRunning() const EXCLUDES(mutex_);

  bool isReachable() const;
  bool isReachableViaWWAN() const;
  bool isReachableViaWiFi() const;
  bool isConnectionRequired() const { return connectionRequired(); }
  bool connectionRequired() const;
  bool isConnectionOnDemand() const;
  bool isInterventionRequired() const;
  NetworkStatus currentReachabilityStatus() const;
  // The flags, 0 when they cannot be read.
  std::uint32_t reachabilityFlags() const;
  std::string currentReachabilityString() const;
  std::string currentReachabilityFlags() const;

  // Called by the notifier with the new flags.
  void reachabilityChanged(std::uint32_t flags);

  NetworkReachable reachableBlock() const EXCLUDES(mutex_);
  void setReachableBlock(NetworkReachable block) EXCLUDES(mutex_);
  NetworkUnreachable unreachableBlock() const EXCLUDES(mutex_);
  void setUnreachableBlock(NetworkUnreachable block) EXCLUDES(mutex_);
  bool reachableOnWWAN() const { return reachableOnWWAN_; }
  void setReachableOnWWAN(bool value) { reachableOnWWAN_ = value; }

  const ReachabilityRef& reachabilityRef() const { return reachabilityRef_; }

 private:
  explicit Reachability(ReachabilityRef ref) : reachabilityRef_(std::move(ref)) {}
  bool isReachableWithFlags(std::uint32_t flags) const;
  std::optional<std::uint32_t> readFlags() const;

  // Set before start, read-only after.
  const ReachabilityRef reachabilityRef_;

  // Serialises start and stop; taken before mutex_, never held by the source's callbacks.
  platform::Mutex notifierMutex_ ACQUIRED_BEFORE(mutex_);

  // Guarded by mutex_ (held only briefly, never while calling the source).
  mutable platform::Mutex mutex_;
  std::shared_ptr<platform::dispatch::Queue> reachabilitySerialQueue_ GUARDED_BY(mutex_);
  // The watcher itself while its notifier runs, so it stays alive until stopped.
  std::shared_ptr<Reachability> reachabilityObject_ GUARDED_BY(mutex_);
  std::unique_ptr<platform::ReachabilitySource::Subscription> subscription_ GUARDED_BY(mutex_);
  std::uint64_t generation_ GUARDED_BY(mutex_) = 0;
  NetworkReachable reachableBlock_ GUARDED_BY(mutex_);
  NetworkUnreachable unreachableBlock_ GUARDED_BY(mutex_);

  std::atomic<bool> reachableOnWWAN_{true};
};
