#pragma once
// A list of the events a test double heard, in order, from any thread.

#include <algorithm>
#include <string>
#include <vector>

#include "platform/foundation/Mutex.h"

namespace testsupport {

class TagEventList {
 public:
  void add(std::string event) {
    platform::MutexLock lock(mutex_);
    events_.push_back(std::move(event));
  }
  std::vector<std::string> events() const {
    platform::MutexLock lock(mutex_);
    return events_;
  }
  std::size_t count() const { return events().size(); }
  bool heard(const std::string& event) const {
    auto all = events();
    return std::find(all.begin(), all.end(), event) != all.end();
  }

 private:
  mutable platform::Mutex mutex_;
  std::vector<std::string> events_ GUARDED_BY(mutex_);
};

}  // namespace testsupport
