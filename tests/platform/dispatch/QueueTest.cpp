#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "Probe.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/Semaphore.h"
#include "platform/foundation/Assert.h"
#include "platform/foundation/RunLoop.h"

using namespace platform;
using namespace platform::dispatch;
using dispatchtest::kPatience;
using dispatchtest::Probe;

namespace {

// Runs `work` on a plain thread of its own (not the main thread, not a worker).
void onPlainThread(const std::function<void()>& work) { std::thread(work).join(); }

}  // namespace

TEST(QueueTest, SerialQueueRunsWorkInFifoOrderOneAtATime) {
  auto q = Queue::serial("fifo");
  Probe probe;
  std::atomic<int> running{0};
  std::atomic<bool> overlapped{false};
  constexpr int kItems = 5000;
  for (int i = 0; i < kItems; ++i) {
    q->async([&, i] {
      if (running.fetch_add(1) != 0) overlapped = true;
      running.fetch_sub(1);
      probe.add(i);
    });
  }
  ASSERT_TRUE(probe.waitValues(kItems));
  auto values = probe.values();
  for (int i = 0; i < kItems; ++i) ASSERT_EQ(values[i], i);
  EXPECT_FALSE(overlapped);
}

TEST(QueueTest, SyncRunsInlineBehindEarlierAsyncs) {
  auto q = Queue::serial("inline");
  onPlainThread([&] {
    Probe probe;
    for (int i = 0; i < 200; ++i) q->async([&probe, i] { probe.add(i); });
    std::thread::id ranOn;
    std::size_t seenBefore = 0;
    q->sync([&] {
      ranOn = std::this_thread::get_id();
      seenBefore = probe.values().size();
    });
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_EQ(seenBefore, 200u);
    EXPECT_EQ(q->syncValue([] { return 42; }), 42);
  });
}

TEST(QueueTest, SyncFromManyThreadsIsMutuallyExclusive) {
  auto q = Queue::serial("exclusive");
  long counter = 0;  // guarded only by the queue: TSAN reports any overlap
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 500; ++i) {
        q->sync([&] { ++counter; });
        q->async([&] { ++counter; });
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(q->syncValue([&] { return counter; }), 8 * 500 * 2);
}

// Every pool worker may be blocked in a `sync` on one serial queue while more such calls wait
// behind them on the global queue: the queue must pass itself from one caller to the next
// without needing a free worker.
TEST(QueueTest, ManyGlobalTasksSyncingOnOneSerialQueueAllFinish) {
  // The pool grows to its cap here; a child process keeps those threads away from other tests.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        auto serial = Queue::serial("contended");
        constexpr int kTasks = 2000;
        std::atomic<int> done{0};
        Semaphore finished(0);
        for (int i = 0; i < kTasks; ++i) {
          Queue::global()->async([&] {
            serial->sync([] {});
            if (++done == kTasks) finished.signal();
          });
        }
        // Hundreds of threads hand the queue along one at a time; under ThreadSanitizer on a busy
        // machine that takes tens of seconds. A starved queue never finishes, so a long limit
        // costs nothing when the queue works.
        bool ok = finished.wait(std::chrono::seconds(100));
        std::fprintf(stderr, "%d of %d finished\n", done.load(), kTasks);
        std::_Exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "2000 of 2000 finished");
}

struct IdentityCase {
  const char* name;
  std::function<std::shared_ptr<Queue>()> make;
};
void PrintTo(const IdentityCase& c, std::ostream* os) { *os << c.name; }

class QueueIdentityTest : public testing::TestWithParam<IdentityCase> {};

TEST_P(QueueIdentityTest, CurrentQueueLabelAndSpecificsInsideAsyncAndSync) {
  static int key;
  int value = 7;
  auto q = GetParam().make();
  q->setSpecific(&key, &value);
  struct Seen {
    std::shared_ptr<Queue> queue;
    std::string label;
    void* specific = nullptr;
  };
  auto look = [] {
    return Seen{Queue::current(), Queue::currentLabel(), Queue::getCurrentSpecific(&key)};
  };
  Seen inAsync;
  Probe done;
  q->async([&] {
    inAsync = look();
    done.tick();
  });
  ASSERT_TRUE(done.waitCount(1));
  EXPECT_EQ(inAsync.queue, q);
  EXPECT_EQ(inAsync.label, q->label());
  EXPECT_EQ(inAsync.specific, &value);

  onPlainThread([&] {
    EXPECT_EQ(Queue::current(), nullptr);
    Seen inSync;
    q->sync([&] { inSync = look(); });
    EXPECT_EQ(inSync.queue, q);
    EXPECT_EQ(inSync.specific, &value);
    EXPECT_EQ(Queue::current(), nullptr);
    EXPECT_EQ(Queue::getCurrentSpecific(&key), nullptr);
  });

  q->setSpecific(&key, nullptr);
  EXPECT_EQ(q->getSpecific(&key), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, QueueIdentityTest,
    testing::Values(IdentityCase{"serial", [] { return Queue::serial("id.serial"); }},
                    IdentityCase{"concurrent", [] { return Queue::concurrent("id.concurrent"); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(QueueTest, InnermostSyncIsTheCurrentQueue) {
  static int key;
  int a = 1, b = 2;
  auto qa = Queue::serial("outer");
  auto qb = Queue::serial("inner");
  qa->setSpecific(&key, &a);
  qb->setSpecific(&key, &b);
  std::vector<void*> specifics;
  std::vector<std::string> labels;
  qa->sync([&] {
    qb->sync([&] {
      labels.push_back(Queue::currentLabel());
      specifics.push_back(Queue::getCurrentSpecific(&key));
    });
    labels.push_back(Queue::currentLabel());
    specifics.push_back(Queue::getCurrentSpecific(&key));
  });
  EXPECT_EQ(labels, (std::vector<std::string>{"inner", "outer"}));
  EXPECT_EQ(specifics, (std::vector<void*>{&b, &a}));
}

TEST(QueueTest, MainThreadOutsideOtherQueuesIsOnTheMainQueue) {
  ASSERT_TRUE(RunLoop::isMainThread());
  EXPECT_EQ(Queue::current(), Queue::main());
  EXPECT_EQ(Queue::main()->kind(), Queue::Kind::Main);
  auto q = Queue::serial("on-main");
  q->sync([&] { EXPECT_EQ(Queue::current(), q); });
  EXPECT_EQ(Queue::current(), Queue::main());
}

struct NestedCase {
  const char* name;
  std::function<void()> run;  // must fail the assertion
};
void PrintTo(const NestedCase& c, std::ostream* os) { *os << c.name; }

class NestedSyncTest : public testing::TestWithParam<NestedCase> {};

TEST_P(NestedSyncTest, FailsAnAssertionInsteadOfHanging) {
  EXPECT_THROW(GetParam().run(), AssertionFailure);
}

std::shared_ptr<Queue> sharedA() {
  static auto q = Queue::serial("nested.a");
  return q;
}
std::shared_ptr<Queue> sharedB() {
  static auto q = Queue::serial("nested.b");
  return q;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NestedSyncTest,
    testing::Values(
        NestedCase{"SameQueue", [] { sharedA()->sync([] { sharedA()->sync([] {}); }); }},
        NestedCase{
            "ThroughAnotherQueue",
            [] { sharedA()->sync([] { sharedB()->sync([] { sharedA()->sync([] {}); }); }); }},
        NestedCase{"FromAsyncWork",
                   [] {
                     std::exception_ptr failure;
                     Probe done;
                     sharedA()->async([&] {
                       try {
                         sharedA()->sync([] {});
                       } catch (...) {
                         failure = std::current_exception();
                       }
                       done.tick();
                     });
                     done.waitCount(1);
                     if (failure) std::rethrow_exception(failure);
                   }},
        NestedCase{"MainQueueFromMainThread", [] { Queue::main()->sync([] {}); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(QueueTest, QueuesStayUsableAfterAFailedNestedSync) {
  EXPECT_THROW(sharedA()->sync([] { sharedB()->sync([] { sharedA()->sync([] {}); }); }),
               AssertionFailure);
  EXPECT_EQ(sharedA()->syncValue([] { return 1; }), 1);
  EXPECT_EQ(sharedB()->syncValue([] { return 2; }), 2);
  Probe probe;
  sharedA()->async([&] { probe.tick(); });
  EXPECT_TRUE(probe.waitCount(1));
}

TEST(QueueTest, ThousandsOfSerialQueuesShareAFewThreads) {
  constexpr std::size_t kQueues = 5000;
  std::vector<std::shared_ptr<Queue>> queues;
  Probe probe;
  for (std::size_t i = 0; i < kQueues; ++i) queues.push_back(Queue::serial());
  for (auto& q : queues) {
    for (int j = 0; j < 3; ++j) q->async([&] { probe.noteThread(); });
  }
  ASSERT_TRUE(probe.waitCount(3 * kQueues));
  EXPECT_LT(probe.threadCount(), kQueues / 20);
}

struct BlockingCase {
  const char* name;
  bool visibleToPool;  // a dispatch semaphore, or a wait the pool cannot see
};
void PrintTo(const BlockingCase& c, std::ostream* os) { *os << c.name; }

class PoolGrowthTest : public testing::TestWithParam<BlockingCase> {};

// Every task but the last blocks until the last one runs; more tasks than the pool's base count
// can only finish if the pool grows.
TEST_P(PoolGrowthTest, PoolGrowsWhenEveryWorkerBlocks) {
  const int blockers = static_cast<int>(2 * std::max(4u, std::thread::hardware_concurrency()));
  Semaphore semaphore;
  std::mutex m;
  std::condition_variable cv;
  bool released = false;
  std::atomic<int> started{0};
  Probe finished;
  auto q = Queue::concurrent("blockers");
  for (int i = 0; i <= blockers; ++i) {
    q->async([&] {
      if (started.fetch_add(1) == blockers) {
        for (int j = 0; j < blockers; ++j) semaphore.signal();
        std::lock_guard<std::mutex> g(m);
        released = true;
        cv.notify_all();
      } else if (GetParam().visibleToPool) {
        semaphore.wait(std::chrono::duration_cast<Duration>(kPatience));
      } else {
        std::unique_lock<std::mutex> lock(m);
        cv.wait_for(lock, kPatience, [&] { return released; });
      }
      finished.tick();
    });
  }
  ASSERT_TRUE(finished.waitCount(blockers + 1));
  std::lock_guard<std::mutex> g(m);
  EXPECT_TRUE(released);
}

INSTANTIATE_TEST_SUITE_P(Waits, PoolGrowthTest,
                         testing::Values(BlockingCase{"Semaphore", true},
                                         BlockingCase{"UnseenWait", false}),
                         [](const auto& info) { return std::string(info.param.name); });

class ParallelTest : public testing::TestWithParam<IdentityCase> {};

// Four pieces of work that each wait for all four to have started: only parallel running lets
// them meet.
TEST_P(ParallelTest, ConcurrentQueuesRunWorkInParallel) {
  auto q = GetParam().make();
  constexpr int kParties = 4;
  std::mutex m;
  std::condition_variable cv;
  int arrived = 0;
  Probe met;
  for (int i = 0; i < kParties; ++i) {
    q->async([&] {
      bool together;
      {
        std::unique_lock<std::mutex> lock(m);
        ++arrived;
        cv.notify_all();
        together = cv.wait_for(lock, kPatience, [&] { return arrived == kParties; });
      }
      if (together) met.tick();
    });
  }
  ASSERT_TRUE(met.waitCount(kParties));
}

INSTANTIATE_TEST_SUITE_P(
    Queues, ParallelTest,
    testing::Values(IdentityCase{"concurrent", [] { return Queue::concurrent("parallel"); }},
                    IdentityCase{"high", [] { return Queue::global(Priority::High); }},
                    IdentityCase{"default", [] { return Queue::global(); }},
                    IdentityCase{"low", [] { return Queue::global(Priority::Low); }},
                    IdentityCase{"background", [] { return Queue::global(Priority::Background); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(QueueTest, SuspendIsCountedAndHoldsBackWork) {
  auto q = Queue::serial("suspended");
  Probe probe;
  q->suspend();
  q->suspend();
  for (int i = 0; i < 10; ++i) q->async([&probe, i] { probe.add(i); });
  q->resume();
  // Still suspended once: a barrier through another queue proves time for the work to run.
  Queue::serial()->sync([] {});
  EXPECT_TRUE(probe.values().empty());
  q->resume();
  ASSERT_TRUE(probe.waitValues(10));
  EXPECT_EQ(probe.values(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_THROW(q->resume(), AssertionFailure);
}

TEST(QueueTest, SuspendFromInsideWorkStopsTheNextItem) {
  auto q = Queue::serial("self-suspending");
  Probe probe;
  q->async([&] {
    q->suspend();
    probe.add(1);
  });
  q->async([&] { probe.add(2); });
  ASSERT_TRUE(probe.waitValues(1));
  EXPECT_EQ(probe.values(), std::vector<int>{1});
  q->resume();
  ASSERT_TRUE(probe.waitValues(2));
  EXPECT_EQ(probe.values(), (std::vector<int>{1, 2}));
}

// The drainer takes work in batches; a suspension from inside one still stops the very next
// item, wherever it falls in a batch, and the rest keeps its order after resume.
TEST(QueueTest, SuspendInTheMiddleOfALongBacklogStopsTheNextItem) {
  auto q = Queue::serial("long-backlog");
  Probe probe;
  constexpr int kItems = 300;
  q->suspend();
  for (int i = 0; i < kItems; ++i) {
    q->async([&, i] {
      if (i == 100 || i == 171) q->suspend();
      probe.add(i);
    });
  }
  q->resume();
  ASSERT_TRUE(probe.waitValues(101));
  Queue::serial()->sync([] {});  // time for a wrongly run item to show
  EXPECT_EQ(probe.values().size(), 101u);
  q->resume();
  ASSERT_TRUE(probe.waitValues(172));
  Queue::serial()->sync([] {});
  EXPECT_EQ(probe.values().size(), 172u);
  q->resume();
  ASSERT_TRUE(probe.waitValues(kItems));
  auto values = probe.values();
  for (int i = 0; i < kItems; ++i) ASSERT_EQ(values[i], i);
}

TEST(QueueTest, SyncOntoASuspendedQueueWaitsForResume) {
  auto q = Queue::serial("sync-suspended");
  q->suspend();
  std::atomic<bool> ran{false};
  std::thread caller([&] { q->sync([&] { ran = true; }); });
  EXPECT_FALSE(ran);
  q->resume();
  caller.join();
  EXPECT_TRUE(ran);
}

TEST(QueueTest, MainQueueWorkRunsOnTheMainRunLoopInOrder) {
  Probe probe;
  std::vector<bool> onMain;
  std::vector<std::shared_ptr<Queue>> current;
  onPlainThread([&] {
    for (int i = 0; i < 100; ++i) {
      Queue::main()->async([&, i] {
        onMain.push_back(RunLoop::isMainThread());
        current.push_back(Queue::current());
        probe.add(i);
      });
    }
  });
  ASSERT_TRUE(RunLoop::main()->runUntil([&] { return probe.values().size() == 100; }));
  for (int i = 0; i < 100; ++i) {
    EXPECT_EQ(probe.values()[i], i);
    EXPECT_TRUE(onMain[i]);
    EXPECT_EQ(current[i], Queue::main());
  }
}

TEST(QueueTest, SyncOntoMainQueueFromAnotherThreadRunsOnTheMainThread) {
  std::atomic<bool> done{false};
  bool ranOnMain = false;
  int value = 0;
  std::thread caller([&] {
    value = Queue::main()->syncValue([&] {
      ranOnMain = RunLoop::isMainThread();
      return 5;
    });
    done = true;
  });
  ASSERT_TRUE(RunLoop::main()->runUntil([&] { return done.load(); }));
  caller.join();
  EXPECT_TRUE(ranOnMain);
  EXPECT_EQ(value, 5);
}

TEST(QueueTest, MainQueueSuspendHoldsBackWorkUntilResume) {
  Probe probe;
  Queue::main()->suspend();
  Queue::main()->async([&] { probe.add(1); });
  // Work posted to the run loop directly passes the held work.
  bool marker = false;
  RunLoop::main()->perform([&] { marker = true; });
  ASSERT_TRUE(RunLoop::main()->runUntil([&] { return marker; }));
  EXPECT_TRUE(probe.values().empty());
  Queue::main()->resume();
  Queue::main()->async([&] { probe.add(2); });
  ASSERT_TRUE(RunLoop::main()->runUntil([&] { return probe.values().size() == 2; }));
  EXPECT_EQ(probe.values(), (std::vector<int>{1, 2}));
}

// Main-queue work and work posted to the main run loop directly run in the order they were
// posted, also across posting threads that hand over to each other.
TEST(QueueTest, MainQueueWorkKeepsItsPlaceAmongTheRunLoopsOtherWork) {
  std::vector<int> order;  // main thread only
  onPlainThread([&] {
    for (int i = 0; i < 300; i += 3) {
      Queue::main()->async([&, i] { order.push_back(i); });
      RunLoop::main()->perform([&, i] { order.push_back(i + 1); });
      onPlainThread([&, i] { Queue::main()->async([&, i] { order.push_back(i + 2); }); });
    }
  });
  ASSERT_TRUE(RunLoop::main()->runUntil([&] { return order.size() == 300; }));
  for (int i = 0; i < 300; ++i) ASSERT_EQ(order[i], i);
}

TEST(QueueTest, OnceRunsOnceAcrossThreads) {
  OnceFlag flag;
  std::atomic<int> runs{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) threads.emplace_back([&] { once(flag, [&] { ++runs; }); });
  for (auto& t : threads) t.join();
  EXPECT_EQ(runs, 1);
}
