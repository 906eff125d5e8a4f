#pragma once
// SerialQueue: a strand over the worker pool. At most one thread runs its work at a time, in the
// order it was queued. The queue is "owned" while a drain job is scheduled or running, or while
// a `sync` caller holds it; only the owner runs its work.
//
// `sync` on an idle queue takes ownership at once and runs on the caller's thread. Otherwise the
// caller leaves a ticket in the FIFO; when the drainer reaches it, ownership passes to the
// caller, which runs its work inline and then hands the queue back to the pool.

#include <condition_variable>
#include <deque>
#include <mutex>

#include "platform/dispatch/Queue.h"

namespace platform::dispatch {

class SerialQueue : public Queue {
 public:
  explicit SerialQueue(std::string label);

  void async(Work work) override;
  void sync(const Work& work) override;
  void suspend() override;
  void resume() override;

 private:
  struct Ticket;
  struct Item {
    Work work;
    Ticket* ticket = nullptr;  // a waiting `sync` caller; owned by that caller's stack
  };

  void scheduleLocked();
  void drain();
  void runHeld(const Work& work);
  void release();

  std::mutex mutex_;
  std::deque<Item> items_;
  bool owned_ = false;
  long suspendCount_ = 0;
};

}  // namespace platform::dispatch
