#include "platform/dispatch/SerialQueue.h"

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

void SerialQueue::scheduleLocked() {
  owned_ = true;
  auto self = std::static_pointer_cast<SerialQueue>(shared_from_this());
  WorkerPool::shared().submit(Priority::Default, [self] { self->drain(); });
}

void SerialQueue::drain() {
  QueueStack::Frame frame(this);
  for (int i = 0; i < kDrainBatch; ++i) {
    Item item;
    {
      MutexLock lock(mutex_);
      if (suspendCount_ > 0 || items_.empty()) {
        owned_ = false;
        return;
      }
      item = std::move(items_.front());
      items_.pop_front();
    }
    if (item.ticket) {
      item.ticket->grant();  // the queue now belongs to the waiting `sync` caller
      return;
    }
    item.work();
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
}

void SerialQueue::resume() {
  MutexLock lock(mutex_);
  assertThat(suspendCount_ > 0,
             "dispatch: resume of the queue \"" + label() + "\" without a matching suspend");
  if (--suspendCount_ > 0) return;
  if (!owned_ && !items_.empty()) scheduleLocked();
}

}  // namespace platform::dispatch
