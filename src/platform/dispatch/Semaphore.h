#pragma once
// Semaphore: a counting semaphore. `wait` takes one unit, blocking while there is none.

#include <condition_variable>
#include <mutex>
#include <optional>

#include "platform/foundation/Clock.h"

namespace platform::dispatch {

class Semaphore {
 public:
  explicit Semaphore(long value = 0) : value_(value) {}

  // True when a unit was taken; false when `timeout` of clock time passed first (absent: no
  // limit).
  bool wait(std::optional<Duration> timeout = std::nullopt);
  // Returns one unit, waking one waiter.
  void signal();

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  long value_;
};

}  // namespace platform::dispatch
