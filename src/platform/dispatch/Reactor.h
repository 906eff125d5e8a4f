#pragma once
// Reactor: the thread that keeps the timer heap and watches descriptors (epoll) for the whole
// process, the latter while no idle worker watches them in its stead (below). Read and write
// sources on one descriptor share one registration; every epoll event carries the registration's
// id, so an event harvested for a registration that has since gone (its descriptor closed and the
// number reused) finds nothing and is dropped.
//
// Descriptors are registered edge-triggered, once, for the events their resumed sources watch,
// and stay registered: no event re-arms anything. An edge is delivered to each source that wants
// events (resumed, not cancelled, no handler queued or running); a source busy with a handler
// records the edge it missed, and looks at the descriptor itself (a zero-time poll) when its
// handler returns (unless the handler read or wrote to "would block" and no edge was missed) and
// when it is resumed, so a descriptor still ready fires again: level-triggered delivery without
// a handler ever running twice at once, without a system call under the reactor's mutex per
// event, and without a hung-up descriptor spinning the loop.
//
// The reactor thread is not the only one to wait for descriptors: idle pool workers wait for
// them too (pollForWorker), several at once, each on the descriptors' set itself, so the kernel
// hands each event to one of them. While any worker polls the reactor thread waits for its timers
// and wake-ups alone, so each event wakes one thread; a worker takes a few events at a time, runs
// the first one's delivery itself when its queue is idle, and stops counting as a poller before
// it does, so a handler that blocks never keeps other descriptors' events waiting.
//
// Timers are kept in clock time: the loop sleeps as long as the shared Clock says and is woken
// when a manual clock moves. Timer callbacks run on the reactor thread and must be short.
//
// Lock order: the reactor's mutex is taken before a source's, never after.

#include <sys/epoll.h>
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include "platform/dispatch/Source.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Mutex.h"

namespace platform::dispatch {

class Reactor {
 public:
  // The process's reactor; its thread starts on first use and runs for the life of the process.
  static Reactor& shared();

  // Runs `fire` on the reactor thread once the shared clock reaches `deadline`. A timer given an
  // `owner` is dropped unfired once that owner is gone, so cancelled time-outs (and the memory
  // their owners' weak references keep) do not stay in the heap until their deadlines.
  void schedule(MonoTime deadline, std::function<void()> fire,
                std::optional<std::weak_ptr<const void>> owner = std::nullopt) EXCLUDES(mutex_);
  // Timers waiting in the heap, those whose owner has gone and not yet been dropped included
  // (diagnostics and tests).
  std::size_t timerCount() EXCLUDES(mutex_);

  // Read and write sources: join the registration of the source's descriptor (made when the
  // descriptor has none, or when the one it has belongs to a file since closed), leave it, and,
  // for a source just resumed, register what it watches and look at whether it is ready now.
  void attach(const std::shared_ptr<Source::State>& source) EXCLUDES(mutex_);
  void detach(const Source::State* source) EXCLUDES(mutex_);
  void refresh(Source::State* source) EXCLUDES(mutex_);

  // True once the reactor exists and watches at least one descriptor: then an idle worker may
  // poll (without making the reactor in a process that has no descriptors).
  static bool watchesDescriptors();
  // For an idle pool worker: waits up to `timeout` for events, or until interruptWorkerPoll.
  // Deliveries are queued as the reactor thread queues them, except those for the first event's
  // queue, which come back to run on the caller (null when there are none; `timedOut` tells
  // whether the wait ran out, `interrupted` whether this worker took an interruption). The
  // caller no longer counts as polling on return.
  std::function<void()> pollForWorker(std::chrono::milliseconds timeout, bool* timedOut,
                                      bool* interrupted) EXCLUDES(mutex_);
  // Ends one worker's wait in pollForWorker (work has come for it), now or, when none waits, the
  // next worker's that polls.
  void interruptWorkerPoll();
  // True while workers poll and the reactor thread does not watch the descriptors (diagnostics
  // and tests).
  bool workerPolls() const { return workerPolls_.load(std::memory_order_acquire); }

 private:
  struct Registration;
  struct TimerEntry;

  Reactor();
  void run() EXCLUDES(mutex_);
  void runDueTimers(std::optional<MonoTime>& next) EXCLUDES(mutex_);
  // Takes the descriptors' events waiting now (without blocking) and claims their sources.
  void harvest(std::vector<std::shared_ptr<Source::State>>& ready) EXCLUDES(mutex_);
  void claimLocked(const epoll_event* events, std::size_t count,
                   std::vector<std::shared_ptr<Source::State>>& ready) REQUIRES(mutex_);
  void nestDescriptors(bool nested) REQUIRES(nestingMutex_);
  void syncNesting() EXCLUDES(nestingMutex_);
  std::vector<std::shared_ptr<Source::State>> updateLocked(Registration& reg, bool* reported)
      REQUIRES(mutex_);
  void markArmedLocked(Registration& reg) REQUIRES(mutex_);
  Registration* registrationOfLocked(const Source::State* source) REQUIRES(mutex_);
  void removeLocked(Registration& reg) REQUIRES(mutex_);
  // Drops the timers whose owner has gone; run when the heap has doubled since the last time, so
  // the cost per timer stays constant.
  void dropOrphanedTimersLocked() REQUIRES(mutex_);
  void wake();

  // The reactor thread's own: the sources a batch of events claimed.
  std::vector<std::shared_ptr<Source::State>> ready_;

  // Set before start, read-only after. `epoll_` holds the descriptors and the polling workers'
  // wake descriptor, and the polling workers wait on it; the reactor thread waits on `loopEpoll_`
  // (its wake descriptor, and `epoll_` while no worker polls).
  int epoll_ = -1;
  int wakeFd_ = -1;
  int loopEpoll_ = -1;
  int workerWakeFd_ = -1;

  // Read without the lock. The reactor once made; registrations made and not yet removed; and
  // whether a worker holds the poller role.
  static std::atomic<Reactor*> started_;
  std::atomic<std::size_t> descriptorCount_{0};
  std::atomic<bool> workerPolls_{false};
  // Workers in pollForWorker; and, guarded by nestingMutex_, whether `epoll_` is in the reactor
  // thread's set (it is while that count is zero).
  std::atomic<int> workerPollers_{0};
  Mutex nestingMutex_;
  bool nested_ GUARDED_BY(nestingMutex_) = true;
  std::unique_ptr<Clock::WakeToken> clockToken_;

  // Guarded by mutex_ (the registrations' own fields too).
  Mutex mutex_;
  std::uint64_t nextId_ GUARDED_BY(mutex_) = 1;
  std::unordered_map<std::uint64_t, std::unique_ptr<Registration>> registrations_
      GUARDED_BY(mutex_);
  std::unordered_map<int, Registration*> byFd_ GUARDED_BY(mutex_);
  std::unordered_map<const Source::State*, Registration*> bySource_ GUARDED_BY(mutex_);
  std::vector<TimerEntry> timers_ GUARDED_BY(mutex_);  // a min-heap on (deadline, sequence)
  std::uint64_t timerSequence_ GUARDED_BY(mutex_) = 0;
  std::size_t dropOrphansAt_ GUARDED_BY(mutex_) = 1024;
};

}  // namespace platform::dispatch
