#pragma once
// OperationQueue: runs Operations on threads of its own, at most `maxConcurrentOperationCount`
// at once (-1: no limit; 0: nothing starts). The width may change while operations run: a wider
// queue starts waiting operations at once, a narrower one lets running ones finish. Operations
// start in the order they were added, each once it is ready; a cancelled operation is started
// promptly whatever the width, so it can finish and leave the queue.
//
// An operation stays in the queue (and counts in `operationCount`) from `addOperation` until it
// is finished. The count observer is called after every change of the count, on the thread that
// changed it, outside the queue's lock.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/foundation/Operation.h"

namespace platform {

class OperationQueue : public std::enable_shared_from_this<OperationQueue> {
 public:
  static constexpr long kDefaultMaxConcurrentOperationCount = -1;
  using CountObserver = std::function<void(std::size_t count)>;

  static std::shared_ptr<OperationQueue> make(std::string name = {});
  // Operations that have not started are dropped; running ones run on.
  ~OperationQueue();

  const std::string& name() const { return name_; }

  void addOperation(const std::shared_ptr<Operation>& operation);
  // Wraps `block` in a plain operation.
  void addOperation(std::function<void()> block);

  // The operations not yet finished, in the order they were added.
  std::vector<std::shared_ptr<Operation>> operations() const;
  std::size_t operationCount() const;

  long maxConcurrentOperationCount() const;
  void setMaxConcurrentOperationCount(long width);

  void cancelAllOperations();
  // Blocks until every operation added so far is finished.
  void waitUntilAllOperationsAreFinished();

  void setOperationCountObserver(CountObserver observer);

  struct Pool;

 private:
  explicit OperationQueue(std::string name);
  void operationChanged(const Operation* operation);
  // Hands every operation that may start now to the worker threads; the caller holds `mutex_`.
  void pumpLocked();
  void notifyCount(std::size_t count);

  struct Entry {
    std::shared_ptr<Operation> operation;
    bool started = false;
  };

  const std::string name_;
  mutable std::mutex mutex_;
  std::condition_variable drained_;
  std::vector<Entry> entries_;
  std::size_t running_ = 0;
  long width_ = kDefaultMaxConcurrentOperationCount;
  std::mutex observerMutex_;
  CountObserver countObserver_;
  std::shared_ptr<Pool> pool_;
};

}  // namespace platform
