#pragma once
// FakeReachabilitySource: reachability flags set by hand, for tests. Every target reads the
// default flags unless flags were set for its host; changing flags calls the watchers whose
// flags changed, on the calling thread. `ScopedFakeReachability` installs a fake as the
// process's source for the life of a test.

#include <map>
#include <vector>

#include "platform/foundation/Mutex.h"
#include "platform/net/ReachabilitySource.h"

namespace platform {

class FakeReachabilitySource : public ReachabilitySource {
 public:
  explicit FakeReachabilitySource(std::uint32_t defaultFlags = kReachabilityFlagsReachable)
      : default_(defaultFlags) {}

  std::optional<std::uint32_t> flags(const ReachabilityTarget& target) override EXCLUDES(mutex_);
  std::unique_ptr<Subscription> watch(const ReachabilityTarget& target, Callback callback) override
      EXCLUDES(mutex_);

  // Flags of every target without flags of its own.
  void setFlags(std::uint32_t flags) EXCLUDES(mutex_);
  // Flags of one host or address (by its host text).
  void setFlags(const std::string& host, std::uint32_t flags) EXCLUDES(mutex_);
  // While unreadable, `flags` answers absent (watchers are not called).
  void setUnreadable(bool unreadable) EXCLUDES(mutex_);
  // Number of live subscriptions.
  std::size_t watcherCount() const EXCLUDES(mutex_);

  struct Watcher;

 private:
  std::uint32_t current(const ReachabilityTarget& target) const REQUIRES(mutex_);
  // Calls the watchers whose flags changed, outside mutex_.
  void notifyChanges() EXCLUDES(mutex_);

  mutable Mutex mutex_;
  std::uint32_t default_ GUARDED_BY(mutex_);
  std::map<std::string, std::uint32_t> perHost_ GUARDED_BY(mutex_);
  bool unreadable_ GUARDED_BY(mutex_) = false;
  std::vector<std::weak_ptr<Watcher>> watchers_ GUARDED_BY(mutex_);
};

class ScopedFakeReachability {
 public:
  explicit ScopedFakeReachability(std::uint32_t defaultFlags = kReachabilityFlagsReachable);
  ~ScopedFakeReachability();
  FakeReachabilitySource* operator->() { return fake_.get(); }
  FakeReachabilitySource& operator*() { return *fake_; }

 private:
  std::shared_ptr<FakeReachabilitySource> fake_;
};

}  // namespace platform
