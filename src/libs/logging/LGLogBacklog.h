#pragma once
// LGLogBacklog: the bound on messages waiting to be delivered. A caller takes a slot before its
// message is queued and the delivery gives it back. Once the backlog is full, callers that wait
// are woken together when it has drained to the low-water mark, not one by one as each slot
// frees: waking a caller per delivered message cost more than the delivery itself.

#include <atomic>
#include <condition_variable>

#include "platform/foundation/Mutex.h"

class LGLogBacklog {
 public:
  // `lowWater` < `capacity`.
  LGLogBacklog(long capacity, long lowWater);

  // Takes a slot if one is free at once.
  bool tryAcquire();
  // Takes a slot, waiting while the backlog is full; a caller that had to wait goes on once the
  // backlog has drained to the low-water mark.
  void acquire() EXCLUDES(mutex_);
  // Gives back `count` slots.
  void release(long count = 1) EXCLUDES(mutex_);
  // Callers waiting in acquire() now.
  long waiting() const { return waiting_.load(); }

 private:
  const long capacity_;
  const long lowWater_;
  std::atomic<long> used_{0};
  // Callers waiting in acquire(); read without the lock to spare release() the mutex when none
  // waits.
  std::atomic<long> waiting_{0};
  platform::Mutex mutex_;
  std::condition_variable drained_;
};
