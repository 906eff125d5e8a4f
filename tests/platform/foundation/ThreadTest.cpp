#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <string>

#include "platform/foundation/Thread.h"
#include "support/Returns.h"

using namespace platform;

namespace {

constexpr auto kPatience = std::chrono::seconds(10);

// Runs `work` on `loop` and hands back what it returned, waiting at most kPatience.
template <class F>
auto onLoop(const std::shared_ptr<RunLoop>& loop, F work) {
  auto promise = std::make_shared<std::promise<decltype(work())>>();
  auto future = promise->get_future();
  loop->perform([promise, work] { promise->set_value(work()); });
  EXPECT_EQ(future.wait_for(kPatience), std::future_status::ready);
  return future.get();
}

std::string kernelNameOfCurrentThread() {
  char buffer[32] = {};
  pthread_getname_np(pthread_self(), buffer, sizeof buffer);
  return buffer;
}

TEST(ThreadTest, MainThreadIsNamedMain) {
  EXPECT_TRUE(Thread::isMainThread());
  EXPECT_EQ(Thread::currentName(), "main");
  EXPECT_EQ(Thread::currentId(), static_cast<long>(getpid()));
}

TEST(ThreadTest, BodyThreadRunsNamedAndEnds) {
  std::string name;
  long id = 0;
  bool main = true;
  auto thread = Thread::start("AnalyticsThread", [&] {
    name = Thread::currentName();
    id = Thread::currentId();
    main = Thread::isMainThread();
  });
  thread->join();
  EXPECT_EQ(thread->name(), "AnalyticsThread");
  EXPECT_EQ(thread->runLoop(), nullptr);
  EXPECT_EQ(name, "AnalyticsThread");
  EXPECT_NE(id, Thread::currentId());
  EXPECT_GT(id, 0);
  EXPECT_FALSE(main);
}

TEST(ThreadTest, LongNamesAreKeptWhileTheKernelGetsAPrefix) {
  struct Case {
    std::string name;
    std::string kernel;
  };
  const Case cases[] = {
      {"short", "short"},
      {"exactly15bytes!", "exactly15bytes!"},
      {"com.chengheng.service-publishing", "com.chengheng.s"},
      // Three-byte characters: the kernel name stops before a character that would not fit.
      {"\xe5\x88\x86\xe6\x9e\x90\xe7\xba\xbf\xe7\xa8\x8b\xe5\x90\x8d\xe5\xad\x97",
       "\xe5\x88\x86\xe6\x9e\x90\xe7\xba\xbf\xe7\xa8\x8b\xe5\x90\x8d"},
      {"ab\xe5\x88\x86\xe6\x9e\x90\xe7\xba\xbf\xe7\xa8\x8b\xe5\x90\x8d",
       "ab\xe5\x88\x86\xe6\x9e\x90\xe7\xba\xbf\xe7\xa8\x8b"},
  };
  for (const auto& c : cases) {
    std::string ours;
    std::string kernel;
    Thread::start("unnamed", [&] {
      Thread::setCurrentName(c.name);
      ours = Thread::currentName();
      kernel = kernelNameOfCurrentThread();
    })->join();
    EXPECT_EQ(ours, c.name);
    EXPECT_EQ(kernel, c.kernel) << c.name;
  }
}

TEST(ThreadTest, RunLoopThreadReceivesWork) {
  auto thread = Thread::startWithRunLoop("worker");
  auto loop = thread->runLoop();
  ASSERT_NE(loop, nullptr);
  EXPECT_FALSE(loop->isCurrent());
  EXPECT_EQ(onLoop(loop, [] { return Thread::currentName(); }), "worker");
  EXPECT_EQ(onLoop(loop, [loop] { return RunLoop::current() == loop && loop->isCurrent(); }), true);
  int value = 0;
  loop->performAndWait([&] { value = 42; });
  EXPECT_EQ(value, 42);
}

TEST(ThreadTest, RunLoopThreadFiresTimersWhenTheManualClockMoves) {
  ScopedManualClock clock;
  auto thread = Thread::startWithRunLoop("timers");
  std::atomic<int> fired{0};
  auto timer = Timer::create(seconds(1), true, [&](Timer&) { ++fired; });
  thread->runLoop()->addTimer(timer);
  clock->advanceSeconds(0.5);
  // A no-op round trip shows the loop looked at the clock and found nothing due.
  thread->runLoop()->performAndWait([] {});
  EXPECT_EQ(fired.load(), 0);
  clock->advanceSeconds(0.5);
  auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (fired.load() < 1 && std::chrono::steady_clock::now() < deadline) {
    thread->runLoop()->performAndWait([] {});
  }
  EXPECT_EQ(fired.load(), 1);
  timer->invalidate();
}

TEST(ThreadTest, DestroyingTheThreadStopsItsLoop) {
  auto thread = Thread::startWithRunLoop("short-lived");
  std::weak_ptr<RunLoop> loop = thread->runLoop();
  ASSERT_TRUE(testsupport::returnsWithin(10, [thread = std::move(thread)]() mutable {
    thread.reset();
  })) << "destroying the thread did not stop its loop";
  EXPECT_TRUE(loop.expired()) << "the thread ended but its loop lives on";
}

TEST(ThreadTest, StopEndsTheThreadEvenInsideANestedRun) {
  auto thread = Thread::startWithRunLoop("nested");
  std::promise<void> entered;
  auto enteredFuture = entered.get_future();
  std::atomic<bool> nestedReturned{false};
  thread->runLoop()->perform([&] {
    entered.set_value();
    RunLoop::current()->runOnce(std::nullopt);  // consumes the stop meant for the thread
    nestedReturned = true;
  });
  ASSERT_EQ(enteredFuture.wait_for(kPatience), std::future_status::ready);
  thread->stop();
  thread->join();  // hanging here is the failure
  EXPECT_TRUE(nestedReturned);
}

TEST(ThreadTest, StopBeforeTheLoopRunsIsNotLost) {
  auto thread = Thread::startWithRunLoop("quick");
  std::weak_ptr<RunLoop> loop = thread->runLoop();
  thread->stop();
  ASSERT_TRUE(testsupport::returnsWithin(10, [thread = std::move(thread)] { thread->join(); }))
      << "a stop made before the loop ran was lost";
  EXPECT_TRUE(loop.expired());
}

TEST(ThreadTest, DetachedThreadRunsOn) {
  auto thread = Thread::startWithRunLoop("detached");
  auto loop = thread->runLoop();
  thread->detach();
  thread.reset();
  EXPECT_EQ(onLoop(loop, [] { return Thread::currentName(); }), "detached");
}

}  // namespace
