#pragma once
// Probe: what a dispatch test records from other threads and waits for. Waits end as soon as the
// condition holds; the timeout (real time, generous) only bounds a test that has already failed.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace dispatchtest {

constexpr auto kPatience = std::chrono::seconds(20);

class Probe {
 public:
  void add(int value) {
    std::lock_guard<std::mutex> g(mutex_);
    values_.push_back(value);
    cv_.notify_all();
  }
  void noteThread() {
    std::lock_guard<std::mutex> g(mutex_);
    threads_.insert(std::this_thread::get_id());
    ++count_;
    cv_.notify_all();
  }
  void tick() {
    std::lock_guard<std::mutex> g(mutex_);
    ++count_;
    cv_.notify_all();
  }
  bool waitCount(std::size_t n) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, kPatience, [&] { return count_ >= n; });
  }
  // Waits at most `d` of real time; for tests that move a manual clock until something happens.
  bool waitCountFor(std::size_t n, std::chrono::milliseconds d) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, d, [&] { return count_ >= n; });
  }
  bool waitValuesFor(std::size_t n, std::chrono::milliseconds d) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, d, [&] { return values_.size() >= n; });
  }
  bool waitValues(std::size_t n) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, kPatience, [&] { return values_.size() >= n; });
  }
  std::vector<int> values() const {
    std::lock_guard<std::mutex> g(mutex_);
    return values_;
  }
  std::size_t count() const {
    std::lock_guard<std::mutex> g(mutex_);
    return count_;
  }
  std::size_t threadCount() const {
    std::lock_guard<std::mutex> g(mutex_);
    return threads_.size();
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<int> values_;
  std::set<std::thread::id> threads_;
  std::size_t count_ = 0;
};

}  // namespace dispatchtest
