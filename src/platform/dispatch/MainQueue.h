#pragma once
// MainQueue: the queue served by the main run loop. Its work runs on the main thread, in order,
// among the run loop's other posted work. `sync` from another thread runs the work on the main
// thread too (code queued on the main queue expects the main thread) and waits for it; `sync`
// from the main thread fails an assertion, since the main thread already holds this queue.

#include <deque>
#include <vector>

#include "platform/dispatch/Queue.h"
#include "platform/foundation/BatchBuffer.h"
#include "platform/foundation/Mutex.h"

namespace platform {
class RunLoop;
}

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
  // On the main thread, for each posted item: runs the oldest posted work.
  void runNext() EXCLUDES(mutex_);

  // Set before start, read-only after.
  const std::shared_ptr<RunLoop> loop_;

  // Guarded by mutex_.
  Mutex mutex_;
  std::deque<Work> held_ GUARDED_BY(mutex_);
  std::vector<Work> posted_ GUARDED_BY(mutex_);  // one runner on the main run loop for each
  long suspendCount_ GUARDED_BY(mutex_) = 0;

  // Main thread only: posted work taken in one go, oldest first.
  BatchBuffer<Work> taken_;
};

}  // namespace platform::dispatch
