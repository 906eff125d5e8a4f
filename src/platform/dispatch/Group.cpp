#include "platform/dispatch/Group.h"

#include "platform/dispatch/WorkerPool.h"
#include "platform/foundation/Assert.h"

namespace platform::dispatch {

void Group::enter() {
  MutexLock lock(mutex_);
  ++count_;
}

void Group::leave() {
  std::vector<std::pair<std::shared_ptr<Queue>, Queue::Work>> ready;
  {
    MutexLock lock(mutex_);
    assertThat(count_ > 0, "dispatch: group left more often than entered");
    if (--count_ > 0) return;
    ready.swap(notifications_);
    cv_.notify_all();
  }
  for (auto& [queue, work] : ready) queue->async(std::move(work));
}

bool Group::wait(std::optional<Duration> timeout) {
  MutexLock lock(mutex_);
  if (count_ == 0) return true;
  std::optional<MonoTime> deadline;
  if (timeout) deadline = Clock::shared()->monotonicNow() + *timeout;
  WorkerPool::BlockingScope blocking;
  return waitUntil(cv_, lock.native(), deadline, [this]() REQUIRES(mutex_) { return count_ == 0; });
}

void Group::notify(const std::shared_ptr<Queue>& queue, Queue::Work work) {
  {
    MutexLock lock(mutex_);
    if (count_ > 0) {
      notifications_.emplace_back(queue, std::move(work));
      return;
    }
  }
  queue->async(std::move(work));
}

}  // namespace platform::dispatch
