#include "platform/dispatch/SerialQueue.h"

#include <array>
#include <condition_variable>

#include "platform/dispatch/QueueStack.h"
#include "platform/dispatch/WorkerPool.h"
#include "platform/foundation/Assert.h"

namespace platform::dispatch {

namespace {
// Items one drain job runs before it yields its worker, so busy queues share the pool fairly.
constexpr int kDrainBatch = 64;
}  // namespace

struct SerialQueue::Ticket {
  void grant() EXCLUDES(mutex) {
    MutexLock lock(mutex);
    granted = true;
    cv.notify_one();
  }
  void wait() EXCLUDES(mutex) {
    WorkerPool::BlockingScope blocking;
    MutexLock lock(mutex);
    cv.wait(lock.native(), [this]() REQUIRES(mutex) { return granted; });
  }

  // Guarded by mutex.
  Mutex mutex;
  std::condition_variable cv;
  bool granted GUARDED_BY(mutex) = false;
};

SerialQueue::SerialQueue(Tag, std::string label) : Queue(Kind::Serial, std::move(label)) {}

void SerialQueue::async(Work work) {
  MutexLock lock(mutex_);
  items_.push_back(Item{std::move(work), nullptr});
  if (!owned_ && suspendCount_ == 0) scheduleLocked();
}

// An idle queue is taken over as a drain job would take it, so `sync` callers, suspension and the
// batch limit behave the same; the caller is then the queue's drainer until it releases it.
void SerialQueue::asyncOnCaller(Work work) {
  {
    MutexLock lock(mutex_);
    items_.push_back(Item{std::move(work), nullptr});
    if (owned_ || suspendCount_ > 0) return;
    owned_ = true;
  }
  drain();
}

void SerialQueue::scheduleLocked() {
  owned_ = true;
  auto self = std::static_pointer_cast<SerialQueue>(shared_from_this());
  WorkerPool::shared().submit(Priority::Default, [self] { self->drain(); });
}

// Takes the work in batches under one lock, so the producers and the drainer meet on the mutex
// once per batch rather than once per item. A batch stops short of a waiting `sync` caller, and
// the items of a batch that a suspension cut short go back to the head of the queue.
void SerialQueue::drain() {
  QueueStack::Frame frame(this);
  std::array<Work, kDrainBatch> batch;
  std::size_t ranInThisJob = 0;
  while (true) {
    std::size_t taken = 0;
    Ticket* ticket = nullptr;
    {
      MutexLock lock(mutex_);
      if (suspendCount_ > 0 || items_.empty()) {
        owned_ = false;
        return;
      }
      while (taken < batch.size() && !items_.empty() && !items_.front().ticket) {
        batch[taken++] = std::move(items_.front().work);
        items_.pop_front();
      }
      if (taken == 0) {
        ticket = items_.front().ticket;
        items_.pop_front();
      }
    }
    if (ticket) {
      ticket->grant();  // the queue now belongs to the waiting `sync` caller
      return;
    }
    std::size_t ran = 0;
    while (ran < taken && (ran == 0 || !suspended_.load(std::memory_order_relaxed))) {
      Work work = std::move(batch[ran++]);
      work();
    }
    if (ran < taken) {
      MutexLock lock(mutex_);
      for (std::size_t i = taken; i > ran; --i) items_.push_front(Item{std::move(batch[i - 1])});
    }
    // A full batch is the most a drain job runs while other jobs wait for a worker. Work that
    // the items just run queued here (a socket's delegate call and the requests it makes) goes
    // on in the same job: handing it back to the pool would put each step of one exchange
    // behind every other queue's work.
    ranInThisJob += ran;
    if (ranInThisJob >= kDrainBatch && WorkerPool::shared().hasWaitingJobs()) break;
  }
  release();
}

// Gives up ownership, or passes it on: a waiting `sync` caller at the head of the queue takes the
// queue over directly, since a drain job for it could wait behind the very pool workers that are
// blocked in such calls; other waiting work gets a new drain job.
void SerialQueue::release() {
  Ticket* next = nullptr;
  {
    MutexLock lock(mutex_);
    if (suspendCount_ > 0 || items_.empty()) {
      owned_ = false;
      return;
    }
    if (!items_.front().ticket) {
      scheduleLocked();
      return;
    }
    next = items_.front().ticket;
    items_.pop_front();
  }
  next->grant();
}

void SerialQueue::sync(const Work& work) {
  assertThat(!QueueStack::contains(this), "dispatch: sync onto the serial queue \"" + label() +
                                              "\" from work already running on it would deadlock");
  Ticket ticket;
  bool mustWait = false;
  {
    MutexLock lock(mutex_);
    if (!owned_ && suspendCount_ == 0 && items_.empty()) {
      owned_ = true;
    } else {
      items_.push_back(Item{nullptr, &ticket});
      if (!owned_ && suspendCount_ == 0) scheduleLocked();
      mustWait = true;
    }
  }
  if (mustWait) ticket.wait();
  runHeld(work);
}

void SerialQueue::runHeld(const Work& work) {
  struct Releaser {
    SerialQueue* queue;
    ~Releaser() { queue->release(); }
  } releaser{this};
  QueueStack::Frame frame(this);
  work();
}

void SerialQueue::suspend() {
  MutexLock lock(mutex_);
  ++suspendCount_;
  suspended_.store(true, std::memory_order_relaxed);
}

void SerialQueue::resume() {
  MutexLock lock(mutex_);
  assertThat(suspendCount_ > 0,
             "dispatch: resume of the queue \"" + label() + "\" without a matching suspend");
  if (--suspendCount_ > 0) return;
  suspended_.store(false, std::memory_order_relaxed);
  if (!owned_ && !items_.empty()) scheduleLocked();
}

}  // namespace platform::dispatch
