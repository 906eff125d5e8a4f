#pragma once
// OperationQueue: runs Operations on threads of its own (or one added to start where it is
// added, on the adding thread), at most `maxConcurrentOperationCount`
// at once (-1: no limit; 0: nothing starts). The width may change while operations run: a wider
// queue starts waiting operations at once, a narrower one lets running ones finish. Operations
// start in the order they were added, each once it is ready; a cancelled operation is started
// promptly whatever the width, so it can finish and leave the queue.
//
// An operation stays in the queue (and counts in `operationCount`) from `addOperation` until it
// is finished. The count observer is called after every change of the count, on the thread that
// changed it, outside the queue's lock.
//
// Bookkeeping costs the same however many operations wait: an operation's change of state finds
// its entry through an index, and looking for operations to start stops once the width is full
// (a cancelled one is started as soon as its cancel is reported, so it never waits for room).

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/foundation/Mutex.h"
#include "platform/foundation/Operation.h"

namespace platform {

class OperationQueue : public std::enable_shared_from_this<OperationQueue> {
 public:
  static constexpr long kDefaultMaxConcurrentOperationCount = -1;
  using CountObserver = std::function<void(std::size_t count)>;

  // Queues live in shared_ptrs: their operations call back through a weak reference.
  static std::shared_ptr<OperationQueue> create(std::string name = {});
  // Operations that have not started are dropped; running ones run on.
  ~OperationQueue();
  OperationQueue(const OperationQueue&) = delete;
  OperationQueue& operator=(const OperationQueue&) = delete;

  const std::string& name() const { return name_; }

  void addOperation(const std::shared_ptr<Operation>& operation) EXCLUDES(mutex_);
  // Adds `operation` as `addOperation` does, but when it may start at once it is started on the
  // calling thread (once the queue's lock is released) instead of on a worker: for asynchronous
  // operations whose start only hands their work elsewhere, this saves waking a worker. Others
  // that were waiting before it still start first, on workers.
  void addOperationStartingHere(const std::shared_ptr<Operation>& operation) EXCLUDES(mutex_);
  // Wraps `block` in a plain operation.
  void addOperation(std::function<void()> block);

  // The operations not yet finished, in the order they were added.
  std::vector<std::shared_ptr<Operation>> operations() const EXCLUDES(mutex_);
  std::size_t operationCount() const EXCLUDES(mutex_);
  // Operations added to any queue and not yet finished (nor dropped with their queue).
  static std::size_t operationsInFlight();

  long maxConcurrentOperationCount() const EXCLUDES(mutex_);
  void setMaxConcurrentOperationCount(long width) EXCLUDES(mutex_);

  void cancelAllOperations();
  // Blocks until every operation added so far is finished.
  void waitUntilAllOperationsAreFinished() EXCLUDES(mutex_);

  void setOperationCountObserver(CountObserver observer) EXCLUDES(observerMutex_);

 private:
  class Pool;
  // Unfinished operations in the order they were added, and those of them not yet started.
  using Entries = std::list<std::shared_ptr<Operation>>;
  using Waiting = std::list<Operation*>;
  struct Slot {
    Entries::iterator entry;
    Waiting::iterator waiting;  // meaningful while not started
    bool started = false;
  };

  explicit OperationQueue(std::string name);
  // Adds `operation`; true when the caller is to start it (`startHere` and it may start now).
  bool add(const std::shared_ptr<Operation>& operation, bool startHere) EXCLUDES(mutex_);
  void operationChanged(const Operation* operation) EXCLUDES(mutex_);
  // Marks waiting operations that may start now started, in the order they were added, until
  // the width is full, and hands them to the worker threads, except `here`: true when `here`
  // was among them, for the caller to start.
  bool pumpLocked(const Operation* here = nullptr) REQUIRES(mutex_);
  // Marks the slot's operation started; it goes to a worker unless `onWorker` is false.
  void startLocked(Slot& slot, bool onWorker = true) REQUIRES(mutex_);
  // Tells the observer of the count the change numbered `change` made; a change older than one
  // already told is dropped, so the observer's last word is always the newest count.
  void notifyCount(std::uint64_t change, std::size_t count)
      EXCLUDES(observerMutex_, deliveryMutex_);

  // Set before start, read-only after.
  const std::string name_;
  // The worker threads; shared with them, so the queue may go while they run.
  const std::shared_ptr<Pool> pool_;

  // Guarded by mutex_.
  mutable Mutex mutex_;
  std::condition_variable drained_;
  Entries entries_ GUARDED_BY(mutex_);
  Waiting waiting_ GUARDED_BY(mutex_);
  std::unordered_map<const Operation*, Slot> slots_ GUARDED_BY(mutex_);
  std::size_t running_ GUARDED_BY(mutex_) = 0;
  long width_ GUARDED_BY(mutex_) = kDefaultMaxConcurrentOperationCount;
  // Numbers every change of the count, in the order the changes were made.
  std::uint64_t countChanges_ GUARDED_BY(mutex_) = 0;

  // Guarded by observerMutex_.
  Mutex observerMutex_;
  CountObserver countObserver_ GUARDED_BY(observerMutex_);
  // Held while the observer is told, so two changes are never told at once or out of order;
  // recursive, since an observer may add an operation.
  RecursiveMutex deliveryMutex_;
  std::uint64_t countChangesTold_ GUARDED_BY(deliveryMutex_) = 0;
};

}  // namespace platform
