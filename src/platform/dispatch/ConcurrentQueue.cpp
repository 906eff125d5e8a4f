#include "platform/dispatch/ConcurrentQueue.h"

#include "platform/dispatch/QueueStack.h"
#include "platform/dispatch/WorkerPool.h"
#include "platform/foundation/Assert.h"

namespace platform::dispatch {

ConcurrentQueue::ConcurrentQueue(Tag, std::string label, Priority priority, bool global)
    : Queue(Kind::Concurrent, std::move(label)), priority_(priority), global_(global) {}

void ConcurrentQueue::async(Work work) {
  if (!global_) {
    MutexLock lock(mutex_);
    if (suspendCount_ > 0) {
      held_.push_back(std::move(work));
      return;
    }
  }
  submit(std::move(work));
}

void ConcurrentQueue::submit(Work work) {
  auto self = shared_from_this();
  WorkerPool::shared().submit(priority_, [self, work = std::move(work)] {
    QueueStack::Frame frame(self.get());
    work();
  });
}

void ConcurrentQueue::sync(const Work& work) {
  if (!global_) {
    MutexLock lock(mutex_);
    if (suspendCount_ > 0) {
      WorkerPool::BlockingScope blocking;
      resumed_.wait(lock.native(), [this]() REQUIRES(mutex_) { return suspendCount_ == 0; });
    }
  }
  QueueStack::Frame frame(this);
  work();
}

void ConcurrentQueue::suspend() {
  if (global_) return;
  MutexLock lock(mutex_);
  ++suspendCount_;
}

void ConcurrentQueue::resume() {
  if (global_) return;
  std::deque<Work> released;
  {
    MutexLock lock(mutex_);
    assertThat(suspendCount_ > 0,
               "dispatch: resume of the queue \"" + label() + "\" without a matching suspend");
    if (--suspendCount_ > 0) return;
    released.swap(held_);
    resumed_.notify_all();
  }
  for (auto& work : released) submit(std::move(work));
}

}  // namespace platform::dispatch
