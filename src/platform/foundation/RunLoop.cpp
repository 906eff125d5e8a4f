#include "platform/foundation/RunLoop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <iterator>
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

bool contains(const RunLoopModes& modes, const std::string& mode) {
  return std::find(modes.begin(), modes.end(), mode) != modes.end();
}

void addMode(RunLoopModes& modes, const std::string& mode) {
  if (!contains(modes, mode)) modes.push_back(mode);
}

// What poll(2) reported, as source events: an error or hang-up is both readable and writable,
// so whoever reads or writes next learns of it.
unsigned eventsOf(short revents) {
  unsigned events = 0;
  if (revents & (POLLIN | POLLERR | POLLHUP)) events |= RunLoopSource::kReadable;
  if (revents & (POLLOUT | POLLERR | POLLHUP)) events |= RunLoopSource::kWritable;
  return events;
}

// How often a run that waits on a predicate looks at it again while nothing is posted: it may
// watch state other threads change without posting here.
constexpr auto kRecheck = std::chrono::milliseconds(2);

short pollMask(unsigned interest) {
  short mask = 0;
  if (interest & RunLoopSource::kReadable) mask |= POLLIN;
  if (interest & RunLoopSource::kWritable) mask |= POLLOUT;
  return mask;
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
  if (wakeFd_ >= 0) ::close(wakeFd_);
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
  signalLocked();
}

void RunLoop::signalLocked() {
  // A loop that is running sees the change in its next pass: only a sleeping one needs waking.
  if (sleeping_) cv_.notify_all();
  if (polling_ && wakeFd_ >= 0) {
    std::uint64_t one = 1;
    // A full counter already wakes the poll, so a failed write loses nothing.
    [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
  }
}

bool RunLoop::inMode(const RunLoopModes& modes) const { return contains(modes, currentMode_); }

bool RunLoop::inMode(const QueuedWork& work) const {
  return work.modes.empty() ? currentMode_ == kDefaultRunLoopMode : inMode(work.modes);
}

void RunLoop::perform(std::function<void()> work) {
  if (!work) return;
  MutexLock lock(mutex_);
  queue_.push_back(QueuedWork{std::move(work), {}, nextSequence_++});
  signalLocked();
}

void RunLoop::perform(std::function<void()> work, const RunLoopModes& modes) {
  if (!work || modes.empty()) return;
  MutexLock lock(mutex_);
  queue_.push_back(QueuedWork{std::move(work), modes, nextSequence_++});
  signalLocked();
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
  performAfter(delay, std::move(work), owner, RunLoopModes{kDefaultRunLoopMode});
}

void RunLoop::performAfter(Duration delay, std::function<void()> work, const void* owner,
                           const RunLoopModes& modes) {
  if (!work || modes.empty()) return;
  if (delay < Duration::zero()) delay = Duration::zero();
  std::shared_ptr<Timer> timer(new Timer(
      delay, false, [work = std::move(work)](Timer&) { work(); }, owner));
  for (const auto& mode : modes) addTimer(timer, mode);
}

void RunLoop::cancelPerforms(const void* owner) {
  std::vector<std::shared_ptr<Timer>> cancelled;
  {
    MutexLock lock(mutex_);
    for (auto& entry : timers_) {
      if (entry.timer->isPerformFor(owner)) cancelled.push_back(entry.timer);
    }
  }
  // Invalidating releases the work, whose destructors may post to this loop: no lock held.
  for (auto& timer : cancelled) timer->invalidate();
}

void RunLoop::addTimer(const std::shared_ptr<Timer>& timer) {
  addTimer(timer, kDefaultRunLoopMode);
}

void RunLoop::addTimer(const std::shared_ptr<Timer>& timer, const std::string& mode) {
  if (!timer) return;
  {
    MutexLock lock(timer->mutex_);
    if (!timer->valid_) return;
    timer->loop_ = weak_from_this();
  }
  MutexLock lock(mutex_);
  auto it = std::find_if(timers_.begin(), timers_.end(),
                         [&](const ScheduledTimer& t) { return t.timer == timer; });
  if (it == timers_.end()) {
    timers_.push_back(ScheduledTimer{timer, {mode}});
  } else {
    addMode(it->modes, mode);
  }
  ++wakeCount_;
  signalLocked();
}

void RunLoop::removeTimer(const std::shared_ptr<Timer>& timer, const std::string& mode) {
  MutexLock lock(mutex_);
  auto it = std::find_if(timers_.begin(), timers_.end(),
                         [&](const ScheduledTimer& t) { return t.timer == timer; });
  if (it == timers_.end()) return;
  std::erase(it->modes, mode);
  if (it->modes.empty()) timers_.erase(it);
}

void RunLoop::addSource(const std::shared_ptr<RunLoopSource>& source, const std::string& mode) {
  if (!source) return;
  MutexLock lock(mutex_);
  auto it = std::find_if(sources_.begin(), sources_.end(),
                         [&](const ScheduledSource& s) { return s.source == source; });
  if (it == sources_.end()) {
    sources_.push_back(ScheduledSource{source, {mode}});
  } else {
    addMode(it->modes, mode);
  }
  ++wakeCount_;
  signalLocked();
}

void RunLoop::removeSource(const std::shared_ptr<RunLoopSource>& source, const std::string& mode) {
  MutexLock lock(mutex_);
  auto it = std::find_if(sources_.begin(), sources_.end(),
                         [&](const ScheduledSource& s) { return s.source == source; });
  if (it == sources_.end()) return;
  std::erase(it->modes, mode);
  if (it->modes.empty()) sources_.erase(it);
}

bool RunLoop::containsSource(const std::shared_ptr<RunLoopSource>& source,
                             const std::string& mode) const {
  MutexLock lock(mutex_);
  return std::any_of(sources_.begin(), sources_.end(), [&](const ScheduledSource& s) {
    return s.source == source && contains(s.modes, mode);
  });
}

void RunLoop::stop() {
  MutexLock lock(mutex_);
  stopPending_ = true;
  ++wakeCount_;
  signalLocked();
}

bool RunLoop::consumeStop() {
  MutexLock lock(mutex_);
  return std::exchange(stopPending_, false);
}

std::optional<MonoTime> RunLoop::nextFireDateLocked() {
  // Invalid timers hold no action any more, so dropping them here runs no user code.
  std::erase_if(timers_, [](const ScheduledTimer& t) { return !t.timer->isValid(); });
  std::optional<MonoTime> next;
  for (auto& entry : timers_) {
    if (inMode(entry.modes)) next = earliest(next, entry.timer->fireDate());
  }
  return next;
}

bool RunLoop::hasWorkLocked() const {
  auto ready = [&](const QueuedWork& w) { return inMode(w); };
  // batch_ is the owner's, and only the owner asks.
  return std::any_of(batch_.begin(), batch_.end(), ready) ||
         std::any_of(queue_.begin(), queue_.end(), ready);
}

std::vector<std::pair<std::shared_ptr<RunLoopSource>, unsigned>> RunLoop::readySources() {
  std::vector<std::shared_ptr<RunLoopSource>> watched;
  std::vector<pollfd> fds;
  {
    MutexLock lock(mutex_);
    std::erase_if(sources_, [](const ScheduledSource& s) { return !s.source->isValid(); });
    for (auto& entry : sources_) {
      short mask = pollMask(entry.source->interest());
      if (!inMode(entry.modes) || mask == 0) continue;
      watched.push_back(entry.source);
      fds.push_back(pollfd{entry.source->descriptor(), mask, 0});
    }
  }
  std::vector<std::pair<std::shared_ptr<RunLoopSource>, unsigned>> ready;
  if (fds.empty()) return ready;
  if (::poll(fds.data(), fds.size(), 0) <= 0) return ready;
  for (std::size_t i = 0; i < fds.size(); ++i) {
    // A descriptor closed under its source reports POLLNVAL: nothing to deliver.
    if (fds[i].revents & POLLNVAL) continue;
    unsigned events = eventsOf(fds[i].revents);
    if (events != 0) ready.emplace_back(watched[i], events);
  }
  return ready;
}

std::size_t RunLoop::fireReadySources(const std::function<bool()>& finished) {
  std::size_t handled = 0;
  for (auto& [source, events] : readySources()) {
    // An earlier callback may have removed this source from the loop or lowered its interest.
    if (!containsSource(source, currentMode_)) continue;
    source->deliver(events);
    ++handled;
    if (finished()) break;
  }
  return handled;
}

std::optional<MonoTime> RunLoop::nextFireDate() {
  MutexLock lock(mutex_);
  return nextFireDateLocked();
}

bool RunLoop::readyNow() {
  {
    MutexLock lock(mutex_);
    if (hasWorkLocked()) return true;
    auto next = nextFireDateLocked();
    if (next && *next <= Clock::shared()->monotonicNow()) return true;
  }
  return !readySources().empty();
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
    for (auto& entry : timers_) {
      if (inMode(entry.modes) && entry.timer->isValid() && entry.timer->fireDate() <= now) {
        due.push_back(entry.timer);
      }
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

  // Then the descriptors that are ready.
  handled += fireReadySources(finished);
  if (finished()) return handled;

  // Then the work of this mode queued so far; work it posts runs in the next pass, after the
  // timers due then. Work of other modes keeps its place. The pass takes the queue in one go, so
  // posting threads meet the loop on the mutex once per pass rather than once per item; what a
  // nested pass or an exception leaves of the batch stays ahead of later posts.
  std::uint64_t limit;
  {
    MutexLock lock(mutex_);
    limit = nextSequence_;
    if (batch_.empty()) {
      batch_.swap(queue_);
    } else {
      std::move(queue_.begin(), queue_.end(), std::back_inserter(batch_));
      queue_.clear();
    }
    batchCount_.store(batch_.size(), std::memory_order_relaxed);
  }
  while (true) {
    auto it = std::find_if(batch_.begin(), batch_.end(),
                           [&](const QueuedWork& w) { return w.sequence < limit && inMode(w); });
    if (it == batch_.end()) break;
    std::function<void()> work = std::move(it->work);
    batch_.erase(it);
    batchCount_.store(batch_.size(), std::memory_order_relaxed);
    work();
    ++handled;
    if (finished()) return handled;
  }
  return handled;
}

RunLoop::WaitResult RunLoop::waitForWork(std::optional<MonoTime> deadline,
                                         std::optional<RealTime> realDeadline, bool honorStop) {
  MutexLock lock(mutex_);
  while (true) {
    if (hasWorkLocked()) return WaitResult::Ready;
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
      return wakeCount_ != seen || hasWorkLocked() || (honorStop && stopPending_);
    };
    SourceWait sources = waitOnSources(sleep);
    if (sources == SourceWait::SourceReady) return WaitResult::Ready;
    if (sources == SourceWait::Waited) continue;
    sleeping_ = true;
    if (sleep) {
      cv_.wait_for(lock.native(), *sleep, woken);
    } else {
      cv_.wait(lock.native(), woken);
    }
    sleeping_ = false;
  }
}

RunLoop::SourceWait RunLoop::waitOnSources(std::optional<Duration> sleep) {
  std::vector<pollfd> fds;
  std::erase_if(sources_, [](const ScheduledSource& s) { return !s.source->isValid(); });
  for (auto& entry : sources_) {
    short mask = pollMask(entry.source->interest());
    if (inMode(entry.modes) && mask != 0)
      fds.push_back(pollfd{entry.source->descriptor(), mask, 0});
  }
  if (fds.empty()) return SourceWait::NoSources;
  // Made the first time the loop has descriptors to wait on: a loop that never has any (most
  // threads' loops) holds no descriptor of its own.
  if (wakeFd_ < 0) wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wakeFd_ < 0) return SourceWait::NoSources;
  fds.push_back(pollfd{wakeFd_, POLLIN, 0});
  int timeoutMs = -1;
  if (sleep) {
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(*sleep).count();
    timeoutMs = static_cast<int>(std::clamp<long long>(ms, 0, 24 * 3600 * 1000));
  }
  // Signals from now on write the wake-up descriptor, so none is lost while unlocked.
  polling_ = true;
  mutex_.unlock();
  int n = ::poll(fds.data(), fds.size(), timeoutMs);
  std::uint64_t drained;
  while (::read(wakeFd_, &drained, sizeof drained) > 0) {
  }
  mutex_.lock();
  polling_ = false;
  if (n <= 0) return SourceWait::Waited;
  for (std::size_t i = 0; i + 1 < fds.size(); ++i) {
    if (fds[i].revents != 0 && !(fds[i].revents & POLLNVAL)) return SourceWait::SourceReady;
  }
  return SourceWait::Waited;
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
  return runOnce(deadline, kDefaultRunLoopMode);
}

bool RunLoop::runOnce(std::optional<MonoTime> deadline, const std::string& mode) {
  requireOwnThread("runOnce");
  ModeScope scope(*this, mode);
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
  return runUntil(predicate, timeout, kDefaultRunLoopMode);
}

bool RunLoop::runUntil(const std::function<bool()>& predicate, Duration timeout,
                       const std::string& mode) {
  requireOwnThread("runUntil");
  ModeScope scope(*this, mode);
  // The predicate may watch state that other threads change without posting here, so the wait
  // is cut into short slices (kRecheck) to look at it again.
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

void RunLoop::runFor(Duration d) { runFor(d, kDefaultRunLoopMode); }

void RunLoop::runFor(Duration d, const std::string& mode) {
  requireOwnThread("runFor");
  moveClockFor(d, mode, nullptr, Duration::zero());
}

void RunLoop::runFor(Duration d, const std::function<bool()>& quiet, Duration patience) {
  requireOwnThread("runFor");
  moveClockFor(d, kDefaultRunLoopMode, &quiet, patience);
}

void RunLoop::moveClockFor(Duration d, const std::string& mode, const std::function<bool()>* quiet,
                           Duration patience) {
  ModeScope scope(*this, mode);
  const MonoTime end = saturatingAdd(Clock::shared()->monotonicNow(), d);
  const RealTime patienceEnd =
      std::chrono::steady_clock::now() + std::chrono::duration_cast<RealTime::duration>(patience);
  while (true) {
    bool past = Clock::shared()->monotonicNow() >= end;
    handleReady(nullptr, true);
    if (consumeStop() || past) return;

    auto clock = Clock::shared();
    if (auto manual = std::dynamic_pointer_cast<ManualClock>(clock)) {
      RealTime realNow = std::chrono::steady_clock::now();
      if (quiet && realNow < patienceEnd && !(*quiet)()) {
        // Something goes on in real time: let it arrive, at this clock time, before moving on.
        if (waitForWork(std::nullopt, std::min(patienceEnd, realNow + kRecheck), true) ==
            WaitResult::Stopped) {
          consumeStop();
          return;
        }
        continue;
      }
      // Looked at after `quiet`, so what real-time work posted before it ended runs first.
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
                                    [](const ScheduledTimer& t) { return t.timer->isValid(); });
  return queue_.size() + batchCount_.load(std::memory_order_relaxed) + valid;
}

std::shared_ptr<RunLoopSource> RunLoopSource::create(int descriptor, unsigned interest,
                                                     Callback callback) {
  return std::shared_ptr<RunLoopSource>(
      new RunLoopSource(descriptor, interest, std::move(callback)));
}

RunLoopSource::RunLoopSource(int descriptor, unsigned interest, Callback callback)
    : descriptor_(descriptor),
      interest_(interest),
      callback_(std::make_shared<Callback>(std::move(callback))) {}

unsigned RunLoopSource::interest() const {
  MutexLock lock(mutex_);
  return callback_ ? interest_ : 0;
}

void RunLoopSource::setInterest(unsigned events) {
  MutexLock lock(mutex_);
  interest_ = events;
}

void RunLoopSource::enable(unsigned events) {
  MutexLock lock(mutex_);
  interest_ |= events;
}

void RunLoopSource::disable(unsigned events) {
  MutexLock lock(mutex_);
  interest_ &= ~events;
}

void RunLoopSource::invalidate() {
  std::shared_ptr<Callback> released;
  {
    MutexLock lock(mutex_);
    released = std::move(callback_);
  }
  // The callback's captures go here, unlocked: they may call back into the source.
}

bool RunLoopSource::isValid() const {
  MutexLock lock(mutex_);
  return callback_ != nullptr;
}

void RunLoopSource::deliver(unsigned events) {
  std::shared_ptr<Callback> callback;
  {
    MutexLock lock(mutex_);
    events &= interest_;
    callback = callback_;
  }
  if (callback && events != 0 && *callback) (*callback)(events);
}

}  // namespace platform
