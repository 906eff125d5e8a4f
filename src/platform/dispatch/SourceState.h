#pragma once
// Source::State: everything a source is, kept apart from the Source object so that queued
// deliveries, the reactor and timer callbacks can hold it without keeping the Source alive.
//
// A handler is "in flight" from the moment the reactor claims an event until the handler has
// returned; while in flight the source wants no more events, so its handler never runs twice at
// once. The source holds its own Source object (`self_`) while it is resumed and not cancelled,
// and until its cancel handler has run, so it lives on while it can still deliver.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/dispatch/Source.h"

namespace platform::dispatch {

struct Source::State : std::enable_shared_from_this<Source::State> {
  State(Type type, int fd, std::shared_ptr<Queue> queue);

  const Type type;
  const int fd;
  const std::shared_ptr<Queue> queue;

  void setEventHandler(Handler handler);
  void setCancelHandler(Handler handler);
  void setTimer(Duration start, std::optional<Duration> interval);
  void resume(std::shared_ptr<Source> self);
  void suspend();
  void cancel();
  bool isCancelled() const;
  // The Source object is going away without having been cancelled: stop quietly.
  void abandon();
  std::size_t data() const;

  // For the reactor, which calls these under its own mutex.
  bool wantsEvents() const;
  // Marks the handler in flight when the source wants events; true when it did.
  bool claimEvent();
  // Queues the delivery of a claimed event on the target queue.
  void post();

 private:
  bool watchesDescriptor() const { return type != Type::Timer; }
  bool wantsEventsLocked() const;
  bool takeCancelLocked();
  void deliver();
  void finishDelivery();
  void timerFired(std::uint64_t generation);
  void scheduleTimer(MonoTime deadline, std::uint64_t generation);
  void postCancel();
  void runCancel();
  std::size_t measure() const;

  mutable std::mutex mutex_;
  std::shared_ptr<const Handler> event_;
  Handler cancel_;
  long suspendCount_ = 1;  // made suspended
  bool cancelled_ = false;
  bool detached_ = false;  // cancelled and out of the reactor: the cancel handler may run
  bool cancelQueued_ = false;
  bool inFlight_ = false;
  std::size_t data_ = 0;
  std::uint64_t pendingFires_ = 0;
  std::optional<Duration> interval_;
  MonoTime deadline_{};
  std::uint64_t timerGeneration_ = 0;
  std::shared_ptr<Source> self_;
};

}  // namespace platform::dispatch
