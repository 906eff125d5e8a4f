#include "logging/LGLogBacklog.h"

#include "platform/dispatch/WorkerPool.h"

LGLogBacklog::LGLogBacklog(long capacity, long lowWater)
    : capacity_(capacity), lowWater_(lowWater) {}

bool LGLogBacklog::tryAcquire() {
  long used = used_.load();
  while (used < capacity_) {
    if (used_.compare_exchange_weak(used, used + 1)) return true;
  }
  return false;
}

void LGLogBacklog::acquire() {
  if (tryAcquire()) return;
  platform::dispatch::WorkerPool::BlockingScope blocking;
  platform::MutexLock lock(mutex_);
  waiting_.fetch_add(1);
  // A waiter counted before it reads `used_` is seen by every release that lowers `used_` after
  // that read, and that release takes the mutex to wake it: no wake-up is lost.
  while (true) {
    drained_.wait(lock.native(), [this] { return used_.load() <= lowWater_; });
    if (tryAcquire()) break;
  }
  waiting_.fetch_sub(1);
}

void LGLogBacklog::release(long count) {
  long used = used_.fetch_sub(count) - count;
  if (used > lowWater_ || waiting_.load() == 0) return;
  platform::MutexLock lock(mutex_);
  drained_.notify_all();
}
