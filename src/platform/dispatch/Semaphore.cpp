#include "platform/dispatch/Semaphore.h"

#include "platform/dispatch/WorkerPool.h"

namespace platform::dispatch {

bool Semaphore::wait(std::optional<Duration> timeout) {
  MutexLock lock(mutex_);
  if (value_ <= 0) {
    std::optional<MonoTime> deadline;
    if (timeout) deadline = Clock::shared()->monotonicNow() + *timeout;
    WorkerPool::BlockingScope blocking;
    if (!waitUntil(cv_, lock.native(), deadline, [this]() REQUIRES(mutex_) { return value_ > 0; }))
      return false;
  }
  --value_;
  return true;
}

void Semaphore::signal() {
  MutexLock lock(mutex_);
  ++value_;
  cv_.notify_one();
}

}  // namespace platform::dispatch
