#pragma once
// RunLoop: the event loop of one thread. Every thread that asks for its run loop gets one; the
// main thread's is reachable from everywhere through `RunLoop::main()`. A run loop runs posted
// work in FIFO order and fires its timers when the shared Clock reaches their fire dates, so a
// manual clock makes timers deterministic.
//
// Posting (`perform`, `performAfter`, `cancelPerforms`, `addTimer`, `stop`) is thread-safe;
// running (`run`, `runOnce`, `runUntil`, `runFor`) happens only on the loop's own thread.
//
// An exception thrown by work or by a timer's action leaves the run call that ran it; what was
// still queued stays queued for the next run. `performAndWait` from another thread rethrows it
// in the waiting caller instead.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "platform/foundation/BatchBuffer.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Mutex.h"

namespace platform {

class Timer;

class RunLoop : public std::enable_shared_from_this<RunLoop> {
 public:
  // The calling thread's run loop, made on first use. Loops are made only here and by `main()`:
  // a loop is always owned by a shared_ptr, since timers and posted work refer back to it.
  static std::shared_ptr<RunLoop> current();
  // The main thread's run loop (the process's first thread), made on first use from any thread.
  static std::shared_ptr<RunLoop> main();
  static bool isMainThread();

  ~RunLoop();
  RunLoop(const RunLoop&) = delete;
  RunLoop& operator=(const RunLoop&) = delete;

  // True when called on this loop's own thread.
  bool isCurrent() const;

  // Queues `work` to run on this loop, after the work already queued.
  void perform(std::function<void()> work) EXCLUDES(mutex_);
  // Runs `work` on this loop and returns when it has run; inline when called on the loop's
  // own thread. No code of ours calls it yet: it is the run-loop side of handing work to a
  // thread and waiting for it, which the analytics thread's callers will need.
  void performAndWait(const std::function<void()>& work);
  // Runs `work` once `delay` of clock time has passed. `owner` (any pointer, may be null)
  // names the request for `cancelPerforms`.
  void performAfter(Duration delay, std::function<void()> work, const void* owner = nullptr);
  // Cancels every delayed request made with `owner` that has not run yet.
  void cancelPerforms(const void* owner) EXCLUDES(mutex_);

  // The loop keeps the timer until it is invalidated.
  void addTimer(const std::shared_ptr<Timer>& timer) EXCLUDES(mutex_);

  // Runs until `stop()`.
  void run();
  // Ends the innermost `run`, `runOnce` or `runFor` of this loop; thread-safe. A stop that
  // arrives while none of them runs ends the next one as soon as it starts.
  void stop() EXCLUDES(mutex_);
  // Handles what is ready, waiting for work until `deadline` (clock time; absent = no limit).
  // True when something was handled, false when the deadline passed or the loop was stopped.
  bool runOnce(std::optional<MonoTime> deadline);
  // Runs until `predicate()` holds (checked after each item of work, and every few
  // milliseconds while idle, so it may watch other threads' state) or `timeout` of real time
  // has passed; true when the predicate held. Under a manual clock, due timers fire but
  // the clock is not moved.
  bool runUntil(const std::function<bool()>& predicate, Duration timeout = seconds(10));
  // Runs for `d` of clock time. Under a manual clock the loop moves the clock itself, from one
  // due timer to the next, once it has nothing ready to run; so a repeating one-second timer
  // fires ten times in `runFor(seconds(10))`.
  void runFor(Duration d);

  // Work queued and timers pending (for tests and diagnostics).
  std::size_t pendingCount() const EXCLUDES(mutex_);

 private:
  friend class Timer;
  enum class WaitResult { Ready, TimedOut, Stopped };
  using RealTime = std::chrono::steady_clock::time_point;

  explicit RunLoop(long ownerThreadId);
  static std::shared_ptr<RunLoop> make(long ownerThreadId);
  void requireOwnThread(const char* operation) const;

  // Fires the due timers, then runs the work queued by then, one item at a time. Returns early
  // once `done` holds, or on a stop when `honorStop`. Counts what it handled.
  std::size_t handleReady(const std::function<bool()>* done, bool honorStop) EXCLUDES(mutex_);
  // Sleeps until something may be ready, `deadline` (clock time) or `realDeadline` passes, or
  // (when `honorStop`) a stop is requested.
  WaitResult waitForWork(std::optional<MonoTime> deadline, std::optional<RealTime> realDeadline,
                         bool honorStop) EXCLUDES(mutex_);
  bool consumeStop() EXCLUDES(mutex_);
  bool readyNow() EXCLUDES(mutex_);
  std::optional<MonoTime> nextFireDate() EXCLUDES(mutex_);
  std::optional<MonoTime> nextFireDateLocked() REQUIRES(mutex_);
  void wake() EXCLUDES(mutex_);

  // Set before start, read-only after.
  const long owner_;
  // Made right after the loop and dropped first in its destructor.
  std::unique_ptr<Clock::WakeToken> clockToken_;

  // Guarded by mutex_.
  mutable Mutex mutex_;
  std::condition_variable cv_;
  std::vector<std::function<void()>> queue_ GUARDED_BY(mutex_);
  bool sleeping_ GUARDED_BY(mutex_) = false;  // the owner waits on cv_
  std::vector<std::shared_ptr<Timer>> timers_ GUARDED_BY(mutex_);
  bool stopPending_ GUARDED_BY(mutex_) = false;
  std::uint64_t wakeCount_ GUARDED_BY(mutex_) = 0;

  // Owner thread only: the posted work a pass took from queue_, oldest first, and its size for
  // pendingCount() on other threads.
  BatchBuffer<std::function<void()>> batch_;
  std::atomic<std::size_t> batchCount_{0};
};

// A timer fires its action on the run loop it was added to, once or repeatedly. A repeating
// timer that falls behind (the clock jumped several intervals) fires once and is rescheduled
// to the next multiple of its interval after now, as the platform's timers do. A fire date past
// the end of the clock stays there: such a timer never fires.
class Timer : public std::enable_shared_from_this<Timer> {
 public:
  using Action = std::function<void(Timer&)>;

  // A timer not yet on any run loop, first firing `interval` from now.
  static std::shared_ptr<Timer> create(Duration interval, bool repeats, Action action);
  // Same, added to the calling thread's run loop.
  static std::shared_ptr<Timer> scheduled(Duration interval, bool repeats, Action action);

  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  // Stops the timer for good and releases its action; safe from any thread, also from inside
  // the action.
  void invalidate() EXCLUDES(mutex_);
  bool isValid() const EXCLUDES(mutex_);
  // Fires the action now; a non-repeating timer is then invalid, a repeating one keeps its
  // schedule.
  void fire() EXCLUDES(mutex_);

  Duration interval() const { return interval_; }
  bool repeats() const { return repeats_; }
  MonoTime fireDate() const EXCLUDES(mutex_);

 private:
  friend class RunLoop;
  // `performOwner` is set for the timers behind `RunLoop::performAfter`, naming their owner
  // for `cancelPerforms`.
  Timer(Duration interval, bool repeats, Action action,
        std::optional<const void*> performOwner = std::nullopt);
  // Takes the action for one firing and moves the schedule on; null when the timer is not due
  // at `now` (or no longer valid).
  std::shared_ptr<Action> takeDueAction(MonoTime now) EXCLUDES(mutex_);
  bool isPerformFor(const void* owner) const EXCLUDES(mutex_);

  // Set before start, read-only after.
  const Duration interval_;
  const bool repeats_;
  const std::optional<const void*> performOwner_;

  // Guarded by mutex_.
  mutable Mutex mutex_;
  std::shared_ptr<Action> action_ GUARDED_BY(mutex_);
  MonoTime fireDate_ GUARDED_BY(mutex_);
  bool valid_ GUARDED_BY(mutex_) = true;
  std::weak_ptr<RunLoop> loop_ GUARDED_BY(mutex_);
};

}  // namespace platform
