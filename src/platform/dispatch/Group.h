#pragma once
// Group: counts work in flight; waiters and notifications run when the count falls to zero.

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/dispatch/Queue.h"

namespace platform::dispatch {

class Group : public std::enable_shared_from_this<Group> {
 public:
  static std::shared_ptr<Group> make() { return std::make_shared<Group>(); }

  void enter();
  // Leaving more often than entering fails an assertion.
  void leave();
  // Waits until the group is empty or `timeout` of clock time has passed (absent: no limit);
  // true when empty.
  bool wait(std::optional<Duration> timeout = std::nullopt);
  // Queues `work` on `queue` once the group is empty (at once when it already is).
  void notify(const std::shared_ptr<Queue>& queue, Queue::Work work);

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  long count_ = 0;
  std::vector<std::pair<std::shared_ptr<Queue>, Queue::Work>> notifications_;
};

}  // namespace platform::dispatch
