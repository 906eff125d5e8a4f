#include "platform/dispatch/Semaphore.h"

#include "platform/dispatch/WorkerPool.h"

namespace platform::dispatch {

bool Semaphore::wait(std::optional<Duration> timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (value_ <= 0) {
    std::optional<MonoTime> deadline;
    if (timeout) deadline = Clock::shared()->monotonicNow() + *timeout;
    WorkerPool::BlockingScope blocking;
    if (!waitUntil(cv_, lock, deadline, [this] { return value_ > 0; })) return false;
  }
  --value_;
  return true;
}

void Semaphore::signal() {
  std::lock_guard<std::mutex> g(mutex_);
  ++value_;
  cv_.notify_one();
}

}  // namespace platform::dispatch
