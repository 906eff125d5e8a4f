#include "platform/foundation/RunLoop.h"

namespace platform {

namespace {

// A repeating timer with no interval would fire in every pass and starve the loop; it gets the
// smallest interval instead.
constexpr Duration kMinimumRepeatInterval = std::chrono::microseconds(100);

Duration sanitizedInterval(Duration interval, bool repeats) {
  if (interval < Duration::zero()) interval = Duration::zero();
  if (repeats && interval < kMinimumRepeatInterval) return kMinimumRepeatInterval;
  return interval;
}

}  // namespace

Timer::Timer(Duration interval, bool repeats, Action action,
             std::optional<const void*> performOwner)
    : interval_(sanitizedInterval(interval, repeats)),
      repeats_(repeats),
      performOwner_(performOwner),
      action_(std::make_shared<Action>(std::move(action))),
      fireDate_(saturatingAdd(Clock::shared()->monotonicNow(), interval_)) {}

std::shared_ptr<Timer> Timer::create(Duration interval, bool repeats, Action action) {
  return std::shared_ptr<Timer>(new Timer(interval, repeats, std::move(action)));
}

std::shared_ptr<Timer> Timer::scheduled(Duration interval, bool repeats, Action action) {
  auto timer = create(interval, repeats, std::move(action));
  RunLoop::current()->addTimer(timer);
  return timer;
}

void Timer::invalidate() {
  std::shared_ptr<Action> released;
  {
    MutexLock lock(mutex_);
    if (!valid_) return;
    valid_ = false;
    released = std::move(action_);
  }
  // `released` goes here, outside the lock: the action's captures may call back into us. When
  // the action is running right now, the firing keeps its own reference until it returns.
}

bool Timer::isValid() const {
  MutexLock lock(mutex_);
  return valid_;
}

void Timer::fire() {
  std::shared_ptr<Action> action;
  {
    MutexLock lock(mutex_);
    if (!valid_) return;
    action = action_;
  }
  struct EndOneShot {
    Timer& timer;
    ~EndOneShot() {
      if (!timer.repeats_) timer.invalidate();
    }
  } endOneShot{*this};
  if (action && *action) (*action)(*this);
}

MonoTime Timer::fireDate() const {
  MutexLock lock(mutex_);
  return fireDate_;
}

std::shared_ptr<Timer::Action> Timer::takeDueAction(MonoTime now) {
  MutexLock lock(mutex_);
  if (!valid_ || fireDate_ > now) return nullptr;
  if (repeats_) {
    // Fire once however far behind, then land on the next multiple of the interval after now
    // (the end of the clock at the most).
    auto missed = (now - fireDate_) / interval_;
    fireDate_ = saturatingAdd(fireDate_ + interval_ * missed, interval_);
  }
  return action_;
}

bool Timer::isPerformFor(const void* owner) const {
  MutexLock lock(mutex_);
  return valid_ && performOwner_ == owner;
}

}  // namespace platform
