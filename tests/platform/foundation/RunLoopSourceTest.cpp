#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Thread.h"

using namespace platform;

namespace {

constexpr const char* kOtherMode = "OtherMode";

// A connected pair of stream sockets, closed at the end of the test.
struct SocketPair {
  SocketPair() { EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds), 0); }
  ~SocketPair() {
    for (int fd : fds) ::close(fd);
  }
  int fds[2] = {-1, -1};
};

class RunLoopSourceTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (auto& source : sources_) source->invalidate();
    loop_->runUntil([&] { return loop_->pendingCount() == 0; }, seconds(5));
  }
  std::shared_ptr<RunLoopSource> watch(int fd, unsigned interest, RunLoopSource::Callback cb) {
    auto source = RunLoopSource::create(fd, interest, std::move(cb));
    sources_.push_back(source);
    return source;
  }

  std::shared_ptr<RunLoop> loop_ = RunLoop::current();
  std::vector<std::shared_ptr<RunLoopSource>> sources_;
};

TEST_F(RunLoopSourceTest, ReadableSourceFiresOnTheLoopThreadUntilItLowersItsInterest) {
  SocketPair pair;
  std::string received;
  int calls = 0;
  std::shared_ptr<RunLoopSource> source;
  source = watch(pair.fds[0], RunLoopSource::kReadable, [&](unsigned events) {
    EXPECT_TRUE(loop_->isCurrent());
    EXPECT_EQ(events, RunLoopSource::kReadable);
    ++calls;
    char buf[16];
    ssize_t n = ::read(pair.fds[0], buf, sizeof buf);
    if (n > 0) received.append(buf, static_cast<std::size_t>(n));
    if (received == "ping") source->disable(RunLoopSource::kReadable);
  });
  loop_->addSource(source);
  // Written from another thread while the loop sleeps in poll.
  auto writer = Thread::start("writer", [&] { ASSERT_EQ(::write(pair.fds[1], "ping", 4), 4); });
  EXPECT_TRUE(loop_->runUntil([&] { return received == "ping"; }));
  writer->join();
  int seen = calls;
  ASSERT_EQ(::write(pair.fds[1], "more", 4), 4);
  loop_->runFor(std::chrono::milliseconds(20));
  EXPECT_EQ(calls, seen) << "a source without interest is not called";
  loop_->removeSource(source);
}

TEST_F(RunLoopSourceTest, WritableAndHangUpAreReported) {
  SocketPair pair;
  unsigned seen = 0;
  auto source = watch(pair.fds[0], RunLoopSource::kReadable | RunLoopSource::kWritable,
                      [&](unsigned events) { seen |= events; });
  loop_->addSource(source);
  EXPECT_TRUE(loop_->runUntil([&] { return seen == RunLoopSource::kWritable; }));
  seen = 0;
  source->setInterest(RunLoopSource::kReadable);
  ::shutdown(pair.fds[1], SHUT_RDWR);
  EXPECT_TRUE(loop_->runUntil([&] { return seen == RunLoopSource::kReadable; }));
  loop_->removeSource(source);
}

TEST_F(RunLoopSourceTest, WorkPostedFromAnotherThreadWakesALoopWaitingOnSources) {
  SocketPair pair;
  auto source = watch(pair.fds[0], RunLoopSource::kReadable, [](unsigned) {});
  loop_->addSource(source);
  bool ran = false;
  auto poster = Thread::start("poster", [&] { loop_->perform([&] { ran = true; }); });
  // One run call that sleeps until something happens: only the posted work can end it.
  EXPECT_TRUE(loop_->runOnce(Clock::shared()->monotonicNow() + seconds(20)));
  EXPECT_TRUE(ran);
  poster->join();
  loop_->removeSource(source);
}

TEST_F(RunLoopSourceTest, SourcesWorkAndTimersFireOnlyInTheirModes) {
  SocketPair pair;
  ASSERT_EQ(::write(pair.fds[1], "x", 1), 1);
  std::vector<std::string> fired;
  auto source = watch(pair.fds[0], RunLoopSource::kReadable, [&](unsigned) {
    fired.push_back("source");
    char c;
    (void)::read(pair.fds[0], &c, 1);
  });
  loop_->addSource(source, kOtherMode);
  loop_->perform([&] { fired.push_back("other work"); }, {kOtherMode});
  loop_->perform([&] { fired.push_back("default work"); });
  loop_->perform([&] { fired.push_back("both"); }, {kDefaultRunLoopMode, kOtherMode});
  auto timer = Timer::create(Duration::zero(), false, [&](Timer&) { fired.push_back("timer"); });
  loop_->addTimer(timer, kOtherMode);

  loop_->runFor(std::chrono::milliseconds(20));
  EXPECT_EQ(fired, (std::vector<std::string>{"default work", "both"}));
  EXPECT_EQ(loop_->currentMode(), kDefaultRunLoopMode);

  fired.clear();
  std::string modeInside;
  loop_->perform([&] { modeInside = loop_->currentMode(); }, {kOtherMode});
  EXPECT_TRUE(loop_->runUntil([&] { return fired.size() == 3; }, seconds(10), kOtherMode));
  EXPECT_EQ(fired, (std::vector<std::string>{"timer", "source", "other work"}));
  loop_->runFor(std::chrono::milliseconds(5), kOtherMode);
  EXPECT_EQ(modeInside, kOtherMode);
  EXPECT_EQ(loop_->currentMode(), kDefaultRunLoopMode);
  EXPECT_TRUE(loop_->containsSource(source, kOtherMode));
  EXPECT_FALSE(loop_->containsSource(source, kDefaultRunLoopMode));
  loop_->removeSource(source, kOtherMode);
  EXPECT_FALSE(loop_->containsSource(source, kOtherMode));
}

TEST_F(RunLoopSourceTest, ATimerTakenOutOfItsOnlyModeStaysValidButDoesNotFire) {
  ScopedManualClock clock;
  int fired = 0;
  auto timer = Timer::create(seconds(1), false, [&](Timer&) { ++fired; });
  loop_->addTimer(timer, kOtherMode);
  loop_->addTimer(timer, kDefaultRunLoopMode);
  loop_->removeTimer(timer, kDefaultRunLoopMode);
  loop_->runFor(seconds(2));
  EXPECT_EQ(fired, 0);
  EXPECT_TRUE(timer->isValid());
  loop_->runFor(seconds(1), kOtherMode);
  EXPECT_EQ(fired, 1);
}

}  // namespace
