#pragma once
// TAGCostLimitedCache: the runtime's caches of static results. Each entry has a cost; when the
// total passes the limit the oldest entries go until it fits again, and an entry costlier than
// the whole limit is not kept. A dropped entry is simply computed again by whoever misses it.
//
// Any thread may read and write: the runtime evaluates macros from several threads at once.

#include <cstddef>
#include <list>
#include <map>
#include <optional>
#include <utility>

#include "platform/foundation/Mutex.h"

template <typename Key, typename Value>
class TAGCostLimitedCache {
 public:
  explicit TAGCostLimitedCache(std::size_t totalCostLimit) : totalCostLimit_(totalCostLimit) {}

  std::optional<Value> objectForKey(const Key& key) const EXCLUDES(mutex_) {
    platform::MutexLock lock(mutex_);
    auto it = entries_.find(key);
    if (it == entries_.end()) return std::nullopt;
    return it->second.value;
  }

  void setObject(const Key& key, Value value, std::size_t cost) EXCLUDES(mutex_) {
    platform::MutexLock lock(mutex_);
    removeLocked(key);
    if (cost > totalCostLimit_) return;
    order_.push_back(key);
    entries_.emplace(key, Entry{std::move(value), cost, std::prev(order_.end())});
    totalCost_ += cost;
    while (totalCost_ > totalCostLimit_) removeLocked(order_.front());
  }

  std::size_t totalCost() const EXCLUDES(mutex_) {
    platform::MutexLock lock(mutex_);
    return totalCost_;
  }
  std::size_t count() const EXCLUDES(mutex_) {
    platform::MutexLock lock(mutex_);
    return entries_.size();
  }
  std::size_t totalCostLimit() const { return totalCostLimit_; }

 private:
  struct Entry {
    Value value;
    std::size_t cost;
    typename std::list<Key>::iterator position;
  };

  void removeLocked(const Key& key) REQUIRES(mutex_) {
    auto it = entries_.find(key);
    if (it == entries_.end()) return;
    totalCost_ -= it->second.cost;
    order_.erase(it->second.position);
    entries_.erase(it);
  }

  const std::size_t totalCostLimit_;
  mutable platform::Mutex mutex_;
  std::map<Key, Entry> entries_ GUARDED_BY(mutex_);
  std::list<Key> order_ GUARDED_BY(mutex_);  // oldest first
  std::size_t totalCost_ GUARDED_BY(mutex_) = 0;
};
