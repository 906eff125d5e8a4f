#pragma once
// FakeReachabilitySource: reachability flags set by hand, for tests. Every target reads the
// default flags unless flags were set for its host; changing flags calls the watchers whose
// flags changed, on the calling thread. `ScopedFakeReachability` installs a fake as the
// process's source for the life of a test.

#include <map>
#include <mutex>
#include <vector>

#include "platform/net/ReachabilitySource.h"

namespace platform {

class FakeReachabilitySource : public ReachabilitySource {
 public:
  explicit FakeReachabilitySource(std::uint32_t defaultFlags = kReachabilityFlagsReachable)
      : default_(defaultFlags) {}

  std::optional<std::uint32_t> flags(const ReachabilityTarget& target) override;
  std::unique_ptr<Subscription> watch(const ReachabilityTarget& target, Callback callback) override;

  // Flags of every target without flags of its own.
  void setFlags(std::uint32_t flags);
  // Flags of one host or address (by its host text).
  void setFlags(const std::string& host, std::uint32_t flags);
  // While unreadable, `flags` answers absent (watchers are not called).
  void setUnreadable(bool unreadable);
  // Number of live subscriptions.
  std::size_t watcherCount() const;

  struct Watcher;

 private:
  std::uint32_t current(const ReachabilityTarget& target) const;
  void notifyChanges();

  mutable std::mutex mutex_;
  std::uint32_t default_;
  std::map<std::string, std::uint32_t> perHost_;
  bool unreadable_ = false;
  std::vector<std::weak_ptr<Watcher>> watchers_;
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
