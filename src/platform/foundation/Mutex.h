#pragma once
// Mutexes the thread-safety analysis understands. `Mutex` and `RecursiveMutex` wrap the standard
// ones; `MutexLock` holds one for a scope. Condition variables stay `std::condition_variable`
// and wait on `lock.native()`, which is also what `platform::waitUntil` takes.
//
//   mutable platform::Mutex mutex_;
//   std::condition_variable changed_;
//   int pending_ GUARDED_BY(mutex_) = 0;
//
//   platform::MutexLock lock(mutex_);
//   changed_.wait(lock.native(), [&]() REQUIRES(mutex_) { return pending_ == 0; });

#include <mutex>

#include "platform/foundation/ThreadAnnotations.h"

namespace platform {

class CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void lock() ACQUIRE() { mutex_.lock(); }
  void unlock() RELEASE() { mutex_.unlock(); }
  bool try_lock() TRY_ACQUIRE(true) { return mutex_.try_lock(); }
  // Tells the analysis the caller holds this mutex where it cannot see it (a callback run
  // under a lock taken elsewhere). Checks nothing at run time.
  void assertHeld() const ASSERT_CAPABILITY(this) {}

  std::mutex& native() { return mutex_; }

 private:
  std::mutex mutex_;
};

// For the few objects whose callbacks may re-enter them on the same thread.
class CAPABILITY("mutex") RecursiveMutex {
 public:
  RecursiveMutex() = default;
  RecursiveMutex(const RecursiveMutex&) = delete;
  RecursiveMutex& operator=(const RecursiveMutex&) = delete;

  void lock() ACQUIRE() { mutex_.lock(); }
  void unlock() RELEASE() { mutex_.unlock(); }
  void assertHeld() const ASSERT_CAPABILITY(this) {}

 private:
  std::recursive_mutex mutex_;
};

// Holds a Mutex from construction to destruction; `unlock()`/`lock()` let go of it for a
// stretch (a callback that must run unlocked) and take it back.
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : lock_(mutex.native()) {}
  ~MutexLock() RELEASE() {}
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

  void unlock() RELEASE() { lock_.unlock(); }
  void lock() ACQUIRE() { lock_.lock(); }

  // The standard lock underneath, for condition-variable waits.
  std::unique_lock<std::mutex>& native() { return lock_; }

 private:
  std::unique_lock<std::mutex> lock_;
};

class SCOPED_CAPABILITY RecursiveMutexLock {
 public:
  explicit RecursiveMutexLock(RecursiveMutex& mutex) ACQUIRE(mutex) : mutex_(mutex) {
    mutex_.lock();
  }
  ~RecursiveMutexLock() RELEASE() { mutex_.unlock(); }
  RecursiveMutexLock(const RecursiveMutexLock&) = delete;
  RecursiveMutexLock& operator=(const RecursiveMutexLock&) = delete;

 private:
  RecursiveMutex& mutex_;
};

}  // namespace platform
