#pragma once
// Semaphore: a counting semaphore. `wait` takes one unit, blocking while there is none.

#include <condition_variable>
#include <optional>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Mutex.h"

namespace platform::dispatch {

class Semaphore {
 public:
  explicit Semaphore(long value = 0) : value_(value) {}

  // True when a unit was taken; false when `timeout` of clock time passed first (absent: no
  // limit).
  bool wait(std::optional<Duration> timeout = std::nullopt) EXCLUDES(mutex_);
  // Returns one unit, waking one waiter.
  void signal() EXCLUDES(mutex_);

 private:
  // Guarded by mutex_.
  Mutex mutex_;
  std::condition_variable cv_;
  long value_ GUARDED_BY(mutex_);
};

}  // namespace platform::dispatch
