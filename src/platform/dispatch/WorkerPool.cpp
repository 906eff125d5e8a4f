#include "platform/dispatch/WorkerPool.h"

#include <sched.h>

#include <algorithm>
#include <chrono>
#include <system_error>
#include <thread>

#include "platform/dispatch/Reactor.h"

namespace platform::dispatch {

namespace {

// Real time, not clock time: these govern threads, not behaviour a test observes.
constexpr auto kIdleRetirement = std::chrono::seconds(10);
constexpr auto kWatchdogPeriod = std::chrono::milliseconds(20);
constexpr std::size_t kMaxThreads = 512;
// How long a worker that ran out of work looks for more before it sleeps. A job submitted
// meanwhile costs no wake-up (a futex call for the submitter and a context switch for the
// worker); one worker at a time spins, so an idle pool burns at most one core for this long.
constexpr auto kSpinBeforeSleep = std::chrono::microseconds(50);

thread_local bool tIsWorker = false;

// The processors this process may run on: a process confined to a few keeps that many busy.
std::size_t usableProcessors() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
    return static_cast<std::size_t>(CPU_COUNT(&set));
  return std::thread::hardware_concurrency();
}

std::size_t lane(Priority p) { return static_cast<std::size_t>(p); }

}  // namespace

WorkerPool& WorkerPool::shared() {
  static WorkerPool* pool = new WorkerPool;
  return *pool;
}

WorkerPool::WorkerPool() : base_(std::max<std::size_t>(4, usableProcessors())), max_(kMaxThreads) {
  std::thread([this] { watchdogMain(); }).detach();
}

bool WorkerPool::isWorkerThread() { return tIsWorker; }

std::size_t WorkerPool::jobsInFlight() const {
  MutexLock lock(mutex_);
  return pending_ + running_;
}

std::size_t WorkerPool::threadCount() const {
  MutexLock lock(mutex_);
  return threads_;
}

void WorkerPool::submit(Priority priority, Job job) {
  bool interruptPoller = false;
  {
    MutexLock lock(mutex_);
    lanes_[lane(priority)].push_back(std::move(job));
    waiting_.store(++pending_, std::memory_order_relaxed);
    if (needsThreadLocked()) spawnLocked();
    // A spinning worker takes the job once it sees it; it looks at pending_ under the lock before
    // it sleeps, so skipping the signal here cannot leave the job waiting.
    if (pending_ > spinning_) workCv_.notify_one();
    if (pending_ == 1) watchdogCv_.notify_one();
    // Polling workers are the last to be called away: one for each job beyond what the spinner,
    // the sleepers and the pollers already called will take.
    const std::size_t sleeping = idle_ - spinning_ - polling_;
    if (polling_ > pollerWakes_ && pending_ > spinning_ + sleeping + pollerWakes_) {
      ++pollerWakes_;
      interruptPoller = true;
    }
  }
  if (interruptPoller) Reactor::shared().interruptWorkerPoll();
}

// More jobs than idle workers to take them, and fewer than `base_` workers able to run.
bool WorkerPool::needsThreadLocked() const {
  return pending_ > idle_ && threads_ - blocked_ < base_ && threads_ < max_;
}

void WorkerPool::spawnLocked() {
  ++threads_;
  try {
    std::thread([this] { workerMain(); }).detach();
  } catch (const std::system_error&) {
    --threads_;  // out of threads: the work waits for a busy worker instead
  }
}

void WorkerPool::workerMain() {
  tIsWorker = true;
  MutexLock lock(mutex_);
  while (true) {
    if (pending_ > 0) {
      auto& lane = *std::find_if(lanes_.begin(), lanes_.end(), [](auto& l) { return !l.empty(); });
      Job job = std::move(lane.front());
      lane.pop_front();
      waiting_.store(--pending_, std::memory_order_relaxed);
      ++taken_;
      ++running_;
      lock.unlock();
      job();
      job = nullptr;  // captured state goes before the lock is taken again
      lock.lock();
      --running_;
      continue;
    }
    ++idle_;
    // Idle workers wait for descriptors' events, up to one per processor; the next looks for
    // jobs briefly, the others sleep.
    if (polling_ < base_ && Reactor::watchesDescriptors()) {
      ++polling_;
      lock.unlock();
      const bool retire = !pollThenRun();
      lock.lock();
      if (retire) return;
      continue;
    }
    if (spinning_ == 0) {
      ++spinning_;
      lock.unlock();
      waitBrieflyForWork();
      lock.lock();
      --spinning_;
      if (pending_ > 0) {
        --idle_;
        continue;
      }
    }
    bool woken = workCv_.wait_for(lock.native(), kIdleRetirement,
                                  [this]() REQUIRES(mutex_) { return pending_ > 0; });
    --idle_;
    if (!woken && threads_ > base_) {
      --threads_;
      return;
    }
  }
}

// Holds a poller role (counted in polling_ and idle_ by the caller) until an event or a job
// comes, and runs the delivery the reactor hands back as a job of its own; then polls again while
// no job waits, without going back through workerMain (the pool's lock twice per event: once
// for the poll's outcome, once for the delivery's end). False when the thread is to retire.
bool WorkerPool::pollThenRun() {
  while (true) {
    bool timedOut = false;
    bool interrupted = false;
    auto delivery = Reactor::shared().pollForWorker(kIdleRetirement, &timedOut, &interrupted);
    {
      MutexLock lock(mutex_);
      --polling_;
      --idle_;
      if (interrupted) --pollerWakes_;
      if (!delivery) {
        if (!timedOut || threads_ <= base_) return true;
        --threads_;
        return false;
      }
      ++taken_;
      ++running_;
    }
    delivery();
    delivery = nullptr;  // as for a job: captured state goes before the lock is taken again
    MutexLock lock(mutex_);
    --running_;
    if (pending_ > 0 || polling_ >= base_ || !Reactor::watchesDescriptors()) return true;
    ++idle_;
    ++polling_;
  }
}

// Watches, without the lock, for a job to be submitted, for a little while at most.
void WorkerPool::waitBrieflyForWork() const {
  const auto until = std::chrono::steady_clock::now() + kSpinBeforeSleep;
  for (int i = 1; waiting_.load(std::memory_order_relaxed) == 0; ++i) {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();  // lets a sibling hyper-thread run meanwhile
#endif
    if (i % 64 == 0 && std::chrono::steady_clock::now() >= until) return;
  }
}

void WorkerPool::watchdogMain() {
  MutexLock lock(mutex_);
  std::uint64_t lastTaken = taken_;
  while (true) {
    watchdogCv_.wait(lock.native(), [this]() REQUIRES(mutex_) { return pending_ > 0; });
    lastTaken = taken_;
    // A full period whatever happens: a stall is judged over the whole of it. The period waits
    // on a condition nobody signals, so submitting work does not wake the watchdog each time.
    periodCv_.wait_until(lock.native(), std::chrono::steady_clock::now() + kWatchdogPeriod,
                         [] { return false; });
    bool stalled = pending_ > 0 && idle_ == 0 && taken_ == lastTaken;
    if (stalled && threads_ < max_) spawnLocked();
  }
}

void WorkerPool::enterBlocking() {
  MutexLock lock(mutex_);
  ++blocked_;
  if (needsThreadLocked()) spawnLocked();
}

void WorkerPool::leaveBlocking() {
  MutexLock lock(mutex_);
  --blocked_;
}

WorkerPool::BlockingScope::BlockingScope() : counted_(tIsWorker) {
  if (counted_) shared().enterBlocking();
}

WorkerPool::BlockingScope::~BlockingScope() {
  if (counted_) shared().leaveBlocking();
}

}  // namespace platform::dispatch
