#include "platform/foundation/RunLoop.h"

#include <unistd.h>

#include <algorithm>
#include <exception>
#include <utility>

#include "platform/foundation/Assert.h"
#include "platform/foundation/Thread.h"

namespace platform {

namespace {

std::optional<MonoTime> earliest(std::optional<MonoTime> a, std::optional<MonoTime> b) {
  if (!a) return b;
  if (!b) return a;
  return std::min(*a, *b);
}

}  // namespace

RunLoop::RunLoop(long ownerThreadId) : owner_(ownerThreadId) {}

std::shared_ptr<RunLoop> RunLoop::make(long ownerThreadId) {
  std::shared_ptr<RunLoop> loop(new RunLoop(ownerThreadId));
  // Moving a manual clock (or swapping the shared clock) changes when timers are due, so a
  // sleeping loop must look again. The listener is gone before the loop is (see ~RunLoop).
  RunLoop* raw = loop.get();
  loop->clockToken_ = Clock::addWakeListener([raw] { raw->wake(); });
  return loop;
}

RunLoop::~RunLoop() {
  // Unregistering waits for a wake call in progress, so none can reach a dead loop.
  clockToken_.reset();
}

std::shared_ptr<RunLoop> RunLoop::main() {
  // Never destroyed: threads that outlive static destruction may still post to it.
  static auto* loop = new std::shared_ptr<RunLoop>(make(static_cast<long>(getpid())));
  return *loop;
}

std::shared_ptr<RunLoop> RunLoop::current() {
  if (isMainThread()) return main();
  thread_local std::shared_ptr<RunLoop> loop = make(Thread::currentId());
  return loop;
}

bool RunLoop::isMainThread() { return Thread::isMainThread(); }

bool RunLoop::isCurrent() const { return Thread::currentId() == owner_; }

void RunLoop::requireOwnThread(const char* operation) const {
  assertThat(isCurrent(), std::string("RunLoop::") + operation +
                              " called from a thread that does not own the run loop");
}

void RunLoop::wake() {
  MutexLock lock(mutex_);
  ++wakeCount_;
  cv_.notify_all();
}

void RunLoop::perform(std::function<void()> work) {
  if (!work) return;
  MutexLock lock(mutex_);
  queue_.push_back(std::move(work));
  // A loop that is running takes the work in its next pass: only a sleeping one needs waking.
  if (sleeping_) cv_.notify_all();
}

void RunLoop::performAndWait(const std::function<void()>& work) {
  if (!work) return;
  if (isCurrent()) {
    work();
    return;
  }
  // Shared with the work, which may still be letting go of it after the waiter has returned.
  struct Completion {
    Mutex mutex_;
    std::condition_variable cv_;
    bool done_ GUARDED_BY(mutex_) = false;
    std::exception_ptr error_ GUARDED_BY(mutex_);
  };
  auto completion = std::make_shared<Completion>();
  perform([completion, &work] {
    std::exception_ptr error;
    try {
      work();
    } catch (...) {
      error = std::current_exception();
    }
    MutexLock lock(completion->mutex_);
    completion->done_ = true;
    completion->error_ = error;
    completion->cv_.notify_all();
  });
  std::exception_ptr error;
  {
    MutexLock lock(completion->mutex_);
    completion->cv_.wait(lock.native(),
                         [&]() REQUIRES(completion->mutex_) { return completion->done_; });
    error = completion->error_;
  }
  if (error) std::rethrow_exception(error);
}

void RunLoop::performAfter(Duration delay, std::function<void()> work, const void* owner) {
  if (!work) return;
  if (delay < Duration::zero()) delay = Duration::zero();
  std::shared_ptr<Timer> timer(new Timer(
      delay, false, [work = std::move(work)](Timer&) { work(); }, owner));
  addTimer(timer);
}

void RunLoop::cancelPerforms(const void* owner) {
  std::vector<std::shared_ptr<Timer>> cancelled;
  {
    MutexLock lock(mutex_);
    for (auto& timer : timers_) {
      if (timer->isPerformFor(owner)) cancelled.push_back(timer);
    }
  }
  // Invalidating releases the work, whose destructors may post to this loop: no lock held.
  for (auto& timer : cancelled) timer->invalidate();
}

void RunLoop::addTimer(const std::shared_ptr<Timer>& timer) {
  if (!timer) return;
  {
    MutexLock lock(timer->mutex_);
    if (!timer->valid_) return;
    timer->loop_ = weak_from_this();
  }
  MutexLock lock(mutex_);
  if (std::find(timers_.begin(), timers_.end(), timer) == timers_.end()) timers_.push_back(timer);
  ++wakeCount_;
  cv_.notify_all();
}

void RunLoop::stop() {
  MutexLock lock(mutex_);
  stopPending_ = true;
  ++wakeCount_;
  cv_.notify_all();
}

bool RunLoop::consumeStop() {
  MutexLock lock(mutex_);
  return std::exchange(stopPending_, false);
}

std::optional<MonoTime> RunLoop::nextFireDateLocked() {
  // Invalid timers hold no action any more, so dropping them here runs no user code.
  std::erase_if(timers_, [](const std::shared_ptr<Timer>& t) { return !t->isValid(); });
  std::optional<MonoTime> next;
  for (auto& timer : timers_) next = earliest(next, timer->fireDate());
  return next;
}

std::optional<MonoTime> RunLoop::nextFireDate() {
  MutexLock lock(mutex_);
  return nextFireDateLocked();
}

bool RunLoop::readyNow() {
  MutexLock lock(mutex_);
  if (!queue_.empty() || !batch_.empty()) return true;
  auto next = nextFireDateLocked();
  return next && *next <= Clock::shared()->monotonicNow();
}

std::size_t RunLoop::handleReady(const std::function<bool()>* done, bool honorStop) {
  std::size_t handled = 0;
  auto finished = [&] {
    if (done && (*done)()) return true;
    if (!honorStop) return false;
    MutexLock lock(mutex_);
    return stopPending_;
  };

  // Timers first, earliest fire date first (ties in the order they were added).
  MonoTime now = Clock::shared()->monotonicNow();
  std::vector<std::shared_ptr<Timer>> due;
  {
    MutexLock lock(mutex_);
    for (auto& timer : timers_) {
      if (timer->isValid() && timer->fireDate() <= now) due.push_back(timer);
    }
  }
  std::stable_sort(due.begin(), due.end(),
                   [](const auto& a, const auto& b) { return a->fireDate() < b->fireDate(); });
  for (auto& timer : due) {
    // An earlier action may have invalidated or moved this one.
    auto action = timer->takeDueAction(now);
    if (!action) continue;
    struct EndOneShot {
      Timer& timer;
      ~EndOneShot() {
        if (!timer.repeats()) timer.invalidate();
      }
    } endOneShot{*timer};
    if (*action) (*action)(*timer);
    ++handled;
    if (finished()) return handled;
  }

  // Then the work queued so far; work it posts runs in the next pass, after the timers due then.
  // The pass takes the queue in one go, so posting threads meet the loop on the mutex once per
  // pass rather than once per item. What a nested pass or an exception leaves of the batch runs
  // first in the next pass.
  std::size_t count;
  {
    MutexLock lock(mutex_);
    batch_.refill(queue_);
    count = batch_.size();
    batchCount_.store(count, std::memory_order_relaxed);
  }
  for (std::size_t i = 0; i < count && !batch_.empty(); ++i) {
    std::function<void()> work = batch_.take();
    batchCount_.store(batch_.size(), std::memory_order_relaxed);
    work();
    ++handled;
    if (finished()) return handled;
  }
  return handled;
}

RunLoop::WaitResult RunLoop::waitForWork(std::optional<MonoTime> deadline,
                                         std::optional<RealTime> realDeadline, bool honorStop) {
  // The batch is the loop's own: nothing adds to it while the loop waits.
  if (!batch_.empty()) return WaitResult::Ready;
  MutexLock lock(mutex_);
  while (true) {
    if (!queue_.empty()) return WaitResult::Ready;
    if (honorStop && stopPending_) return WaitResult::Stopped;
    // The clock is read under our mutex and its wake listener takes that mutex, so a move of
    // the clock after this reading wakes the wait below.
    auto clock = Clock::shared();
    MonoTime now = clock->monotonicNow();
    auto next = nextFireDateLocked();
    if (next && *next <= now) return WaitResult::Ready;
    if (deadline && now >= *deadline) return WaitResult::TimedOut;
    RealTime realNow = std::chrono::steady_clock::now();
    if (realDeadline && realNow >= *realDeadline) return WaitResult::TimedOut;

    auto target = earliest(next, deadline);
    std::optional<Duration> sleep;
    if (target) sleep = clock->sleepDuration(*target);
    if (sleep) sleep = std::min(*sleep, kLongestSleep);
    if (realDeadline) {
      Duration left = *realDeadline - realNow;
      sleep = sleep ? std::min(*sleep, left) : left;
    }
    std::uint64_t seen = wakeCount_;
    auto woken = [&]() REQUIRES(mutex_) {
      return wakeCount_ != seen || !queue_.empty() || (honorStop && stopPending_);
    };
    sleeping_ = true;
    if (sleep) {
      cv_.wait_for(lock.native(), *sleep, woken);
    } else {
      cv_.wait(lock.native(), woken);
    }
    sleeping_ = false;
  }
}

void RunLoop::run() {
  requireOwnThread("run");
  while (true) {
    handleReady(nullptr, true);
    if (consumeStop()) return;
    if (waitForWork(std::nullopt, std::nullopt, true) == WaitResult::Stopped) {
      consumeStop();
      return;
    }
  }
}

bool RunLoop::runOnce(std::optional<MonoTime> deadline) {
  requireOwnThread("runOnce");
  while (true) {
    if (consumeStop()) return false;
    std::size_t handled = handleReady(nullptr, true);
    if (handled > 0) {
      // A stop asked for by what ran was meant for this call, which is ending anyway.
      consumeStop();
      return true;
    }
    if (waitForWork(deadline, std::nullopt, true) != WaitResult::Ready) {
      consumeStop();
      return false;
    }
  }
}

bool RunLoop::runUntil(const std::function<bool()>& predicate, Duration timeout) {
  requireOwnThread("runUntil");
  // The predicate may watch state that other threads change without posting here, so the wait
  // is cut into short slices to look at it again.
  constexpr auto kRecheck = std::chrono::milliseconds(2);
  RealTime realDeadline =
      std::chrono::steady_clock::now() + std::chrono::duration_cast<RealTime::duration>(timeout);
  while (true) {
    if (predicate()) return true;
    handleReady(&predicate, false);
    if (predicate()) return true;
    RealTime realNow = std::chrono::steady_clock::now();
    if (realNow >= realDeadline) return false;
    // A stop is left pending for the run call it was meant for.
    waitForWork(std::nullopt, std::min(realDeadline, realNow + kRecheck), false);
  }
}

void RunLoop::runFor(Duration d) {
  requireOwnThread("runFor");
  const MonoTime end = saturatingAdd(Clock::shared()->monotonicNow(), d);
  while (true) {
    bool past = Clock::shared()->monotonicNow() >= end;
    handleReady(nullptr, true);
    if (consumeStop() || past) return;

    auto clock = Clock::shared();
    if (auto manual = std::dynamic_pointer_cast<ManualClock>(clock)) {
      if (readyNow()) continue;
      // Nothing ready: move time to the next timer, or to the end.
      auto next = nextFireDate();
      MonoTime target = next && *next < end ? *next : end;
      manual->advance(target - manual->monotonicNow());
      continue;
    }
    if (waitForWork(end, std::nullopt, true) == WaitResult::Stopped) {
      consumeStop();
      return;
    }
  }
}

std::size_t RunLoop::pendingCount() const {
  MutexLock lock(mutex_);
  std::size_t valid = std::count_if(timers_.begin(), timers_.end(),
                                    [](const std::shared_ptr<Timer>& t) { return t->isValid(); });
  return queue_.size() + batchCount_.load(std::memory_order_relaxed) + valid;
}

}  // namespace platform
