#pragma once
// Probe: what a dispatch test records from other threads and waits for. Waits end as soon as the
// condition holds; the timeout (real time, generous) only bounds a test that has already failed.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <set>
#include <thread>
#include <vector>

#include "platform/foundation/Mutex.h"

namespace dispatchtest {

constexpr auto kPatience = std::chrono::seconds(20);

class Probe {
 public:
  void add(int value) {
    platform::MutexLock lock(mutex_);
    values_.push_back(value);
    cv_.notify_all();
  }
  void noteThread() {
    platform::MutexLock lock(mutex_);
    threads_.insert(std::this_thread::get_id());
    ++count_;
    cv_.notify_all();
  }
  void tick() {
    platform::MutexLock lock(mutex_);
    ++count_;
    cv_.notify_all();
  }
  bool waitCount(std::size_t n) {
    platform::MutexLock lock(mutex_);
    return cv_.wait_for(lock.native(), kPatience, [&]() REQUIRES(mutex_) { return count_ >= n; });
  }
  // Waits at most `d` of real time; for tests that move a manual clock until something happens.
  bool waitCountFor(std::size_t n, std::chrono::milliseconds d) {
    platform::MutexLock lock(mutex_);
    return cv_.wait_for(lock.native(), d, [&]() REQUIRES(mutex_) { return count_ >= n; });
  }
  bool waitValuesFor(std::size_t n, std::chrono::milliseconds d) {
    platform::MutexLock lock(mutex_);
    return cv_.wait_for(lock.native(), d, [&]() REQUIRES(mutex_) { return values_.size() >= n; });
  }
  bool waitValues(std::size_t n) {
    platform::MutexLock lock(mutex_);
    return cv_.wait_for(lock.native(), kPatience,
                        [&]() REQUIRES(mutex_) { return values_.size() >= n; });
  }
  std::vector<int> values() const {
    platform::MutexLock lock(mutex_);
    return values_;
  }
  std::size_t count() const {
    platform::MutexLock lock(mutex_);
    return count_;
  }
  std::size_t threadCount() const {
    platform::MutexLock lock(mutex_);
    return threads_.size();
  }

 private:
  // Guarded by mutex_.
  mutable platform::Mutex mutex_;
  std::condition_variable cv_;
  std::vector<int> values_ GUARDED_BY(mutex_);
  std::set<std::thread::id> threads_ GUARDED_BY(mutex_);
  std::size_t count_ GUARDED_BY(mutex_) = 0;
};

}  // namespace dispatchtest
