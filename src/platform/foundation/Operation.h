#pragma once
// Operation: one unit of work for an OperationQueue. A plain operation runs `main()` on a queue
// thread and is finished when it returns. An asynchronous ("concurrent") operation overrides
// `start()`, manages its own executing and finished states, and calls `stateDidChange()` after
// every change, so the queue knows when it may start the next one.
//
// Cancelling marks the operation; it is up to the operation to stop. A cancelled operation that
// has not started is still started by its queue (promptly, whatever the queue's width), and
// finishes at once.

#include <atomic>
#include <functional>
#include <memory>

#include "platform/foundation/Mutex.h"
#include "platform/foundation/SharedObject.h"

namespace platform {

class OperationQueue;

// Operations live in shared_ptrs (queues and their subclasses' callbacks hold them), so each
// class of the hierarchy has a protected constructor and its own `create`.
class Operation : public std::enable_shared_from_this<Operation> {
  CH_SHARED_OBJECT(Operation)

 public:
  virtual ~Operation() = default;
  Operation(const Operation&) = delete;
  Operation& operator=(const Operation&) = delete;

  // Runs `main()` unless cancelled; the base states become executing, then finished.
  virtual void start();
  virtual void main() {}
  virtual void cancel();

  virtual bool isConcurrent() const { return false; }
  virtual bool isReady() const { return true; }
  virtual bool isExecuting() const { return executing_; }
  virtual bool isFinished() const { return finished_; }
  virtual bool isCancelled() const { return cancelled_; }

  // Called once, on the thread that finishes the operation, after it is finished.
  void setCompletionBlock(std::function<void()> block) EXCLUDES(mutex_);

 protected:
  Operation() = default;

  // Subclasses that keep their own state call this after each change of readiness, execution
  // or completion (outside their own locks).
  void stateDidChange() EXCLUDES(mutex_);

 private:
  friend class OperationQueue;
  void setObserver(std::function<void()> observer) EXCLUDES(mutex_);
  void runCompletionOnce() EXCLUDES(mutex_);

  // Read and written from any thread without a lock.
  std::atomic<bool> executing_{false};
  std::atomic<bool> finished_{false};
  std::atomic<bool> cancelled_{false};

  // Guarded by mutex_.
  Mutex mutex_;
  std::function<void()> observer_ GUARDED_BY(mutex_);
  std::function<void()> completion_ GUARDED_BY(mutex_);
  bool completionRan_ GUARDED_BY(mutex_) = false;
};

}  // namespace platform
