#include "platform/foundation/Clock.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <vector>

namespace platform {

Duration seconds(double s) {
  // Whole seconds that 64-bit nanoseconds still hold; past them the cast would be undefined.
  constexpr double kLimit = static_cast<double>(
      std::chrono::duration_cast<std::chrono::seconds>(Duration::max()).count());
  if (std::isnan(s)) return Duration::zero();
  if (s >= kLimit) return Duration::max();
  if (s <= -kLimit) return Duration::min();
  return std::chrono::duration_cast<Duration>(std::chrono::duration<double>(s));
}

double toSeconds(Duration d) { return std::chrono::duration<double>(d).count(); }

namespace {

class SystemClock : public Clock {
 public:
  MonoTime monotonicNow() const override { return std::chrono::steady_clock::now(); }
  Date now() const override { return std::chrono::system_clock::now(); }
  std::optional<Duration> sleepDuration(MonoTime deadline) const override {
    auto left = deadline - monotonicNow();
    return left < Duration::zero() ? Duration::zero() : std::chrono::duration_cast<Duration>(left);
  }
};

// One registered sleeper. Its own mutex makes "unregistered" final: once the token is gone, the
// wake function is neither running nor called again.
class Listener {
 public:
  explicit Listener(std::function<void()> wake) : wake_(std::move(wake)) {}

  void wake() EXCLUDES(mutex_) {
    MutexLock lock(mutex_);
    if (alive_) wake_();
  }
  // Waits for a wake in progress; none starts afterwards.
  void retire() EXCLUDES(mutex_) {
    MutexLock lock(mutex_);
    alive_ = false;
  }

 private:
  // Set before start, read-only after.
  const std::function<void()> wake_;
  // Guarded by mutex_.
  Mutex mutex_;
  bool alive_ GUARDED_BY(mutex_) = true;
};

struct Registry {
  Mutex mutex_;
  std::map<std::uint64_t, std::shared_ptr<Listener>> listeners_ GUARDED_BY(mutex_);
  std::uint64_t nextId_ GUARDED_BY(mutex_) = 1;
};

Registry& registry() {
  static Registry* r = new Registry;  // never destroyed: sleepers may outlive static teardown
  return *r;
}

struct SharedClock {
  Mutex mutex_;
  std::shared_ptr<Clock> clock_ GUARDED_BY(mutex_) = Clock::system();
};

SharedClock& sharedClock() {
  static SharedClock* slot = new SharedClock;  // never destroyed, as the registry
  return *slot;
}

}  // namespace

std::shared_ptr<Clock> Clock::system() {
  // Never destroyed: detached threads (the dispatch reactor, pool workers) read the clock while
  // the process exits, and may make the shared slot, which starts from this clock, only then.
  static auto* c = new std::shared_ptr<Clock>(std::make_shared<SystemClock>());
  return *c;
}

std::shared_ptr<Clock> Clock::shared() {
  SharedClock& shared = sharedClock();
  MutexLock lock(shared.mutex_);
  return shared.clock_;
}

void Clock::setShared(std::shared_ptr<Clock> clock) {
  {
    SharedClock& shared = sharedClock();
    MutexLock lock(shared.mutex_);
    shared.clock_ = clock ? std::move(clock) : system();
  }
  wakeSleepers();
}

Clock::WakeToken::~WakeToken() {
  std::shared_ptr<Listener> listener;
  {
    Registry& r = registry();
    MutexLock lock(r.mutex_);
    auto it = r.listeners_.find(id_);
    if (it == r.listeners_.end()) return;
    listener = it->second;
    r.listeners_.erase(it);
  }
  listener->retire();
}

std::unique_ptr<Clock::WakeToken> Clock::addWakeListener(std::function<void()> wake) {
  auto listener = std::make_shared<Listener>(std::move(wake));
  Registry& r = registry();
  MutexLock lock(r.mutex_);
  std::uint64_t id = r.nextId_++;
  r.listeners_.emplace(id, std::move(listener));
  return std::make_unique<WakeToken>(id);
}

void Clock::wakeSleepers() {
  std::vector<std::shared_ptr<Listener>> copy;
  {
    Registry& r = registry();
    MutexLock lock(r.mutex_);
    copy.reserve(r.listeners_.size());
    for (auto& [id, listener] : r.listeners_) copy.push_back(listener);
  }
  for (auto& listener : copy) listener->wake();
}

static Date defaultManualStart() {
  return Date(std::chrono::seconds(1767225600));  // 2026-01-01 00:00:00 UTC
}

ManualClock::ManualClock() : ManualClock(defaultManualStart()) {}

ManualClock::ManualClock(Date start) : mono_(std::chrono::hours(24)), date_(start) {}

MonoTime ManualClock::monotonicNow() const {
  MutexLock lock(mutex_);
  return mono_;
}

Date ManualClock::now() const {
  MutexLock lock(mutex_);
  return date_;
}

std::optional<Duration> ManualClock::sleepDuration(MonoTime deadline) const {
  MutexLock lock(mutex_);
  if (deadline <= mono_) return Duration::zero();
  return std::nullopt;
}

void ManualClock::advance(Duration d) {
  if (d < Duration::zero()) d = Duration::zero();
  {
    MutexLock lock(mutex_);
    mono_ = saturatingAdd(mono_, d);
    date_ = saturatingAdd(date_, std::chrono::duration_cast<Date::duration>(d));
  }
  wakeSleepers();
}

void ManualClock::setDate(Date date) {
  {
    MutexLock lock(mutex_);
    date_ = date;
  }
  wakeSleepers();
}

ScopedManualClock::ScopedManualClock()
    : clock_(std::make_shared<ManualClock>()), previous_(Clock::shared()) {
  Clock::setShared(clock_);
}

ScopedManualClock::~ScopedManualClock() { Clock::setShared(previous_); }

bool waitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
               std::optional<MonoTime> deadline, const std::function<bool()>& ready) {
  if (!deadline) {
    cv.wait(lock, ready);
    return true;
  }
  std::mutex* m = lock.mutex();
  // Moving a manual clock (or swapping the shared clock) wakes this waiter so it can re-read
  // the time. The listener takes the waiter's mutex, so a move between the time check and the
  // wait below cannot be missed.
  auto token = Clock::addWakeListener([&cv, m] {
    std::lock_guard<std::mutex> g(*m);
    cv.notify_all();
  });
  bool result = false;
  while (true) {
    if (ready()) {
      result = true;
      break;
    }
    auto sleep = Clock::shared()->sleepDuration(*deadline);
    if (sleep && *sleep == Duration::zero()) break;
    if (sleep)
      cv.wait_for(lock, std::min(*sleep, kLongestSleep));
    else
      cv.wait(lock);
  }
  // The token must go without our mutex held: its listener takes that mutex.
  lock.unlock();
  token.reset();
  lock.lock();
  return result || ready();
}

}  // namespace platform
