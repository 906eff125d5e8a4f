#pragma once
// Source::State: everything a source is, kept apart from the Source object so that queued
// deliveries, the reactor and timer callbacks can hold it without keeping the Source alive.
//
// A handler is "in flight" from the moment the reactor claims an event until the handler has
// returned; while in flight the source wants no more events, so its handler never runs twice at
// once. An edge that finds the source busy is recorded on it (under its mutex, where the claim
// is refused), and the handler may say it read or wrote until the descriptor would block. Once
// the handler returns, the source looks at its descriptor itself (a zero-time poll) only when an
// edge was missed or the handler stopped short of "would block": bytes that arrive after the
// handler's last read come with an edge, which either finds the handler still in flight (and is
// recorded) or finds the source free (and is claimed); both are decided under the same mutex
// that ends the flight. The source holds its own Source object (`self_`) while it is resumed and
// not cancelled, and until its cancel handler has run, so it lives on while it can still
// deliver.
//
// A timer keeps one deadline and at most one entry in the reactor's heap: re-arming moves the
// deadline, and an entry that comes due before it schedules itself again for it.

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

#include "platform/dispatch/Source.h"
#include "platform/foundation/Mutex.h"

namespace platform::dispatch {

struct Source::State : std::enable_shared_from_this<Source::State> {
  // Made by its Source only (the key is Source's).
  State(Source::Tag, Type type, int fd, std::shared_ptr<Queue> queue);

  // Set before start, read-only after.
  const Type type;
  const int fd;
  const std::shared_ptr<Queue> queue;

  void setEventHandler(Handler handler) EXCLUDES(mutex_);
  void setCancelHandler(Handler handler) EXCLUDES(mutex_);
  void setTimer(Duration start, std::optional<Duration> interval) EXCLUDES(mutex_);
  void clearTimer() EXCLUDES(mutex_);
  // The delivery in flight read or wrote until the descriptor would block.
  void markDrained() EXCLUDES(mutex_);
  void resume(std::shared_ptr<Source> self) EXCLUDES(mutex_);
  void suspend() EXCLUDES(mutex_);
  void cancel() EXCLUDES(mutex_);
  bool isCancelled() const EXCLUDES(mutex_);
  // The Source object is going away without having been cancelled: stop quietly.
  void abandon() EXCLUDES(mutex_);
  std::size_t data() const EXCLUDES(mutex_);

  // For the reactor, which calls these under its own mutex.
  bool wantsEvents() const EXCLUDES(mutex_);
  // Resumed and not cancelled: its events belong in the registration.
  bool isResumed() const EXCLUDES(mutex_);
  // Whether the kernel reports this source's events (its descriptor registered for them).
  void setEdgeArmed(bool armed) { edgeArmed_.store(armed, std::memory_order_release); }
  // Marks the handler in flight when the source wants events; true when it did. A refused claim
  // of a source not cancelled is remembered as a missed edge, which the end of the delivery in
  // flight (or the next resume) looks at the descriptor for. `ended`: the event says the peer
  // closed or the descriptor failed, which stays true and which a short read does not reveal,
  // so from then on every delivery ends with a look.
  bool claimEvent(bool ended = false) EXCLUDES(mutex_);
  // Queues the delivery of a claimed event on the target queue.
  void post();
  // The same, run on the calling thread (with what it queues) when the target queue is an idle
  // serial queue.
  void postOnCaller();
  // Looks at the descriptor now (a zero-time poll) and delivers when it is ready and the source
  // wants events: how a source hears of readiness whose edge it missed.
  void recheck();

 private:
  bool watchesDescriptor() const { return type != Type::Timer; }
  bool wantsEventsLocked() const REQUIRES(mutex_);
  bool takeCancelLocked() REQUIRES(mutex_);
  void deliver() EXCLUDES(mutex_);
  void finishDelivery() EXCLUDES(mutex_);
  void timerFired(std::uint64_t generation) EXCLUDES(mutex_);
  void scheduleTimer(MonoTime deadline, std::uint64_t generation);
  // The heap entry to schedule for `deadline_` when none waits for an earlier moment: its
  // generation, or none.
  std::optional<std::uint64_t> entryForDeadlineLocked() REQUIRES(mutex_);
  void postCancel();
  void runCancel() EXCLUDES(mutex_);
  std::size_t measure() const;

  // Read sources: whether the descriptor listens (-1 until first asked). Only the delivery in
  // flight touches it.
  mutable std::atomic<int> listening_{-1};
  std::atomic<bool> edgeArmed_{false};

  // Guarded by mutex_.
  mutable Mutex mutex_;
  std::shared_ptr<const Handler> event_ GUARDED_BY(mutex_);
  Handler cancel_ GUARDED_BY(mutex_);
  long suspendCount_ GUARDED_BY(mutex_) = 1;  // made suspended
  bool cancelled_ GUARDED_BY(mutex_) = false;
  // Cancelled and out of the reactor: the cancel handler may run.
  bool detached_ GUARDED_BY(mutex_) = false;
  bool cancelQueued_ GUARDED_BY(mutex_) = false;
  bool inFlight_ GUARDED_BY(mutex_) = false;
  // The delivery in flight reached "would block"; an edge came while the source was busy.
  bool drained_ GUARDED_BY(mutex_) = false;
  bool missedEdge_ GUARDED_BY(mutex_) = false;
  bool ended_ GUARDED_BY(mutex_) = false;
  // What data() answers; for descriptors measured on the first ask in each delivery, since the
  // measure costs a system call that most handlers never need.
  mutable std::size_t data_ GUARDED_BY(mutex_) = 0;
  mutable bool dataKnown_ GUARDED_BY(mutex_) = false;
  std::uint64_t pendingFires_ GUARDED_BY(mutex_) = 0;
  std::optional<Duration> interval_ GUARDED_BY(mutex_);
  // Timers: the deadline while armed, and the one heap entry that may wait (its moment and its
  // generation; entries of older generations are stale and fire nothing).
  MonoTime deadline_ GUARDED_BY(mutex_){};
  bool armed_ GUARDED_BY(mutex_) = false;
  std::optional<MonoTime> entryDeadline_ GUARDED_BY(mutex_);
  std::uint64_t entryGeneration_ GUARDED_BY(mutex_) = 0;
  std::shared_ptr<Source> self_ GUARDED_BY(mutex_);
};

}  // namespace platform::dispatch
