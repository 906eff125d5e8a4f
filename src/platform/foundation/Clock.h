#pragma once
// Clock: where every timer, delay, timeout and date of the system reads the time. Production
// code uses the system clock; tests install a ManualClock and move time by hand, which makes
// timers and timeouts deterministic.
//
// Two readings: `monotonicNow()` for intervals and deadlines, `now()` for dates. A manual clock
// moves both together. Code that sleeps until a deadline asks `sleepDuration(deadline)` how long
// to really sleep: the system clock answers the remaining time, a manual clock answers "until
// woken", and wakes every registered sleeper whenever it is moved.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/foundation/Mutex.h"
#include "platform/foundation/Value.h"

namespace platform {

using Duration = std::chrono::nanoseconds;
using MonoTime = std::chrono::steady_clock::time_point;

// Seconds as a double (the platform's interval type) to a Duration, and back. Seconds beyond
// what 64-bit nanoseconds hold (about 292 years either way) give the longest Duration of that
// sign instead of wrapping; NaN gives zero.
Duration seconds(double s);
double toSeconds(Duration d);

// `t + d`, held at the clock's first or last time point instead of wrapping: a timer a century
// away, or a deadline computed from an absurd interval, must stay in the future.
template <class TimePoint>
TimePoint saturatingAdd(TimePoint t, typename TimePoint::duration d) {
  typename TimePoint::rep sum;
  if (__builtin_add_overflow(t.time_since_epoch().count(), d.count(), &sum)) {
    return d.count() > 0 ? TimePoint::max() : TimePoint::min();
  }
  return TimePoint(typename TimePoint::duration(sum));
}

// The longest a sleeper waits in one go before it looks at the time again. The standard
// library's timed waits add the sleep to the current time, which overflows for a deadline at
// the end of time and would turn the wait into a busy loop.
inline constexpr Duration kLongestSleep = std::chrono::hours(1);

class Clock {
 public:
  virtual ~Clock() = default;

  virtual MonoTime monotonicNow() const = 0;
  virtual Date now() const = 0;
  // How long a sleeper should really wait to reach `deadline`; absent means "until woken".
  virtual std::optional<Duration> sleepDuration(MonoTime deadline) const = 0;

  // The clock the whole process reads; the system clock unless a test installed another.
  static std::shared_ptr<Clock> shared();
  static void setShared(std::shared_ptr<Clock> clock);
  static std::shared_ptr<Clock> system();

  // Sleepers (run loops, the dispatch reactor, timed waits) register to be woken when a manual
  // clock moves. The token unregisters when destroyed.
  class WakeToken {
   public:
    explicit WakeToken(std::uint64_t id) : id_(id) {}
    ~WakeToken();
    WakeToken(const WakeToken&) = delete;
    WakeToken& operator=(const WakeToken&) = delete;

   private:
    const std::uint64_t id_;
  };
  static std::unique_ptr<WakeToken> addWakeListener(std::function<void()> wake);
  // Wakes every registered sleeper; manual clocks call it after each move.
  static void wakeSleepers();
};

// Time that moves only when told to. Starts at an arbitrary fixed date (2026-01-01 00:00:00
// UTC) unless given one.
class ManualClock : public Clock {
 public:
  ManualClock();
  explicit ManualClock(Date start);

  MonoTime monotonicNow() const override EXCLUDES(mutex_);
  Date now() const override EXCLUDES(mutex_);
  std::optional<Duration> sleepDuration(MonoTime deadline) const override EXCLUDES(mutex_);

  // Moves both readings; they stop at the end of time rather than wrap.
  void advance(Duration d) EXCLUDES(mutex_);
  void advanceSeconds(double s) { advance(seconds(s)); }
  // Moves the date only (the monotonic reading keeps running), as a user changing the time.
  void setDate(Date date) EXCLUDES(mutex_);

 private:
  // Guarded by mutex_.
  mutable Mutex mutex_;
  MonoTime mono_ GUARDED_BY(mutex_);
  Date date_ GUARDED_BY(mutex_);
};

// Installs a manual clock for the life of a test and restores the previous clock after it.
class ScopedManualClock {
 public:
  ScopedManualClock();
  ~ScopedManualClock();
  ManualClock& operator*() { return *clock_; }
  ManualClock* operator->() { return clock_.get(); }
  std::shared_ptr<ManualClock> get() { return clock_; }

 private:
  std::shared_ptr<ManualClock> clock_;
  std::shared_ptr<Clock> previous_;
};

// Waits on `cv` until `ready()` holds or the shared clock reaches `deadline`; true when ready.
// Works under both clocks: under a manual clock the wait ends when the clock is moved past the
// deadline. A deadline of nullopt waits without limit. A caller holding a `platform::Mutex`
// passes `lock.native()`, and a `ready` that reads guarded fields is written
// `[&]() REQUIRES(mutex_) { ... }`.
bool waitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
               std::optional<MonoTime> deadline, const std::function<bool()>& ready);

}  // namespace platform
