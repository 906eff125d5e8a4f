#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "platform/foundation/OperationQueue.h"

namespace platform {
namespace {

// A gate that blocked operations wait behind, counting how many wait at once.
struct Gate {
  std::mutex mutex;
  std::condition_variable cv;
  bool open = false;
  int inside = 0;
  int maxInside = 0;
  int entered = 0;

  void pass() {
    std::unique_lock lock(mutex);
    ++inside;
    ++entered;
    maxInside = std::max(maxInside, inside);
    cv.notify_all();
    cv.wait(lock, [&] { return open; });
    --inside;
  }
  void waitForInside(int n) {
    std::unique_lock lock(mutex);
    cv.wait(lock, [&] { return inside == n; });
  }
  void release() {
    std::lock_guard lock(mutex);
    open = true;
    cv.notify_all();
  }
};

TEST(OperationQueueTest, WidthLimitsRunningOperationsAndMayGrowWhileRunning) {
  auto queue = OperationQueue::create("width");
  queue->setMaxConcurrentOperationCount(2);
  Gate gate;
  for (int i = 0; i < 6; ++i) queue->addOperation([&] { gate.pass(); });
  gate.waitForInside(2);
  EXPECT_EQ(queue->operationCount(), 6u);

  queue->setMaxConcurrentOperationCount(5);
  gate.waitForInside(5);
  gate.release();
  queue->waitUntilAllOperationsAreFinished();
  EXPECT_EQ(gate.maxInside, 5);
  EXPECT_EQ(gate.entered, 6);
  EXPECT_EQ(queue->operationCount(), 0u);
}

TEST(OperationQueueTest, OperationsInFlightCountsEveryQueuesUnfinishedOnes) {
  const std::size_t before = OperationQueue::operationsInFlight();
  auto running = OperationQueue::create("running");
  auto stopped = OperationQueue::create("stopped");
  stopped->setMaxConcurrentOperationCount(0);
  Gate gate;
  running->addOperation([&] { gate.pass(); });
  stopped->addOperation([] {});
  stopped->addOperation([] {});
  gate.waitForInside(1);
  EXPECT_EQ(OperationQueue::operationsInFlight(), before + 3) << "waiting and running alike";

  gate.release();
  running->waitUntilAllOperationsAreFinished();
  EXPECT_EQ(OperationQueue::operationsInFlight(), before + 2) << "a finished one no longer counts";
  stopped.reset();
  EXPECT_EQ(OperationQueue::operationsInFlight(), before) << "dropped with their queue";
}

TEST(OperationQueueTest, WidthZeroStartsNothingUntilWidened) {
  auto queue = OperationQueue::create();
  queue->setMaxConcurrentOperationCount(0);
  std::atomic<int> ran{0};
  queue->addOperation([&] { ++ran; });
  queue->addOperation([&] { ++ran; });
  EXPECT_EQ(queue->operationCount(), 2u);
  EXPECT_EQ(ran, 0);
  queue->setMaxConcurrentOperationCount(1);
  queue->waitUntilAllOperationsAreFinished();
  EXPECT_EQ(ran, 2);
}

// A plain operation that records that its body ran.
class RecordingOperation : public Operation {
  CH_SHARED_OBJECT(RecordingOperation)

 public:
  void main() override { *ran_ = true; }

 private:
  explicit RecordingOperation(std::atomic<bool>* ran) : ran_(ran) {}
  std::atomic<bool>* const ran_;
};

TEST(OperationQueueTest, CancelledOperationFinishesWithoutRunningEvenAtWidthZero) {
  auto queue = OperationQueue::create();
  queue->setMaxConcurrentOperationCount(0);
  std::atomic<bool> ran{false};
  auto body = RecordingOperation::create(&ran);
  queue->addOperation(body);
  body->cancel();
  queue->waitUntilAllOperationsAreFinished();
  EXPECT_FALSE(ran);
  EXPECT_TRUE(body->isFinished());
}

// An asynchronous operation that finishes only when told, from another thread.
class AsyncOperation : public Operation {
  CH_SHARED_OBJECT(AsyncOperation)

 public:
  bool isConcurrent() const override { return true; }
  bool isExecuting() const override { return state_ == 1; }
  bool isFinished() const override { return state_ == 2; }
  void start() override {
    startedOn_ = std::this_thread::get_id();
    state_ = 1;
    stateDidChange();
  }
  void finish() {
    state_ = 2;
    stateDidChange();
  }
  std::thread::id startedOn() const { return startedOn_; }

 private:
  AsyncOperation() = default;
  std::atomic<int> state_{0};
  std::atomic<std::thread::id> startedOn_{};
};

TEST(OperationQueueTest, AnOperationAddedToStartHereStartsOnTheAddingThreadWhenThereIsRoom) {
  auto queue = OperationQueue::create();
  queue->setMaxConcurrentOperationCount(1);
  auto first = AsyncOperation::create();
  queue->addOperationStartingHere(first);
  // Started before the add returned, by this thread.
  EXPECT_TRUE(first->isExecuting());
  EXPECT_EQ(first->startedOn(), std::this_thread::get_id());

  // Without room it waits like any other, and a worker starts it once there is room.
  auto second = AsyncOperation::create();
  queue->addOperationStartingHere(second);
  EXPECT_FALSE(second->isExecuting());
  EXPECT_EQ(queue->operationCount(), 2u);
  first->finish();
  while (!second->isExecuting()) std::this_thread::yield();
  EXPECT_NE(second->startedOn(), std::this_thread::get_id());
  second->finish();
  queue->waitUntilAllOperationsAreFinished();
  EXPECT_EQ(queue->operationCount(), 0u);
}

TEST(OperationQueueTest, AsynchronousOperationHoldsItsSlotUntilItFinishes) {
  auto queue = OperationQueue::create();
  queue->setMaxConcurrentOperationCount(1);
  auto first = AsyncOperation::create();
  auto second = AsyncOperation::create();
  std::mutex mutex;
  std::condition_variable cv;
  std::vector<std::size_t> counts;
  queue->setOperationCountObserver([&](std::size_t count) {
    std::lock_guard lock(mutex);
    counts.push_back(count);
    cv.notify_all();
  });
  queue->addOperation(first);
  queue->addOperation(second);
  {
    std::unique_lock lock(mutex);
    cv.wait(lock, [&] { return counts.size() == 2; });
  }
  // The first has started (its start returns at once) but holds the only slot.
  while (!first->isExecuting()) std::this_thread::yield();
  EXPECT_FALSE(second->isExecuting());
  first->finish();
  while (!second->isExecuting()) std::this_thread::yield();
  second->finish();
  queue->waitUntilAllOperationsAreFinished();
  // The changes to 1 and to 0 are told from two threads; the observer's last word must be the
  // newest count, never the older one arriving late.
  std::unique_lock lock(mutex);
  EXPECT_TRUE(cv.wait_for(lock, std::chrono::seconds(10),
                          [&] { return !counts.empty() && counts.back() == 0; }));
  lock.unlock();
  std::this_thread::yield();
  lock.lock();
  EXPECT_EQ(counts.back(), 0u);
}

// A plain operation that appends its name to a shared list, and starts only once made ready.
class NamedOperation : public Operation {
  CH_SHARED_OBJECT(NamedOperation)

 public:
  void main() override {
    std::lock_guard lock(*mutex_);
    order_->push_back(name_);
  }
  bool isReady() const override { return ready_; }
  void makeReady() {
    ready_ = true;
    stateDidChange();
  }

 private:
  NamedOperation(char name, bool ready, std::mutex* mutex, std::string* order)
      : name_(name), ready_(ready), mutex_(mutex), order_(order) {}
  const char name_;
  std::atomic<bool> ready_;
  std::mutex* const mutex_;
  std::string* const order_;
};

TEST(OperationQueueTest, OperationsStartInTheOrderAddedAndOneNotReadyWaitsUntilItIs) {
  auto queue = OperationQueue::create();
  queue->setMaxConcurrentOperationCount(1);
  std::mutex mutex;
  std::string order;
  auto late = NamedOperation::create('L', false, &mutex, &order);
  queue->addOperation(late);
  for (char name : std::string("abcdefgh"))
    queue->addOperation(NamedOperation::create(name, true, &mutex, &order));
  while (queue->operationCount() > 1) std::this_thread::yield();
  EXPECT_FALSE(late->isFinished());
  late->makeReady();
  queue->waitUntilAllOperationsAreFinished();
  std::lock_guard lock(mutex);
  EXPECT_EQ(order, "abcdefghL");
}

TEST(OperationQueueTest, AddingAnUnfinishedOperationAgainRunsItOnce) {
  auto queue = OperationQueue::create();
  queue->setMaxConcurrentOperationCount(0);
  std::mutex mutex;
  std::string order;
  auto operation = NamedOperation::create('x', true, &mutex, &order);
  queue->addOperation(operation);
  queue->addOperation(operation);
  EXPECT_EQ(queue->operationCount(), 1u);
  queue->setMaxConcurrentOperationCount(2);
  queue->waitUntilAllOperationsAreFinished();
  std::lock_guard lock(mutex);
  EXPECT_EQ(order, "x");
}

TEST(OperationQueueTest, CompletionBlockRunsOnceAfterFinish) {
  auto queue = OperationQueue::create();
  auto operation = Operation::create();
  std::atomic<int> completions{0};
  operation->setCompletionBlock([&] { ++completions; });
  queue->addOperation(operation);
  queue->waitUntilAllOperationsAreFinished();
  EXPECT_TRUE(operation->isFinished());
  // The block may run just after the queue drops the operation; wait for it.
  while (completions == 0) std::this_thread::yield();
  EXPECT_EQ(completions, 1);
}

}  // namespace
}  // namespace platform
