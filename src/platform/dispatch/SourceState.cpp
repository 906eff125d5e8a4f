#include "platform/dispatch/SourceState.h"

#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

#include "platform/dispatch/Reactor.h"
#include "platform/dispatch/SerialQueue.h"
#include "platform/foundation/Assert.h"

namespace platform::dispatch {

namespace {

bool isListening(int fd) {
  int accepting = 0;
  socklen_t len = sizeof accepting;
  return getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &accepting, &len) == 0 && accepting;
}

// A listening socket is readable when connections wait; TCP tells how many.
std::size_t waitingConnections(int fd) {
  tcp_info info{};
  socklen_t length = sizeof info;
  if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) == 0 && info.tcpi_unacked > 0) {
    return info.tcpi_unacked;
  }
  return 1;
}

std::size_t readableBytes(int fd) {
  int n = 0;
  if (ioctl(fd, FIONREAD, &n) != 0 || n < 0) return 0;
  return static_cast<std::size_t>(n);
}

// Free room in the send buffer of a socket, or in a pipe; at least 1, since the descriptor was
// reported writable.
std::size_t writableRoom(int fd) {
  long room = 0;
  int queued = 0;
  int capacity = 0;
  socklen_t len = sizeof capacity;
  if (ioctl(fd, SIOCOUTQ, &queued) == 0 &&
      getsockopt(fd, SOL_SOCKET, SO_SNDBUF, &capacity, &len) == 0) {
    room = static_cast<long>(capacity) - queued;
  } else if (int size = fcntl(fd, F_GETPIPE_SZ); size > 0 && ioctl(fd, FIONREAD, &queued) == 0) {
    room = static_cast<long>(size) - queued;
  }
  return static_cast<std::size_t>(std::max(1L, room));
}

}  // namespace

Source::State::State(Source::Tag, Type type, int fd, std::shared_ptr<Queue> queue)
    : type(type), fd(fd), queue(std::move(queue)) {}

void Source::State::setEventHandler(Handler handler) {
  auto shared = handler ? std::make_shared<const Handler>(std::move(handler)) : nullptr;
  MutexLock lock(mutex_);
  if (cancelled_) return;  // cancelled handlers are released for good
  event_.swap(shared);     // the old handler goes after the lock is released
}

void Source::State::setCancelHandler(Handler handler) {
  MutexLock lock(mutex_);
  if (cancelled_ && cancelQueued_) return;
  cancel_.swap(handler);
}

bool Source::State::isCancelled() const {
  MutexLock lock(mutex_);
  return cancelled_;
}

std::size_t Source::State::data() const {
  MutexLock lock(mutex_);
  if (!dataKnown_) {
    data_ = measure();
    dataKnown_ = true;
  }
  return data_;
}

bool Source::State::wantsEventsLocked() const {
  return !cancelled_ && suspendCount_ == 0 && !inFlight_;
}

bool Source::State::wantsEvents() const {
  MutexLock lock(mutex_);
  return wantsEventsLocked();
}

bool Source::State::isResumed() const {
  MutexLock lock(mutex_);
  return !cancelled_ && suspendCount_ == 0;
}

bool Source::State::claimEvent(bool ended) {
  MutexLock lock(mutex_);
  if (ended) ended_ = true;
  if (!wantsEventsLocked()) {
    // Busy or suspended: the delivery in flight, or the resume, must look at the descriptor.
    if (!cancelled_) missedEdge_ = true;
    return false;
  }
  inFlight_ = true;
  return true;
}

void Source::State::markDrained() {
  MutexLock lock(mutex_);
  drained_ = true;
}

void Source::State::post() {
  queue->async([self = shared_from_this()] { self->deliver(); });
}

void Source::State::postOnCaller() {
  auto delivery = [self = shared_from_this()] { self->deliver(); };
  if (queue->kind() == Queue::Kind::Serial) {
    static_cast<SerialQueue&>(*queue).asyncOnCaller(std::move(delivery));
  } else {
    queue->async(std::move(delivery));
  }
}

void Source::State::recheck() {
  pollfd watched{
      fd, static_cast<short>(type == Type::Read ? POLLIN | POLLPRI | POLLRDHUP : POLLOUT), 0};
  int ready;
  do {
    ready = ::poll(&watched, 1, 0);
  } while (ready < 0 && errno == EINTR);
  if (ready <= 0 || (watched.revents & POLLNVAL)) return;
  if (claimEvent((watched.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0)) post();
}

// True, once, when the cancel handler is due: cancelled, resumed, nothing in flight.
bool Source::State::takeCancelLocked() {
  if (!cancelled_ || !detached_ || suspendCount_ > 0 || inFlight_ || cancelQueued_) return false;
  cancelQueued_ = true;
  return true;
}

void Source::State::postCancel() {
  queue->async([self = shared_from_this()] { self->runCancel(); });
}

void Source::State::runCancel() {
  Handler cancel;
  std::shared_ptr<const Handler> event;
  std::shared_ptr<Source> self;
  {
    MutexLock lock(mutex_);
    cancel.swap(cancel_);
    event.swap(event_);
    self.swap(self_);
  }
  if (cancel) cancel();
  // `event`, `cancel` and `self` go here, outside the lock: they may hold the last reference to
  // whatever they capture, the source itself included.
}

void Source::State::resume(std::shared_ptr<Source> self) {
  bool runCancel = false;
  bool postTimer = false;
  {
    MutexLock lock(mutex_);
    assertThat(suspendCount_ > 0, "dispatch: source resumed more often than suspended");
    if (--suspendCount_ > 0) return;
    if (cancelled_) {
      runCancel = takeCancelLocked();
    } else {
      self_.swap(self);
      if (!watchesDescriptor() && pendingFires_ > 0 && !inFlight_) {
        inFlight_ = true;
        postTimer = true;
      }
    }
  }
  if (runCancel) postCancel();
  if (postTimer) post();
  if (!runCancel && watchesDescriptor()) Reactor::shared().refresh(this);
}

void Source::State::suspend() {
  std::shared_ptr<Source> self;
  {
    MutexLock lock(mutex_);
    if (++suspendCount_ == 1) self.swap(self_);
  }
  // A source nobody else holds goes away here, as a suspended, unreferenced source should.
}

// The registration goes before the cancel handler may run: that handler typically closes the
// descriptor, and a number closed and reused must not still be in the epoll set for us.
void Source::State::cancel() {
  {
    MutexLock lock(mutex_);
    if (cancelled_) return;
    cancelled_ = true;
    armed_ = false;
  }
  if (watchesDescriptor()) Reactor::shared().detach(this);
  bool runCancel = false;
  {
    MutexLock lock(mutex_);
    detached_ = true;
    runCancel = takeCancelLocked();
  }
  if (runCancel) postCancel();
}

void Source::State::abandon() {
  Handler cancel;
  std::shared_ptr<const Handler> event;
  {
    MutexLock lock(mutex_);
    if (cancelled_) return;
    cancelled_ = true;
    cancelQueued_ = true;
    armed_ = false;
    cancel.swap(cancel_);
    event.swap(event_);
  }
  if (watchesDescriptor()) Reactor::shared().detach(this);
}

std::size_t Source::State::measure() const {
  switch (type) {
    case Type::Read: {
      // Asked once, at the first event: a descriptor does not start or stop listening while a
      // source watches it, and the question costs a system call on every event.
      int listening = listening_.load(std::memory_order_relaxed);
      if (listening < 0) {
        listening = isListening(fd) ? 1 : 0;
        listening_.store(listening, std::memory_order_relaxed);
      }
      return listening ? waitingConnections(fd) : readableBytes(fd);
    }
    case Type::Write:
      return writableRoom(fd);
    case Type::Timer:
      break;
  }
  return 0;
}

void Source::State::deliver() {
  std::shared_ptr<const Handler> handler;
  bool cancelNow = false;
  {
    MutexLock lock(mutex_);
    if (cancelled_ || suspendCount_ > 0) {
      // Suspended: resuming arms the source again. Cancelled: the cancel handler may be due.
      inFlight_ = false;
      cancelNow = takeCancelLocked();
      if (!cancelNow) return;
    } else {
      if (type == Type::Timer) {
        data_ = static_cast<std::size_t>(pendingFires_);
        dataKnown_ = true;
        pendingFires_ = 0;
        if (data_ > 0) handler = event_;
      } else {
        dataKnown_ = false;  // measured when the handler asks
        // What came before now, the handler's own reads see.
        drained_ = false;
        missedEdge_ = false;
        handler = event_;
      }
    }
  }
  if (cancelNow) {
    runCancel();
    return;
  }
  if (handler) (*handler)();
  handler.reset();
  finishDelivery();
}

// After a handler: run the cancel handler if a cancel came meanwhile, deliver timer fires that
// came meanwhile, or arm the descriptor again.
void Source::State::finishDelivery() {
  bool cancelNow = false;
  bool again = false;
  bool rearm = false;
  bool lookAgain = false;
  {
    MutexLock lock(mutex_);
    inFlight_ = false;
    if (cancelled_) {
      cancelNow = takeCancelLocked();
    } else if (suspendCount_ == 0) {
      if (watchesDescriptor()) {
        rearm = true;
        // From here on an edge claims the source itself; one that came during the flight, or
        // bytes the handler may have left, need a look.
        lookAgain = missedEdge_ || !drained_ || ended_;
      } else if (pendingFires_ > 0) {
        inFlight_ = true;
        again = true;
      }
    }
    drained_ = false;
    missedEdge_ = false;
  }
  if (cancelNow) runCancel();
  if (again) post();
  if (rearm) {
    // Registered already: the descriptor itself says whether it is still ready, without the
    // reactor's lock. Otherwise the reactor registers it first.
    if (edgeArmed_.load(std::memory_order_acquire)) {
      if (lookAgain) recheck();
    } else {
      Reactor::shared().refresh(this);
    }
  }
}

void Source::State::setTimer(Duration start, std::optional<Duration> interval) {
  MonoTime deadline;
  std::optional<std::uint64_t> entry;
  {
    MutexLock lock(mutex_);
    if (cancelled_ || watchesDescriptor()) return;
    // A repeating timer needs a positive interval; anything else fires once.
    interval_ = interval && *interval > Duration::zero() ? interval : std::nullopt;
    deadline_ = Clock::shared()->monotonicNow() + std::max(start, Duration::zero());
    deadline = deadline_;
    armed_ = true;
    pendingFires_ = 0;
    entry = entryForDeadlineLocked();
  }
  if (entry) scheduleTimer(deadline, *entry);
}

void Source::State::clearTimer() {
  MutexLock lock(mutex_);
  if (watchesDescriptor()) return;
  // The entry in the heap stays and finds nothing armed; a later setTimer may use it.
  armed_ = false;
  pendingFires_ = 0;
}

// An entry already waiting for no later than the deadline will move on to it when it comes due.
std::optional<std::uint64_t> Source::State::entryForDeadlineLocked() {
  if (entryDeadline_ && *entryDeadline_ <= deadline_) return std::nullopt;
  entryDeadline_ = deadline_;
  return ++entryGeneration_;
}

void Source::State::scheduleTimer(MonoTime deadline, std::uint64_t generation) {
  std::weak_ptr<State> weak = weak_from_this();
  // Owned by the state: a cancelled source's time-outs leave the heap once the state has gone.
  Reactor::shared().schedule(
      deadline,
      [weak, generation] {
        if (auto state = weak.lock()) state->timerFired(generation);
      },
      std::weak_ptr<const void>(weak));
}

// On the reactor thread. Fires missed while the clock jumped are merged into one delivery, and
// the next deadline stays on the timer's original grid.
void Source::State::timerFired(std::uint64_t generation) {
  std::optional<std::uint64_t> entry;
  MonoTime next;
  bool postNow = false;
  {
    MutexLock lock(mutex_);
    if (generation != entryGeneration_) return;  // an earlier re-arm scheduled another entry
    entryDeadline_.reset();
    if (cancelled_ || !armed_) return;
    auto now = Clock::shared()->monotonicNow();
    if (now < deadline_) {
      // Re-armed later since this entry was scheduled: wait again, for the deadline now.
      entry = entryForDeadlineLocked();
      next = deadline_;
    } else {
      std::uint64_t fires = 1;
      if (interval_) {
        if (now > deadline_) fires += static_cast<std::uint64_t>((now - deadline_) / *interval_);
        deadline_ += *interval_ * static_cast<std::int64_t>(fires);
        entry = entryForDeadlineLocked();
        next = deadline_;
      } else {
        armed_ = false;
      }
      pendingFires_ += fires;
      if (suspendCount_ == 0 && !inFlight_) {
        inFlight_ = true;
        postNow = true;
      }
    }
  }
  if (entry) scheduleTimer(next, *entry);
  if (postNow) post();
}

}  // namespace platform::dispatch
