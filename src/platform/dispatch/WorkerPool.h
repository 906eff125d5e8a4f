#pragma once
// WorkerPool: the one elastic pool of threads under every queue but the main queue. Jobs wait in
// four FIFO lanes, one per priority; a free worker takes the oldest job of the highest lane.
//
// The pool keeps a base number of threads busy and grows past it when work would otherwise
// starve: at once when a worker announces that it blocks (BlockingScope, used by semaphores,
// groups and `sync`), and through a watchdog that adds a thread when queued work has made no
// progress for a short while (a worker blocked somewhere we cannot see). Threads above the base
// count retire after staying idle for a while. A worker that runs out of work looks for more for
// a few tens of microseconds before it sleeps (one at a time), so work handed over at a steady
// pace costs no wake-up. While the process watches descriptors, idle workers, up to one per
// processor the process may use, wait for their events in the reactor's stead
// (Reactor::pollForWorker), run the first delivery themselves and then poll again.

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>

#include "platform/dispatch/Queue.h"
#include "platform/foundation/Mutex.h"

namespace platform::dispatch {

class WorkerPool {
 public:
  using Job = std::function<void()>;

  // The process's pool; made on first use and never destroyed (workers may outlive statics).
  static WorkerPool& shared();

  void submit(Priority priority, Job job) EXCLUDES(mutex_);

  // Marks the calling thread, when it is a worker, as blocked for the scope's life, so queued
  // work gets another thread instead of waiting behind it.
  class BlockingScope {
   public:
    BlockingScope();
    ~BlockingScope();
    BlockingScope(const BlockingScope&) = delete;
    BlockingScope& operator=(const BlockingScope&) = delete;

   private:
    bool counted_;
  };

  // True when submitted jobs wait for a worker: a drain job that could go on running hands its
  // worker over instead. Read without the lock, so only a hint.
  bool hasWaitingJobs() const { return waiting_.load(std::memory_order_relaxed) > 0; }

  // Jobs submitted and not yet finished: waiting for a worker or running (blocked ones too).
  std::size_t jobsInFlight() const EXCLUDES(mutex_);

  // Live worker threads (diagnostics and tests).
  std::size_t threadCount() const EXCLUDES(mutex_);
  // True on one of the pool's worker threads.
  static bool isWorkerThread();

 private:
  WorkerPool();
  void workerMain() EXCLUDES(mutex_);
  void waitBrieflyForWork() const EXCLUDES(mutex_);
  bool pollThenRun() EXCLUDES(mutex_);
  void watchdogMain() EXCLUDES(mutex_);
  bool needsThreadLocked() const REQUIRES(mutex_);
  void spawnLocked() REQUIRES(mutex_);
  void enterBlocking() EXCLUDES(mutex_);
  void leaveBlocking() EXCLUDES(mutex_);

  // Set before start, read-only after.
  const std::size_t base_;
  const std::size_t max_;

  // Guarded by mutex_.
  mutable Mutex mutex_;
  std::condition_variable workCv_;
  std::condition_variable watchdogCv_;
  std::condition_variable periodCv_;  // never signalled: the watchdog's timed sleep
  std::array<std::deque<Job>, 4> lanes_ GUARDED_BY(mutex_);
  std::size_t pending_ GUARDED_BY(mutex_) = 0;
  // pending_, mirrored for hasWaitingJobs().
  std::atomic<std::size_t> waiting_{0};
  std::size_t running_ GUARDED_BY(mutex_) = 0;
  std::size_t threads_ GUARDED_BY(mutex_) = 0;
  std::size_t idle_ GUARDED_BY(mutex_) = 0;  // spinning ones included
  // Idle workers looking for work before they sleep (at most one): a submit needs to wake a
  // sleeper only for jobs beyond what they will take.
  std::size_t spinning_ GUARDED_BY(mutex_) = 0;
  // Idle workers waiting for descriptors' events (at most base_), and the wake-ups submits have
  // sent them that no poller has taken yet.
  std::size_t polling_ GUARDED_BY(mutex_) = 0;
  std::size_t pollerWakes_ GUARDED_BY(mutex_) = 0;
  std::size_t blocked_ GUARDED_BY(mutex_) = 0;
  // Jobs started so far: the watchdog's measure of progress.
  std::uint64_t taken_ GUARDED_BY(mutex_) = 0;
};

}  // namespace platform::dispatch
