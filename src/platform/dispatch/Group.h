#pragma once
// Group: counts work in flight; waiters and notifications run when the count falls to zero.

#include <condition_variable>
#include <memory>
#include <optional>
#include <vector>

#include "platform/dispatch/Queue.h"
#include "platform/foundation/Mutex.h"

namespace platform::dispatch {

class Group : public std::enable_shared_from_this<Group> {
  // Groups are shared with the work they count, so they are made only through `make`.
  class Tag {
    Tag() = default;
    friend class Group;
  };

 public:
  static std::shared_ptr<Group> make() { return std::make_shared<Group>(Tag{}); }
  explicit Group(Tag) {}

  void enter() EXCLUDES(mutex_);
  // Leaving more often than entering fails an assertion.
  void leave() EXCLUDES(mutex_);
  // Waits until the group is empty or `timeout` of clock time has passed (absent: no limit);
  // true when empty.
  bool wait(std::optional<Duration> timeout = std::nullopt) EXCLUDES(mutex_);
  // Queues `work` on `queue` once the group is empty (at once when it already is).
  void notify(const std::shared_ptr<Queue>& queue, Queue::Work work) EXCLUDES(mutex_);

 private:
  // Guarded by mutex_.
  Mutex mutex_;
  std::condition_variable cv_;
  long count_ GUARDED_BY(mutex_) = 0;
  std::vector<std::pair<std::shared_ptr<Queue>, Queue::Work>> notifications_ GUARDED_BY(mutex_);
};

}  // namespace platform::dispatch
