#pragma once
// MainQueue: the queue served by the main run loop. Its work runs on the main thread, in order,
// among the run loop's other posted work. `sync` from another thread runs the work on the main
// thread too (code queued on the main queue expects the main thread) and waits for it; `sync`
// from the main thread fails an assertion, since the main thread already holds this queue.

#include <deque>

#include "platform/dispatch/Queue.h"
#include "platform/foundation/Mutex.h"

namespace platform::dispatch {

class MainQueue : public Queue {
 public:
  explicit MainQueue(Tag);

  void async(Work work) override EXCLUDES(mutex_);
  void sync(const Work& work) override EXCLUDES(mutex_);
  void suspend() override EXCLUDES(mutex_);
  void resume() override EXCLUDES(mutex_);

  // True on the process's first thread, the one the main run loop belongs to.
  static bool isMainThread();

 private:
  // Under the lock, so that work released by `resume` keeps its place.
  void post(Work work) REQUIRES(mutex_);

  // Guarded by mutex_.
  Mutex mutex_;
  std::deque<Work> held_ GUARDED_BY(mutex_);
  long suspendCount_ GUARDED_BY(mutex_) = 0;
};

}  // namespace platform::dispatch
