#include "platform/foundation/Clock.h"

#include <atomic>
#include <map>

namespace platform {

Duration seconds(double s) {
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
struct Listener {
  std::mutex mutex;
  bool alive = true;
  std::function<void()> wake;
};

struct Registry {
  std::mutex mutex;
  std::map<std::uint64_t, std::shared_ptr<Listener>> listeners;
  std::uint64_t nextId = 1;
};

Registry& registry() {
  static Registry* r = new Registry;  // never destroyed: sleepers may outlive static teardown
  return *r;
}

std::mutex& sharedMutex() {
  static std::mutex m;
  return m;
}

std::shared_ptr<Clock>& sharedSlot() {
  static std::shared_ptr<Clock>* slot = new std::shared_ptr<Clock>(Clock::system());
  return *slot;
}

}  // namespace

std::shared_ptr<Clock> Clock::system() {
  static std::shared_ptr<Clock> c = std::make_shared<SystemClock>();
  return c;
}

std::shared_ptr<Clock> Clock::shared() {
  std::lock_guard<std::mutex> g(sharedMutex());
  return sharedSlot();
}

void Clock::setShared(std::shared_ptr<Clock> clock) {
  {
    std::lock_guard<std::mutex> g(sharedMutex());
    sharedSlot() = clock ? std::move(clock) : system();
  }
  wakeSleepers();
}

Clock::WakeToken::~WakeToken() {
  std::shared_ptr<Listener> l;
  {
    std::lock_guard<std::mutex> g(registry().mutex);
    auto it = registry().listeners.find(id_);
    if (it == registry().listeners.end()) return;
    l = it->second;
    registry().listeners.erase(it);
  }
  std::lock_guard<std::mutex> g(l->mutex);
  l->alive = false;
}

std::unique_ptr<Clock::WakeToken> Clock::addWakeListener(std::function<void()> wake) {
  auto l = std::make_shared<Listener>();
  l->wake = std::move(wake);
  std::lock_guard<std::mutex> g(registry().mutex);
  std::uint64_t id = registry().nextId++;
  registry().listeners.emplace(id, std::move(l));
  return std::make_unique<WakeToken>(id);
}

void Clock::wakeSleepers() {
  std::vector<std::shared_ptr<Listener>> copy;
  {
    std::lock_guard<std::mutex> g(registry().mutex);
    copy.reserve(registry().listeners.size());
    for (auto& [id, l] : registry().listeners) copy.push_back(l);
  }
  for (auto& l : copy) {
    std::lock_guard<std::mutex> g(l->mutex);
    if (l->alive) l->wake();
  }
}

static Date defaultManualStart() {
  return Date(std::chrono::seconds(1767225600));  // 2026-01-01 00:00:00 UTC
}

ManualClock::ManualClock() : ManualClock(defaultManualStart()) {}

ManualClock::ManualClock(Date start) : mono_(std::chrono::hours(24)), date_(start) {}

MonoTime ManualClock::monotonicNow() const {
  std::lock_guard<std::mutex> g(mutex_);
  return mono_;
}

Date ManualClock::now() const {
  std::lock_guard<std::mutex> g(mutex_);
  return date_;
}

std::optional<Duration> ManualClock::sleepDuration(MonoTime deadline) const {
  std::lock_guard<std::mutex> g(mutex_);
  if (deadline <= mono_) return Duration::zero();
  return std::nullopt;
}

void ManualClock::advance(Duration d) {
  if (d < Duration::zero()) d = Duration::zero();
  {
    std::lock_guard<std::mutex> g(mutex_);
    mono_ += d;
    date_ += std::chrono::duration_cast<Date::duration>(d);
  }
  wakeSleepers();
}

void ManualClock::setDate(Date date) {
  {
    std::lock_guard<std::mutex> g(mutex_);
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
      cv.wait_for(lock, *sleep);
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
