#include "platform/net/FakeReachabilitySource.h"

#include <algorithm>

namespace platform {

struct FakeReachabilitySource::Watcher {
  // Set before the watcher is shared, read-only after.
  ReachabilityTarget target;
  // Held while the callback runs; makes unsubscribing final.
  Mutex mutex;
  bool alive GUARDED_BY(mutex) = true;
  Callback callback GUARDED_BY(mutex);
  // Guarded by the source's mutex_.
  std::uint32_t last = 0;
};

namespace {

class FakeSubscription : public ReachabilitySource::Subscription {
 public:
  explicit FakeSubscription(std::shared_ptr<FakeReachabilitySource::Watcher> watcher)
      : watcher_(std::move(watcher)) {}
  ~FakeSubscription() override;

 private:
  std::shared_ptr<FakeReachabilitySource::Watcher> watcher_;
};

}  // namespace

FakeSubscription::~FakeSubscription() {
  MutexLock lock(watcher_->mutex);
  watcher_->alive = false;
  watcher_->callback = nullptr;
}

std::uint32_t FakeReachabilitySource::current(const ReachabilityTarget& target) const {
  auto it = perHost_.find(target.host());
  return it == perHost_.end() ? default_ : it->second;
}

std::optional<std::uint32_t> FakeReachabilitySource::flags(const ReachabilityTarget& target) {
  MutexLock lock(mutex_);
  if (unreadable_) return std::nullopt;
  return current(target);
}

std::unique_ptr<ReachabilitySource::Subscription> FakeReachabilitySource::watch(
    const ReachabilityTarget& target, Callback callback) {
  if (!accepts(target)) return nullptr;
  auto watcher = std::make_shared<Watcher>();
  watcher->target = target;
  {
    MutexLock watcherLock(watcher->mutex);
    watcher->callback = std::move(callback);
  }
  MutexLock lock(mutex_);
  watcher->last = current(target);
  watchers_.push_back(watcher);
  return std::make_unique<FakeSubscription>(watcher);
}

void FakeReachabilitySource::setFlags(std::uint32_t flags) {
  {
    MutexLock lock(mutex_);
    default_ = flags;
  }
  notifyChanges();
}

void FakeReachabilitySource::setFlags(const std::string& host, std::uint32_t flags) {
  {
    MutexLock lock(mutex_);
    perHost_[ReachabilityTarget{ReachabilityTarget::Kind::HostName, host}.host()] = flags;
  }
  notifyChanges();
}

void FakeReachabilitySource::setUnreadable(bool unreadable) {
  MutexLock lock(mutex_);
  unreadable_ = unreadable;
}

std::size_t FakeReachabilitySource::watcherCount() const {
  std::vector<std::shared_ptr<Watcher>> watchers;
  {
    MutexLock lock(mutex_);
    for (const auto& weak : watchers_) {
      if (auto w = weak.lock()) watchers.push_back(w);
    }
  }
  return std::count_if(watchers.begin(), watchers.end(), [](const auto& w) {
    MutexLock watcherLock(w->mutex);
    return w->alive;
  });
}

void FakeReachabilitySource::notifyChanges() {
  std::vector<std::pair<std::shared_ptr<Watcher>, std::uint32_t>> changed;
  {
    MutexLock lock(mutex_);
    std::erase_if(watchers_, [](const auto& weak) { return weak.expired(); });
    for (const auto& weak : watchers_) {
      auto w = weak.lock();
      if (!w) continue;
      std::uint32_t now = current(w->target);
      if (now == w->last) continue;
      w->last = now;
      changed.emplace_back(w, now);
    }
  }
  for (auto& [w, flags] : changed) {
    MutexLock lock(w->mutex);
    if (w->alive && w->callback) w->callback(flags);
  }
}

ScopedFakeReachability::ScopedFakeReachability(std::uint32_t defaultFlags)
    : fake_(std::make_shared<FakeReachabilitySource>(defaultFlags)) {
  ReachabilitySource::setShared(fake_);
}

ScopedFakeReachability::~ScopedFakeReachability() { ReachabilitySource::setShared(nullptr); }

}  // namespace platform
