#include "platform/dispatch/Reactor.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <thread>

#include "platform/dispatch/SourceState.h"

namespace platform::dispatch {

namespace {
// Ids in the reactor thread's waiting set. In the descriptors' set events carry registration
// ids, which start at 1, and kWakeId marks the polling workers' wake descriptor.
constexpr std::uint64_t kWakeId = 0;
constexpr std::uint64_t kDescriptorsId = 1;
constexpr int kMaxEvents = 256;
// Events one polling worker takes at a time: the others are left for the other pollers.
constexpr int kWorkerBatch = 4;

void addToSet(int set, int fd, std::uint64_t id) {
  epoll_event ev{};
  ev.events = EPOLLIN;  // level-triggered: the wake counter and a set that still has events
  ev.data.u64 = id;
  epoll_ctl(set, EPOLL_CTL_ADD, fd, &ev);
}

// True when a wake-up was taken: two pollers may both see one that only one of them gets.
bool clearWake(int eventFd) {
  std::uint64_t count;
  return ::read(eventFd, &count, sizeof count) == static_cast<ssize_t>(sizeof count);
}

// What a source of `type` watches, in the registration and in a delivered event.
// EPOLLRDHUP: the peer's end arrives as an edge of its own, which a handler's short read cannot
// see and the source must remember.
std::uint32_t watchedEvents(Source::Type type) {
  return type == Source::Type::Read ? EPOLLIN | EPOLLPRI | EPOLLRDHUP : EPOLLOUT;
}
std::uint32_t deliveredEvents(Source::Type type) {
  return watchedEvents(type) | EPOLLHUP | EPOLLERR;
}
}  // namespace

struct Reactor::Registration {
  std::uint64_t id = 0;
  int fd = -1;
  dev_t device = 0;  // which file the descriptor named when the registration was made
  ino_t inode = 0;
  std::vector<std::shared_ptr<Source::State>> sources;
  bool added = false;            // in the epoll set
  std::uint32_t registered = 0;  // the events it is registered for (grows only)
  bool pollable = true;          // false for regular files, which epoll refuses: always ready
  bool orphan = false;           // its descriptor now names another file: never touched again
};

struct Reactor::TimerEntry {
  MonoTime deadline;
  std::uint64_t sequence;
  std::function<void()> fire;
  std::optional<std::weak_ptr<const void>> owner;  // absent: fires whatever happens
  // std::push_heap keeps the largest first; the earliest deadline must be first.
  bool operator<(const TimerEntry& other) const {
    if (deadline != other.deadline) return deadline > other.deadline;
    return sequence > other.sequence;
  }
};

std::atomic<Reactor*> Reactor::started_{nullptr};

Reactor& Reactor::shared() {
  static Reactor* reactor = new Reactor;  // never destroyed: its thread runs to the end
  return *reactor;
}

Reactor::Reactor() {
  epoll_ = epoll_create1(EPOLL_CLOEXEC);
  loopEpoll_ = epoll_create1(EPOLL_CLOEXEC);
  wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  // Counted: one read takes one wake-up, so each wakes one polling worker.
  workerWakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK | EFD_SEMAPHORE);
  if (epoll_ < 0 || loopEpoll_ < 0 || wakeFd_ < 0 || workerWakeFd_ < 0)
    throw std::runtime_error("dispatch: cannot set up epoll");
  addToSet(loopEpoll_, wakeFd_, kWakeId);
  epoll_event nested{};
  nested.events = EPOLLIN | EPOLLET;
  nested.data.u64 = kDescriptorsId;
  epoll_ctl(loopEpoll_, EPOLL_CTL_ADD, epoll_, &nested);
  addToSet(epoll_, workerWakeFd_, kWakeId);
  clockToken_ = Clock::addWakeListener([this] { wake(); });
  std::thread([this] { run(); }).detach();
  started_.store(this, std::memory_order_release);
}

void Reactor::wake() {
  std::uint64_t one = 1;
  [[maybe_unused]] auto n = ::write(wakeFd_, &one, sizeof one);
}

void Reactor::schedule(MonoTime deadline, std::function<void()> fire,
                       std::optional<std::weak_ptr<const void>> owner) {
  bool earliest = false;
  {
    MutexLock lock(mutex_);
    if (timers_.size() >= dropOrphansAt_) dropOrphanedTimersLocked();
    timers_.push_back(TimerEntry{deadline, timerSequence_++, std::move(fire), std::move(owner)});
    std::push_heap(timers_.begin(), timers_.end());
    earliest = timers_.front().sequence == timerSequence_ - 1;
  }
  if (earliest) wake();
}

void Reactor::dropOrphanedTimersLocked() {
  std::erase_if(timers_, [](const TimerEntry& t) { return t.owner && t.owner->expired(); });
  std::make_heap(timers_.begin(), timers_.end());
  dropOrphansAt_ = std::max<std::size_t>(1024, 2 * timers_.size());
}

std::size_t Reactor::timerCount() {
  MutexLock lock(mutex_);
  return timers_.size();
}

void Reactor::run() {
  epoll_event waited[2];
  while (true) {
    std::optional<MonoTime> next;
    runDueTimers(next);
    int timeoutMs = -1;
    if (next) {
      if (auto sleep = Clock::shared()->sleepDuration(*next)) {
        auto ms = std::chrono::ceil<std::chrono::milliseconds>(*sleep).count();
        timeoutMs = static_cast<int>(std::min<long long>(ms, INT_MAX));
      }
    }
    int n = epoll_wait(loopEpoll_, waited, 2, timeoutMs);
    for (int i = 0; i < n; ++i) {
      if (waited[i].data.u64 == kWakeId) {
        clearWake(wakeFd_);
      } else {
        ready_.clear();
        harvest(ready_);
        for (auto& source : ready_) source->post();
        ready_.clear();
      }
    }
  }
}

// The reactor thread hears of the descriptors' set by its edges, so it takes all there is.
void Reactor::harvest(std::vector<std::shared_ptr<Source::State>>& ready) {
  epoll_event events[kMaxEvents];
  while (true) {
    int n = epoll_wait(epoll_, events, kMaxEvents, 0);
    if (n <= 0) return;  // a worker harvested them first
    {
      MutexLock lock(mutex_);
      claimLocked(events, static_cast<std::size_t>(n), ready);
    }
    if (n < kMaxEvents) return;
  }
}

// The reactor thread watches the descriptors whenever no worker does; switching them off in its
// set while workers poll is what spares it the wake-up of every event. Nested edge-triggered: it
// is woken for each new event, never again for one a worker left waiting (its own wake-up, say).
// Switched with EPOLL_CTL_MOD rather than taken out and put back: adding one epoll set to another
// makes the kernel walk the nesting for loops, tens of microseconds each time, and switching on
// again reports events already waiting.
void Reactor::nestDescriptors(bool nested) {
  epoll_event ev{};
  ev.events = nested ? EPOLLIN | EPOLLET : 0;
  ev.data.u64 = kDescriptorsId;
  epoll_ctl(loopEpoll_, EPOLL_CTL_MOD, epoll_, &ev);
  workerPolls_.store(!nested, std::memory_order_release);
}

// Called by the worker that made the count of polling workers leave or reach zero; the count is
// read again under the lock, so whichever of two racing changes comes last sets what holds.
void Reactor::syncNesting() {
  MutexLock lock(nestingMutex_);
  const bool wanted = workerPollers_.load(std::memory_order_acquire) == 0;
  if (wanted != nested_) {
    nestDescriptors(wanted);
    nested_ = wanted;
  }
}

bool Reactor::watchesDescriptors() {
  Reactor* reactor = started_.load(std::memory_order_acquire);
  return reactor && reactor->descriptorCount_.load(std::memory_order_relaxed) > 0;
}

std::function<void()> Reactor::pollForWorker(std::chrono::milliseconds timeout, bool* timedOut,
                                             bool* interrupted) {
  if (workerPollers_.fetch_add(1, std::memory_order_acq_rel) == 0) syncNesting();
  // Straight on the descriptors' set: the kernel wakes one waiting worker per event, and one
  // more while events are left over.
  epoll_event events[kWorkerBatch];
  int n = epoll_wait(epoll_, events, kWorkerBatch, static_cast<int>(timeout.count()));
  // Before any handler runs here: it may block, and events must not wait for it.
  if (workerPollers_.fetch_sub(1, std::memory_order_acq_rel) == 1) syncNesting();
  *timedOut = n == 0;
  *interrupted = false;
  std::vector<std::shared_ptr<Source::State>> ready;
  if (n > 0) {
    for (int i = 0; i < n; ++i) {
      if (events[i].data.u64 == kWakeId && clearWake(workerWakeFd_)) *interrupted = true;
    }
    MutexLock lock(mutex_);
    claimLocked(events, static_cast<std::size_t>(n), ready);
  }
  if (ready.empty()) return nullptr;
  // The first source's queue runs here; its other sources follow it here, in turn, since they
  // could not run meanwhile anyway. The other queues' go to the pool at once.
  std::vector<std::shared_ptr<Source::State>> here;
  const Queue* queue = ready.front()->queue.get();
  for (auto& source : ready) {
    if (source->queue.get() == queue) {
      here.push_back(std::move(source));
    } else {
      source->post();
    }
  }
  return [here = std::move(here)] {
    for (auto& source : here) source->postOnCaller();
  };
}

void Reactor::interruptWorkerPoll() {
  std::uint64_t one = 1;
  [[maybe_unused]] auto n = ::write(workerWakeFd_, &one, sizeof one);
}

// Runs every timer that is due, outside the lock; `next` becomes the earliest deadline left.
void Reactor::runDueTimers(std::optional<MonoTime>& next) {
  while (true) {
    std::vector<std::function<void()>> due;
    {
      MutexLock lock(mutex_);
      auto now = Clock::shared()->monotonicNow();
      while (!timers_.empty() && timers_.front().deadline <= now) {
        std::pop_heap(timers_.begin(), timers_.end());
        due.push_back(std::move(timers_.back().fire));
        timers_.pop_back();
      }
      next = timers_.empty() ? std::nullopt : std::optional<MonoTime>(timers_.front().deadline);
    }
    if (due.empty()) return;
    for (auto& fire : due) fire();
  }
}

// One pass of the reactor's lock for a whole batch of events; the deliveries are queued after,
// by the caller.
void Reactor::claimLocked(const epoll_event* events, std::size_t count,
                          std::vector<std::shared_ptr<Source::State>>& ready) {
  for (std::size_t i = 0; i < count; ++i) {
    // epoll_event is packed: its members are copied out, never bound to a reference (the map's
    // find takes its key by reference, which would be a misaligned one).
    const std::uint64_t id = events[i].data.u64;
    const std::uint32_t happened = events[i].events;
    auto it = registrations_.find(id);
    if (it == registrations_.end()) continue;  // a registration that is gone: a stale event
    for (auto& source : it->second->sources) {
      if ((happened & deliveredEvents(source->type)) &&
          source->claimEvent((happened & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) != 0)) {
        ready.push_back(source);
      }
    }
  }
}

// Registers the descriptor for what its resumed sources watch, when that is more than it is
// registered for. `reported` tells whether the kernel was asked just now, which reports a
// descriptor already ready as an event of its own. Answers the sources to deliver at once: those
// of a descriptor epoll cannot watch, which is always ready.
std::vector<std::shared_ptr<Source::State>> Reactor::updateLocked(Registration& reg,
                                                                  bool* reported) {
  std::vector<std::shared_ptr<Source::State>> ready;
  *reported = false;
  if (reg.orphan) return ready;
  if (!reg.pollable) {
    for (auto& source : reg.sources)
      if (source->claimEvent()) ready.push_back(source);
    return ready;
  }
  // A suspended source keeps its events registered: at most some spare events find no taker.
  std::uint32_t mask = reg.registered;
  for (auto& source : reg.sources) {
    if (source->isResumed()) mask |= watchedEvents(source->type);
  }
  if (mask == reg.registered) return ready;
  epoll_event ev{};
  ev.events = mask | EPOLLET;
  ev.data.u64 = reg.id;
  if (reg.added) {
    if (epoll_ctl(epoll_, EPOLL_CTL_MOD, reg.fd, &ev) == 0) {
      reg.registered = mask;
      *reported = true;
    } else {
      reg.orphan = true;  // the descriptor was closed under its sources
    }
    markArmedLocked(reg);
    return ready;
  }
  struct stat st {};
  if (fstat(reg.fd, &st) != 0 || st.st_dev != reg.device || st.st_ino != reg.inode) {
    reg.orphan = true;
    return ready;
  }
  if (epoll_ctl(epoll_, EPOLL_CTL_ADD, reg.fd, &ev) == 0) {
    reg.added = true;
    reg.registered = mask;
    *reported = true;
    markArmedLocked(reg);
  } else if (errno == EPERM) {
    reg.pollable = false;
    for (auto& source : reg.sources)
      if (source->claimEvent()) ready.push_back(source);
  }
  return ready;
}

// Tells each source whether the kernel reports its events, so that it may look at the
// descriptor itself after a handler instead of asking the reactor.
void Reactor::markArmedLocked(Registration& reg) {
  for (auto& source : reg.sources) {
    source->setEdgeArmed(!reg.orphan && (reg.registered & watchedEvents(source->type)) != 0);
  }
}

void Reactor::attach(const std::shared_ptr<Source::State>& source) {
  struct stat st {};
  bool open = fstat(source->fd, &st) == 0;
  MutexLock lock(mutex_);
  Registration* reg = nullptr;
  if (auto it = byFd_.find(source->fd); it != byFd_.end()) {
    reg = it->second;
    if (!open || reg->device != st.st_dev || reg->inode != st.st_ino) {
      // The descriptor was closed and its number reused: the old registration keeps its
      // sources but never hears of this descriptor again.
      reg->orphan = true;
      markArmedLocked(*reg);
      byFd_.erase(it);
      reg = nullptr;
    }
  }
  if (!reg) {
    auto made = std::make_unique<Registration>();
    made->id = nextId_++;
    made->fd = source->fd;
    made->device = st.st_dev;
    made->inode = st.st_ino;
    made->orphan = !open;
    reg = made.get();
    registrations_.emplace(reg->id, std::move(made));
    descriptorCount_.store(registrations_.size(), std::memory_order_relaxed);
    if (open) byFd_[reg->fd] = reg;
  }
  reg->sources.push_back(source);
  bySource_[source.get()] = reg;
  markArmedLocked(*reg);
}

void Reactor::detach(const Source::State* source) {
  MutexLock lock(mutex_);
  auto it = bySource_.find(source);
  if (it == bySource_.end()) return;
  Registration& reg = *it->second;
  bySource_.erase(it);
  std::erase_if(reg.sources, [source](auto& s) { return s.get() == source; });
  if (reg.sources.empty()) removeLocked(reg);
}

void Reactor::removeLocked(Registration& reg) {
  if (reg.added && !reg.orphan) epoll_ctl(epoll_, EPOLL_CTL_DEL, reg.fd, nullptr);
  if (auto it = byFd_.find(reg.fd); it != byFd_.end() && it->second == &reg) byFd_.erase(it);
  registrations_.erase(reg.id);  // destroys `reg`
  descriptorCount_.store(registrations_.size(), std::memory_order_relaxed);
}

void Reactor::refresh(Source::State* source) {
  std::vector<std::shared_ptr<Source::State>> ready;
  bool reported = false;
  bool watched = false;
  {
    MutexLock lock(mutex_);
    Registration* reg = registrationOfLocked(source);
    if (!reg) return;
    ready = updateLocked(*reg, &reported);
    watched = reg->added && !reg->orphan;
  }
  for (auto& s : ready) s->post();
  // Edges that came while the source was suspended went to nobody.
  if (watched && !reported) source->recheck();
}

Reactor::Registration* Reactor::registrationOfLocked(const Source::State* source) {
  auto it = bySource_.find(source);
  return it == bySource_.end() ? nullptr : it->second;
}

}  // namespace platform::dispatch
