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

Timer::Timer(Duration interval, bool repeats, Action action)
    : interval_(sanitizedInterval(interval, repeats)),
      repeats_(repeats),
      action_(std::make_shared<Action>(std::move(action))),
      fireDate_(Clock::shared()->monotonicNow() + interval_) {}

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
    std::lock_guard<std::mutex> g(mutex_);
    if (!valid_) return;
    valid_ = false;
    released = std::move(action_);
  }
  // `released` goes here, outside the lock: the action's captures may call back into us. When
  // the action is running right now, the firing keeps its own reference until it returns.
}

bool Timer::isValid() const {
  std::lock_guard<std::mutex> g(mutex_);
  return valid_;
}

void Timer::fire() {
  std::shared_ptr<Action> action;
  {
    std::lock_guard<std::mutex> g(mutex_);
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
  std::lock_guard<std::mutex> g(mutex_);
  return fireDate_;
}

void Timer::setFireDate(MonoTime date) {
  std::shared_ptr<RunLoop> loop;
  {
    std::lock_guard<std::mutex> g(mutex_);
    fireDate_ = date;
    loop = loop_.lock();
  }
  // The loop may be asleep until the old date.
  if (loop) loop->wake();
}

std::shared_ptr<Timer::Action> Timer::takeDueAction(MonoTime now) {
  std::lock_guard<std::mutex> g(mutex_);
  if (!valid_ || fireDate_ > now) return nullptr;
  if (repeats_) {
    // Fire once however far behind, then land on the next multiple of the interval after now.
    auto missed = (now - fireDate_) / interval_;
    fireDate_ += interval_ * (missed + 1);
  }
  return action_;
}

bool Timer::isPerformFor(const void* owner) const {
  std::lock_guard<std::mutex> g(mutex_);
  return valid_ && isPerform_ && performOwner_ == owner;
}

}  // namespace platform
