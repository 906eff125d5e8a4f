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
#include <mutex>

namespace platform {

class OperationQueue;

class Operation : public std::enable_shared_from_this<Operation> {
 public:
  Operation() = default;
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
  void setCompletionBlock(std::function<void()> block);

 protected:
  // Subclasses that keep their own state call this after each change of readiness, execution
  // or completion (outside their own locks).
  void stateDidChange();

 private:
  friend class OperationQueue;
  void setObserver(std::function<void()> observer);
  void runCompletionOnce();

  std::atomic<bool> executing_{false};
  std::atomic<bool> finished_{false};
  std::atomic<bool> cancelled_{false};
  std::mutex mutex_;
  std::function<void()> observer_;
  std::function<void()> completion_;
  bool completionRan_ = false;
};

}  // namespace platform
