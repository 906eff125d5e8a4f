#include "platform/net/FakeReachabilitySource.h"

#include <algorithm>

namespace platform {

struct FakeReachabilitySource::Watcher {
  ReachabilityTarget target;
  std::mutex mutex;  // held while the callback runs; makes unsubscribing final
  bool alive = true;
  Callback callback;
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
  std::lock_guard lock(watcher_->mutex);
  watcher_->alive = false;
  watcher_->callback = nullptr;
}

std::uint32_t FakeReachabilitySource::current(const ReachabilityTarget& target) const {
  auto it = perHost_.find(target.host());
  return it == perHost_.end() ? default_ : it->second;
}

std::optional<std::uint32_t> FakeReachabilitySource::flags(const ReachabilityTarget& target) {
  std::lock_guard lock(mutex_);
  if (unreadable_) return std::nullopt;
  return current(target);
}

std::unique_ptr<ReachabilitySource::Subscription> FakeReachabilitySource::watch(
    const ReachabilityTarget& target, Callback callback) {
  if (!accepts(target)) return nullptr;
  auto watcher = std::make_shared<Watcher>();
  watcher->target = target;
  watcher->callback = std::move(callback);
  std::lock_guard lock(mutex_);
  watcher->last = current(target);
  watchers_.push_back(watcher);
  return std::make_unique<FakeSubscription>(watcher);
}

void FakeReachabilitySource::setFlags(std::uint32_t flags) {
  {
    std::lock_guard lock(mutex_);
    default_ = flags;
  }
  notifyChanges();
}

void FakeReachabilitySource::setFlags(const std::string& host, std::uint32_t flags) {
  {
    std::lock_guard lock(mutex_);
    perHost_[ReachabilityTarget{ReachabilityTarget::Kind::HostName, host}.host()] = flags;
  }
  notifyChanges();
}

void FakeReachabilitySource::setUnreadable(bool unreadable) {
  std::lock_guard lock(mutex_);
  unreadable_ = unreadable;
}

std::size_t FakeReachabilitySource::watcherCount() const {
  std::vector<std::shared_ptr<Watcher>> watchers;
  {
    std::lock_guard lock(mutex_);
    for (const auto& weak : watchers_) {
      if (auto w = weak.lock()) watchers.push_back(w);
    }
  }
  return std::count_if(watchers.begin(), watchers.end(), [](const auto& w) {
    std::lock_guard watcherLock(w->mutex);
    return w->alive;
  });
}

void FakeReachabilitySource::notifyChanges() {
  std::vector<std::pair<std::shared_ptr<Watcher>, std::uint32_t>> changed;
  {
    std::lock_guard lock(mutex_);
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
    std::lock_guard lock(w->mutex);
    if (w->alive && w->callback) w->callback(flags);
  }
}

ScopedFakeReachability::ScopedFakeReachability(std::uint32_t defaultFlags)
    : fake_(std::make_shared<FakeReachabilitySource>(defaultFlags)) {
  ReachabilitySource::setShared(fake_);
}

ScopedFakeReachability::~ScopedFakeReachability() { ReachabilitySource::setShared(nullptr); }

}  // namespace platform
