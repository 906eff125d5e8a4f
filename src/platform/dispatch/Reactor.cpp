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
constexpr std::uint64_t kWakeId = 0;
constexpr int kMaxEvents = 256;

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

Reactor& Reactor::shared() {
  static Reactor* reactor = new Reactor;  // never destroyed: its thread runs to the end
  return *reactor;
}

Reactor::Reactor() {
  epoll_ = epoll_create1(EPOLL_CLOEXEC);
  wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (epoll_ < 0 || wakeFd_ < 0) throw std::runtime_error("dispatch: cannot set up epoll");
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u64 = kWakeId;
  epoll_ctl(epoll_, EPOLL_CTL_ADD, wakeFd_, &ev);
  clockToken_ = Clock::addWakeListener([this] { wake(); });
  std::thread([this] { run(); }).detach();
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
  epoll_event events[kMaxEvents];
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
    int n = epoll_wait(epoll_, events, kMaxEvents, timeoutMs);
    if (n > 0) handleEvents(events, static_cast<std::size_t>(n));
  }
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

// One pass of the reactor's lock for a whole batch of events; the deliveries are queued after.
void Reactor::handleEvents(const epoll_event* events, std::size_t count) {
  ready_.clear();
  {
    MutexLock lock(mutex_);
    for (std::size_t i = 0; i < count; ++i) {
      // epoll_event is packed: its members are copied out, never bound to a reference (the
      // map's find takes its key by reference, which would be a misaligned one).
      const std::uint64_t id = events[i].data.u64;
      const std::uint32_t happened = events[i].events;
      if (id == kWakeId) {
        std::uint64_t fired;
        [[maybe_unused]] auto r = ::read(wakeFd_, &fired, sizeof fired);
        continue;
      }
      auto it = registrations_.find(id);
      if (it == registrations_.end()) continue;  // a registration that is gone: a stale event
      for (auto& source : it->second->sources) {
        if ((happened & deliveredEvents(source->type)) &&
            source->claimEvent((happened & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) != 0)) {
          ready_.push_back(source);
        }
      }
    }
  }
  for (auto& source : ready_) source->post();
  ready_.clear();
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
