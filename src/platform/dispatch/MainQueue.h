#pragma once
// MainQueue: the queue served by the main run loop. Its work runs on the main thread, in order,
// among the run loop's other posted work. `sync` from another thread runs the work on the main
// thread too (code queued on the main queue expects the main thread) and waits for it; `sync`
// from the main thread fails an assertion, since the main thread already holds this queue.

#include <deque>
#include <mutex>

#include "platform/dispatch/Queue.h"

namespace platform::dispatch {

class MainQueue : public Queue {
 public:
  MainQueue();

  void async(Work work) override;
  void sync(const Work& work) override;
  void suspend() override;
  void resume() override;

  // True on the process's first thread, the one the main run loop belongs to.
  static bool isMainThread();

 private:
  void post(Work work);

  std::mutex mutex_;
  std::deque<Work> held_;
  long suspendCount_ = 0;
};

}  // namespace platform::dispatch
