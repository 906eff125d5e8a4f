// Work handed to a serial queue on the thread that has it (asyncOnCaller), and the poller role
// idle workers take from the reactor thread.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "Descriptors.h"
#include "Probe.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/Reactor.h"
#include "platform/dispatch/Semaphore.h"
#include "platform/dispatch/SerialQueue.h"
#include "platform/dispatch/Source.h"
#include "platform/dispatch/WorkerPool.h"
#include "platform/foundation/RunLoop.h"

using namespace platform;
using namespace platform::dispatch;
using namespace dispatchtest;

namespace {

std::shared_ptr<SerialQueue> serialQueue(const std::string& label) {
  return std::static_pointer_cast<SerialQueue>(Queue::serial(label));
}

// A read source whose handler takes one byte, then calls `then`.
std::shared_ptr<Source> byteReader(int fd, const std::shared_ptr<Queue>& queue,
                                   std::function<void()> then) {
  auto source = Source::makeRead(fd, queue);
  source->setEventHandler([fd, then = std::move(then)] {
    char c;
    [[maybe_unused]] auto n = ::read(fd, &c, 1);
    then();
  });
  return source;
}

TEST(HandOffTest, AnIdleSerialQueueRunsTheWorkAndWhatItQueuesOnTheCaller) {
  auto q = serialQueue("hand-off-idle");
  const auto caller = std::this_thread::get_id();
  std::vector<std::string> ran;
  bool allHere = true;
  q->asyncOnCaller([&] {
    ran.push_back("first:" + Queue::currentLabel());
    allHere = allHere && std::this_thread::get_id() == caller;
    q->async([&] {
      ran.push_back("queued by it");
      allHere = allHere && std::this_thread::get_id() == caller;
    });
  });
  // Both ran before the call returned, on this thread, with the queue current.
  EXPECT_EQ(ran, (std::vector<std::string>{"first:hand-off-idle", "queued by it"}));
  EXPECT_TRUE(allHere);
  EXPECT_EQ(Queue::current(), Queue::main()) << "the queue is left afterwards";
}

TEST(HandOffTest, ABusyQueueRunsTheWorkAfterWhatRunsNotOnTheCaller) {
  auto q = serialQueue("hand-off-busy");
  Semaphore release;
  Probe started, done;
  std::atomic<int> running{0};
  std::atomic<bool> overlapped{false};
  std::vector<int> order;  // written by the queue's work only
  q->async([&] {
    running.fetch_add(1);
    started.tick();
    release.wait();
    order.push_back(1);
    running.fetch_sub(1);
  });
  ASSERT_TRUE(started.waitCount(1));
  q->asyncOnCaller([&] {
    if (running.fetch_add(1) != 0) overlapped = true;
    order.push_back(2);
    running.fetch_sub(1);
    done.tick();
  });
  EXPECT_EQ(done.count(), 0u) << "the work must wait for the item still running";
  release.signal();
  ASSERT_TRUE(done.waitCount(1));
  q->sync([] {});
  EXPECT_FALSE(overlapped);
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST(HandOffTest, ASuspendedQueueKeepsTheWorkUntilResumed) {
  auto q = serialQueue("hand-off-suspended");
  Probe done;
  q->suspend();
  q->asyncOnCaller([&] { done.tick(); });
  EXPECT_EQ(done.count(), 0u);
  q->resume();
  EXPECT_TRUE(done.waitCount(1));
}

// The worker that took an event gives the poller role back before the handler runs: a handler
// that waits for another descriptor's event must get it, though the worker it runs on is the one
// that was polling.
TEST(HandOffTest, AHandlerBlockingOnThePollingWorkerDoesNotHoldUpOtherEvents) {
  Pipe first, second;
  auto firstQueue = Queue::serial("hand-off-first");
  auto secondQueue = Queue::serial("hand-off-second");
  Semaphore secondRan;
  Probe firstStarted, firstDone;
  std::atomic<bool> sawSecond{false};
  auto blocking = byteReader(first.read, firstQueue, [&] {
    firstStarted.tick();
    sawSecond = secondRan.wait(std::chrono::seconds(10));
    firstDone.tick();
  });
  auto other = byteReader(second.read, secondQueue, [&] { secondRan.signal(); });
  blocking->resume();
  other->resume();
  // A worker takes the role when it next runs out of work.
  Queue::global()->async([] {});
  // Once a worker holds the role, the reactor thread no longer watches: the first event is
  // harvested by that worker, which runs its handler itself (the queue is idle).
  ASSERT_TRUE(RunLoop::main()->runUntil([] { return Reactor::shared().workerPolls(); }, kPatience));
  writeAll(first.write, "a");
  ASSERT_TRUE(firstStarted.waitCount(1));
  writeAll(second.write, "b");
  ASSERT_TRUE(firstDone.waitCount(1));
  EXPECT_TRUE(sawSecond) << "the second descriptor's event waited for the first handler";
  blocking->cancel();
  other->cancel();
  firstQueue->sync([] {});
  secondQueue->sync([] {});
}

// A gate that blocks where the pool cannot see it (no BlockingScope): the pool grows no thread
// for a worker waiting here, so a handler waiting here holds its poller as a busy handler would.
class HiddenGate {
 public:
  void wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait_for(lock, std::chrono::seconds(30), [&] { return open_; });
  }
  void open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    cv_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool open_ = false;
};

// Every polling worker is held by a handler of its own: the reactor thread must watch the
// descriptors again, or the next event would wait until a handler returned.
TEST(HandOffTest, WhenEveryPollerRunsABlockingHandlerTheReactorThreadTakesTheNextEvent) {
  const std::size_t held = 2 * std::max(4u, std::thread::hardware_concurrency()) + 2;
  std::vector<std::unique_ptr<Pipe>> pipes;
  std::vector<std::shared_ptr<Queue>> queues;
  std::vector<std::shared_ptr<Source>> sources;
  HiddenGate gate;
  Probe started;
  for (std::size_t i = 0; i < held; ++i) {
    pipes.push_back(std::make_unique<Pipe>());
    queues.push_back(Queue::serial("hand-off-held"));
    sources.push_back(byteReader(pipes.back()->read, queues.back(), [&] {
      started.tick();
      gate.wait();
    }));
    sources.back()->resume();
  }
  Pipe last;
  auto lastQueue = Queue::serial("hand-off-last");
  Probe lastRan;
  auto lastSource = byteReader(last.read, lastQueue, [&] { lastRan.tick(); });
  lastSource->resume();
  Queue::global()->async([] {});
  ASSERT_TRUE(RunLoop::main()->runUntil([] { return Reactor::shared().workerPolls(); }, kPatience));
  for (auto& pipe : pipes) writeAll(pipe->write, "a");
  // Once as many handlers have started as the pool has threads, every worker is held.
  ASSERT_TRUE(RunLoop::main()->runUntil(
      [&] { return started.count() >= WorkerPool::shared().threadCount(); }, kPatience));
  writeAll(last.write, "b");
  EXPECT_TRUE(lastRan.waitCount(1)) << "an event waited for the handlers that held the pollers";
  gate.open();
  ASSERT_TRUE(started.waitCount(held));
  for (auto& source : sources) source->cancel();
  lastSource->cancel();
  for (auto& queue : queues) queue->sync([] {});
  lastQueue->sync([] {});
}

// Jobs submitted while the idle workers all wait for descriptors' events call pollers away, one
// per job, rather than waiting for an event that may not come.
TEST(HandOffTest, JobsSubmittedWhileWorkersPollRunWithoutWaitingForAnEvent) {
  Pipe watched;
  auto queue = Queue::serial("hand-off-watched");
  auto source = byteReader(watched.read, queue, [] {});
  source->resume();
  Queue::global()->async([] {});
  ASSERT_TRUE(RunLoop::main()->runUntil([] { return Reactor::shared().workerPolls(); }, kPatience));
  for (int round = 0; round < 20; ++round) {
    // Several at once, each blocking until all have started: each needs a worker of its own.
    constexpr int kJobs = 3;
    Probe ran;
    Semaphore allStarted;
    std::atomic<int> count{0};
    for (int i = 0; i < kJobs; ++i) {
      Queue::global()->async([&] {
        if (++count == kJobs) {
          for (int j = 0; j < kJobs; ++j) allStarted.signal();
        }
        allStarted.wait(std::chrono::seconds(30));
        ran.tick();
      });
    }
    // Well under the pollers' own time-out, which would end their wait anyway.
    ASSERT_TRUE(ran.waitCountFor(kJobs, std::chrono::seconds(5))) << "round " << round;
    // Let the workers go back to polling before the next round.
    ASSERT_TRUE(
        RunLoop::main()->runUntil([] { return Reactor::shared().workerPolls(); }, kPatience));
  }
  source->cancel();
  queue->sync([] {});
}

}  // namespace
