#pragma once
// Source: an event source whose handler runs on a target queue. Read and write sources watch a
// descriptor (through one epoll reactor for the process); timer sources fire from the shared
// Clock (one timer heap in the reactor).
//
// A source is made suspended: set its handlers, then `resume()`. Suspend and resume are counted;
// a suspended source delivers nothing. Read and write sources are level-triggered: while the
// descriptor stays ready the handler runs again, but never twice at once (the descriptor is
// disarmed while its handler is queued or running). Several sources on one descriptor share one
// registration, and every event carries its registration's id, so a descriptor closed and
// reused by a new source never receives a stale event.
//
// `cancel` stops delivery; the cancel handler then runs once on the target queue, after any
// handler in progress, and both handlers are released. A suspended source runs its cancel
// handler only once it is resumed. The descriptor is not closed by the source; that is the
// owner's job, typically in the cancel handler.

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>

#include "platform/dispatch/Queue.h"

namespace platform::dispatch {

class Source : public std::enable_shared_from_this<Source> {
  // Sources hold themselves while they can deliver, so they are made only through the
  // factories below (a pass-key keeps `make_shared`'s single allocation).
  class Tag {
    Tag() = default;
    friend class Source;
  };

 public:
  enum class Type { Read, Write, Timer };
  using Handler = std::function<void()>;

  static std::shared_ptr<Source> makeRead(int fd, std::shared_ptr<Queue> queue);
  static std::shared_ptr<Source> makeWrite(int fd, std::shared_ptr<Queue> queue);
  static std::shared_ptr<Source> makeTimer(std::shared_ptr<Queue> queue);

  Source(Tag, Type type, int fd, std::shared_ptr<Queue> queue);
  ~Source();

  Type type() const { return type_; }
  int fd() const { return fd_; }

  void setEventHandler(Handler handler);
  void setCancelHandler(Handler handler);

  // Timers: first fire `start` from now (clock time), then every `interval`; no interval fires
  // once. Calling it again re-arms the timer from now. Re-arming moves the timer's deadline and
  // costs no allocation: a fire already waiting in the reactor's heap for an earlier moment
  // finds the deadline moved and waits again for it, so at most one waits per timer.
  void setTimer(Duration start, std::optional<Duration> interval, Duration leeway = {});
  // Timers: fires nothing until `setTimer` arms it again; fires not yet delivered are dropped.
  // The source stays resumed, so one timer serves many time-outs in turn.
  void clearTimer();

  void resume();
  void suspend();
  void cancel();
  bool isCancelled() const;

  // Inside the event handler: bytes readable (read; for a listening socket the connections
  // waiting to be accepted, at least 1), an estimate of free room (write, at least 1), or the
  // number of fires merged into this call (timer).
  std::size_t data() const;

  // Inside the event handler of a read or write source: the handler read (or wrote) until the
  // descriptor would block (EAGAIN, or a short read or write on a stream), so the source need
  // not look at the descriptor when the handler returns; readiness from then on comes as a new
  // edge, which the source records even while its handler is still in flight.
  void markDrained();

  struct State;

 private:
  static std::shared_ptr<Source> make(Type type, int fd, std::shared_ptr<Queue> queue);

  // Set before start, read-only after.
  const Type type_;
  const int fd_;
  std::shared_ptr<State> state_;
};

}  // namespace platform::dispatch
