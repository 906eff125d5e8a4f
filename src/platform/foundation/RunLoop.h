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
//
// Modes: work, timers and descriptor sources are scheduled in a set of named modes and fire only
// while the loop runs in one of them; a run call names its mode and defaults to
// `kDefaultRunLoopMode`, which is also where everything is scheduled when no mode is given. Work
// held back by its mode keeps its place in the queue until a run in a matching mode takes it.
//
// Descriptor sources (`RunLoopSource`): a loop with sources scheduled in its current mode waits
// with poll(2) on their descriptors together with its own wake-up, and calls a source's
// callback on its own thread while the descriptor is ready for what the source asks for
// (level-triggered: a source that does not want to hear again until it acted must lower its
// interest).

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Mutex.h"

namespace platform {

class Timer;
class RunLoopSource;

// The mode everything is scheduled in and every run call runs in unless told otherwise.
inline constexpr const char* kDefaultRunLoopMode = "kCFRunLoopDefaultMode";
using RunLoopModes = std::vector<std::string>;

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

  // Queues `work` to run on this loop, after the work already queued; `modes` (the default
  // mode when not given) are the modes in which it may run.
  void perform(std::function<void()> work) EXCLUDES(mutex_);
  void perform(std::function<void()> work, const RunLoopModes& modes) EXCLUDES(mutex_);
  // Runs `work` on this loop and returns when it has run; inline when called on the loop's
  // own thread. No code of ours calls it yet: it is the run-loop side of handing work to a
  // thread and waiting for it, which the analytics thread's callers will need.
  void performAndWait(const std::function<void()>& work);
  // Runs `work` once `delay` of clock time has passed. `owner` (any pointer, may be null)
  // names the request for `cancelPerforms`.
  void performAfter(Duration delay, std::function<void()> work, const void* owner = nullptr);
  void performAfter(Duration delay, std::function<void()> work, const void* owner,
                    const RunLoopModes& modes);
  // Cancels every delayed request made with `owner` that has not run yet.
  void cancelPerforms(const void* owner) EXCLUDES(mutex_);

  // The loop keeps the timer until it is invalidated or removed from its last mode. Adding a
  // timer again adds `mode` to the modes it fires in.
  void addTimer(const std::shared_ptr<Timer>& timer) EXCLUDES(mutex_);
  void addTimer(const std::shared_ptr<Timer>& timer, const std::string& mode) EXCLUDES(mutex_);
  // Takes the timer out of `mode`; the timer stays valid (it may be added again).
  void removeTimer(const std::shared_ptr<Timer>& timer, const std::string& mode) EXCLUDES(mutex_);

  // Schedules a descriptor source in `mode` (adding it again adds a mode); the loop holds it
  // until it is removed from its last mode or invalidated.
  void addSource(const std::shared_ptr<RunLoopSource>& source,
                 const std::string& mode = kDefaultRunLoopMode) EXCLUDES(mutex_);
  void removeSource(const std::shared_ptr<RunLoopSource>& source,
                    const std::string& mode = kDefaultRunLoopMode) EXCLUDES(mutex_);
  // Whether the source is scheduled here in `mode`.
  bool containsSource(const std::shared_ptr<RunLoopSource>& source, const std::string& mode) const
      EXCLUDES(mutex_);
  // Makes a sleeping loop look at its sources again (after a source changed its interest from
  // another thread).
  void wakeUp() EXCLUDES(mutex_) { wake(); }

  // The mode of the innermost run call in progress, or the default mode when none runs. Only on
  // the loop's own thread.
  const std::string& currentMode() const { return currentMode_; }

  // Runs until `stop()`.
  void run();
  // Ends the innermost `run`, `runOnce` or `runFor` of this loop; thread-safe. A stop that
  // arrives while none of them runs ends the next one as soon as it starts.
  void stop() EXCLUDES(mutex_);
  // Handles what is ready, waiting for work until `deadline` (clock time; absent = no limit).
  // True when something was handled, false when the deadline passed or the loop was stopped.
  bool runOnce(std::optional<MonoTime> deadline);
  bool runOnce(std::optional<MonoTime> deadline, const std::string& mode);
  // Runs until `predicate()` holds (checked after each item of work, and every few
  // milliseconds while idle, so it may watch other threads' state) or `timeout` of real time
  // has passed; true when the predicate held. Under a manual clock, due timers fire but
  // the clock is not moved.
  bool runUntil(const std::function<bool()>& predicate, Duration timeout = seconds(10));
  bool runUntil(const std::function<bool()>& predicate, Duration timeout, const std::string& mode);
  // Runs for `d` of clock time. Under a manual clock the loop moves the clock itself, from one
  // due timer to the next, once it has nothing ready to run; so a repeating one-second timer
  // fires ten times in `runFor(seconds(10))`.
  void runFor(Duration d);
  void runFor(Duration d, const std::string& mode);
  // The same in the default mode, but under a manual clock the loop moves the clock only while
  // `quiet()` holds: before each move it runs in real time until it does (handling what is
  // posted meanwhile at the clock time it had), for at most `patience` of real time over the
  // whole call, after which the clock moves regardless. Work that goes on in real time (a
  // transfer, a job on a worker thread) then meets the clock at the same point on every run,
  // however quick the machine. Under the system clock `quiet` is never asked.
  void runFor(Duration d, const std::function<bool()>& quiet, Duration patience);

  // Work queued and timers pending (for tests and diagnostics).
  std::size_t pendingCount() const EXCLUDES(mutex_);

 private:
  friend class Timer;
  enum class WaitResult { Ready, TimedOut, Stopped };
  using RealTime = std::chrono::steady_clock::time_point;
  // Work posted without modes keeps `modes` empty, meaning the default mode, so the common post
  // allocates nothing beyond its function.
  struct QueuedWork {
    std::function<void()> work;
    RunLoopModes modes;
    std::uint64_t sequence;
  };
  enum class SourceWait { NoSources, SourceReady, Waited };
  struct ScheduledTimer {
    std::shared_ptr<Timer> timer;
    RunLoopModes modes;
  };
  struct ScheduledSource {
    std::shared_ptr<RunLoopSource> source;
    RunLoopModes modes;
  };
  // Sets the current mode for one run call and puts the previous one back.
  class ModeScope {
   public:
    ModeScope(RunLoop& loop, const std::string& mode)
        : loop_(loop), saved_(std::exchange(loop.currentMode_, mode)) {}
    ~ModeScope() { loop_.currentMode_ = std::move(saved_); }
    ModeScope(const ModeScope&) = delete;
    ModeScope& operator=(const ModeScope&) = delete;

   private:
    RunLoop& loop_;
    std::string saved_;
  };

  explicit RunLoop(long ownerThreadId);
  static std::shared_ptr<RunLoop> make(long ownerThreadId);
  void requireOwnThread(const char* operation) const;

  // Both `runFor`s; `quiet` may be null (the clock moves whenever nothing is ready).
  void moveClockFor(Duration d, const std::string& mode, const std::function<bool()>* quiet,
                    Duration patience);
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
  bool hasWorkLocked() const REQUIRES(mutex_);
  // The sources of the current mode that are ready now (a poll that does not wait).
  std::vector<std::pair<std::shared_ptr<RunLoopSource>, unsigned>> readySources() EXCLUDES(mutex_);
  std::size_t fireReadySources(const std::function<bool()>& finished) EXCLUDES(mutex_);
  // Waits in poll(2) on the current mode's sources and the wake-up descriptor, letting go of
  // the mutex meanwhile.
  SourceWait waitOnSources(std::optional<Duration> sleep) REQUIRES(mutex_);
  void wake() EXCLUDES(mutex_);
  void signalLocked() REQUIRES(mutex_);
  bool inMode(const RunLoopModes& modes) const;
  bool inMode(const QueuedWork& work) const;

  // Set before start, read-only after.
  const long owner_;
  // Made right after the loop and dropped first in its destructor.
  std::unique_ptr<Clock::WakeToken> clockToken_;
  // An eventfd that wakes a loop waiting in poll(2); made by the owner, under mutex_, the first
  // time the loop waits on descriptors, and read by signallers under mutex_.
  int wakeFd_ = -1;

  // Owned by the loop's thread.
  std::string currentMode_ = kDefaultRunLoopMode;

  // Guarded by mutex_.
  mutable Mutex mutex_;
  std::condition_variable cv_;
  std::deque<QueuedWork> queue_ GUARDED_BY(mutex_);
  bool sleeping_ GUARDED_BY(mutex_) = false;  // the owner waits on cv_
  std::vector<ScheduledTimer> timers_ GUARDED_BY(mutex_);
  std::vector<ScheduledSource> sources_ GUARDED_BY(mutex_);
  bool polling_ GUARDED_BY(mutex_) = false;
  std::uint64_t nextSequence_ GUARDED_BY(mutex_) = 0;
  bool stopPending_ GUARDED_BY(mutex_) = false;
  std::uint64_t wakeCount_ GUARDED_BY(mutex_) = 0;

  // Owner thread only: posted work a pass took from queue_ in one go, older than anything still
  // in queue_, in posting order; and its size for pendingCount() on other threads.
  std::deque<QueuedWork> batch_;
  std::atomic<std::size_t> batchCount_{0};
};

// A descriptor watched by the run loops it is scheduled on: the callback runs on the loop's
// thread with `kReadable` and/or `kWritable` while the descriptor is ready for what `interest`
// asks (an error or hang-up counts as both, so the owner's next read or write sees it). The
// source never closes the descriptor. Interest and invalidation are thread-safe; a change made
// from another thread is seen at the loop's next pass (call `RunLoop::wakeUp` to hurry it).
class RunLoopSource {
 public:
  static constexpr unsigned kReadable = 1;
  static constexpr unsigned kWritable = 2;
  using Callback = std::function<void(unsigned events)>;

  static std::shared_ptr<RunLoopSource> create(int descriptor, unsigned interest,
                                               Callback callback);
  RunLoopSource(const RunLoopSource&) = delete;
  RunLoopSource& operator=(const RunLoopSource&) = delete;

  int descriptor() const { return descriptor_; }
  unsigned interest() const EXCLUDES(mutex_);
  void setInterest(unsigned events) EXCLUDES(mutex_);
  void enable(unsigned events) EXCLUDES(mutex_);
  void disable(unsigned events) EXCLUDES(mutex_);
  // No more callbacks, from any loop; releases the callback.
  void invalidate() EXCLUDES(mutex_);
  bool isValid() const EXCLUDES(mutex_);

 private:
  friend class RunLoop;
  RunLoopSource(int descriptor, unsigned interest, Callback callback);
  // Runs the callback for `events` that are still of interest.
  void deliver(unsigned events) EXCLUDES(mutex_);

  // Set before start, read-only after.
  const int descriptor_;

  // Guarded by mutex_.
  mutable Mutex mutex_;
  unsigned interest_ GUARDED_BY(mutex_);
  std::shared_ptr<Callback> callback_ GUARDED_BY(mutex_);
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
