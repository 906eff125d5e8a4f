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
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/foundation/Value.h"

namespace platform {

using Duration = std::chrono::nanoseconds;
using MonoTime = std::chrono::steady_clock::time_point;

// Seconds as a double (the platform's interval type) to a Duration, and back.
Duration seconds(double s);
double toSeconds(Duration d);

class Clock {
 public:
  virtual ~Clock() = default;

  virtual MonoTime monotonicNow() const = 0;
  virtual Date now() const = 0;
  // How long a sleeper should really wait to reach `deadline`; absent means "until woken".
  virtual std::optional<Duration> sleepDuration(MonoTime deadline) const = 0;
  virtual bool isManual() const { return false; }

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
    std::uint64_t id_;
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

  MonoTime monotonicNow() const override;
  Date now() const override;
  std::optional<Duration> sleepDuration(MonoTime deadline) const override;
  bool isManual() const override { return true; }

  void advance(Duration d);
  void advanceSeconds(double s) { advance(seconds(s)); }
  // Moves the date only (the monotonic reading keeps running), as a user changing the time.
  void setDate(Date date);

 private:
  mutable std::mutex mutex_;
  MonoTime mono_;
  Date date_;
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
// deadline. A deadline of nullopt waits without limit.
bool waitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
               std::optional<MonoTime> deadline, const std::function<bool()>& ready);

}  // namespace platform
