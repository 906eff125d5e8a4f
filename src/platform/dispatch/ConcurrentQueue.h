#pragma once
// ConcurrentQueue: hands each piece of work to the worker pool on its own, so work runs in
// parallel. The global queues are concurrent queues that ignore suspend and resume; a queue made
// with `Queue::concurrent` holds back new work while suspended.
//
// `sync` runs the work on the caller's thread (once the queue is not suspended); it never
// conflicts with the queue's own work, so it is allowed from inside it.

#include <condition_variable>
#include <deque>
#include <mutex>

#include "platform/dispatch/Queue.h"

namespace platform::dispatch {

class ConcurrentQueue : public Queue {
 public:
  ConcurrentQueue(std::string label, Priority priority, bool global);

  void async(Work work) override;
  void sync(const Work& work) override;
  void suspend() override;
  void resume() override;

 private:
  void submit(Work work);

  const Priority priority_;
  const bool global_;
  std::mutex mutex_;
  std::condition_variable resumed_;
  std::deque<Work> held_;
  long suspendCount_ = 0;
};

}  // namespace platform::dispatch
