#pragma once
// ConcurrentQueue: hands each piece of work to the worker pool on its own, so work runs in
// parallel. The global queues are concurrent queues that ignore suspend and resume; a queue made
// with `Queue::concurrent` holds back new work while suspended.
//
// `sync` runs the work on the caller's thread (once the queue is not suspended); it never
// conflicts with the queue's own work, so it is allowed from inside it.

#include <condition_variable>
#include <deque>

#include "platform/dispatch/Queue.h"
#include "platform/foundation/Mutex.h"

namespace platform::dispatch {

class ConcurrentQueue : public Queue {
 public:
  ConcurrentQueue(Tag, std::string label, Priority priority, bool global);

  void async(Work work) override EXCLUDES(mutex_);
  void sync(const Work& work) override EXCLUDES(mutex_);
  void suspend() override EXCLUDES(mutex_);
  void resume() override EXCLUDES(mutex_);

 private:
  void submit(Work work);

  // Set before start, read-only after.
  const Priority priority_;
  const bool global_;

  // Guarded by mutex_.
  Mutex mutex_;
  std::condition_variable resumed_;
  std::deque<Work> held_ GUARDED_BY(mutex_);
  long suspendCount_ GUARDED_BY(mutex_) = 0;
};

}  // namespace platform::dispatch
