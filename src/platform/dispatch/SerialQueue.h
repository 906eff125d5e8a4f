#pragma once
// SerialQueue: a strand over the worker pool. At most one thread runs its work at a time, in the
// order it was queued. The queue is "owned" while a drain job is scheduled or running, or while
// a `sync` caller holds it; only the owner runs its work.
//
// `sync` on an idle queue takes ownership at once and runs on the caller's thread. Otherwise the
// caller leaves a ticket in the FIFO; when the drainer reaches it, ownership passes to the
// caller, which runs its work inline and then hands the queue back to the pool.

#include <atomic>
#include <deque>

#include "platform/dispatch/Queue.h"
#include "platform/foundation/Mutex.h"

namespace platform::dispatch {

class SerialQueue : public Queue {
 public:
  SerialQueue(Tag, std::string label);

  void async(Work work) override EXCLUDES(mutex_);
  // `async`, except that a queue with nothing queued or running runs `work`, and what it
  // queues, on the calling thread before returning (a worker already awake for it need not wake
  // another). A busy or suspended queue queues the work as `async` does.
  void asyncOnCaller(Work work) EXCLUDES(mutex_);
  void sync(const Work& work) override EXCLUDES(mutex_);
  void suspend() override EXCLUDES(mutex_);
  void resume() override EXCLUDES(mutex_);

 private:
  struct Ticket;
  struct Item {
    Work work;
    Ticket* ticket = nullptr;  // a waiting `sync` caller; owned by that caller's stack
  };

  void scheduleLocked() REQUIRES(mutex_);
  void drain() EXCLUDES(mutex_);
  void runHeld(const Work& work) EXCLUDES(mutex_);
  void release() EXCLUDES(mutex_);

  // Guarded by mutex_.
  Mutex mutex_;
  std::deque<Item> items_ GUARDED_BY(mutex_);
  bool owned_ GUARDED_BY(mutex_) = false;
  long suspendCount_ GUARDED_BY(mutex_) = 0;
  // Written under mutex_ with suspendCount_; read without it between the items of a batch.
  std::atomic<bool> suspended_{false};
};

}  // namespace platform::dispatch
