// A listener at the process's descriptor limit: accept fails with EMFILE, and the listener must
// wait (instead of retrying on every wake-up) until an accepted socket of its own closes or the
// back-off delay has passed on the clock. The limit is lowered for the test and every free
// descriptor number below it is taken, so the next accept cannot get one.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include "SocketHarness.h"
#include "platform/foundation/Clock.h"
#include "support/MainLoop.h"

using namespace sockettest;

namespace {

// Takes every descriptor number the process may still open, under a lowered soft limit; gives
// them back (and the limit) when it goes.
class DescriptorShortage {
 public:
  DescriptorShortage() {
    ::getrlimit(RLIMIT_NOFILE, &saved_);
    int highest = 0;
    for (int fd = 0; fd < 4096; ++fd)
      if (::fcntl(fd, F_GETFD) != -1) highest = fd;
    rlimit lowered = saved_;
    lowered.rlim_cur = static_cast<rlim_t>(highest + 1);
    ::setrlimit(RLIMIT_NOFILE, &lowered);
    fillFreeNumbers();
  }
  ~DescriptorShortage() {
    for (int fd : taken_) ::close(fd);
    ::setrlimit(RLIMIT_NOFILE, &saved_);
  }
  // Gives one number back, for the next accept to take.
  void freeOne() {
    ::close(taken_.back());
    taken_.pop_back();
  }
  void fillFreeNumbers() {
    for (;;) {
      int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
      if (fd < 0) break;
      taken_.push_back(fd);
    }
  }
  bool exhausted() const {
    int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) ::close(fd);
    return fd < 0 && errno == EMFILE;
  }

 private:
  rlimit saved_{};
  std::vector<int> taken_;
};

// A client socket made now (while a descriptor is to be had), connected later.
int unconnectedClient() { return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0); }

void connectTo(int fd, std::uint16_t port) {
  socklen_t length = 0;
  auto address = socketAddress("127.0.0.1", port, &length);
  ASSERT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&address), length), 0);
}

bool eventually(const std::function<bool()>& condition) {
  return testsupport::runUntil(condition, 30);
}

// The sanitizers' runtime checks whether memory can be read through a pipe it opens; with every
// descriptor taken, that check fails and the undefined-behaviour checker reports any object it
// looks at (a worker thread's start, here) as having an invalid type. Such runs prove nothing.
#if defined(__SANITIZE_ADDRESS__)
#define SKIP_WHERE_THE_SANITIZER_NEEDS_DESCRIPTORS() \
  GTEST_SKIP() << "the sanitizer runtime needs free descriptors for its own checks"
#else
#define SKIP_WHERE_THE_SANITIZER_NEEDS_DESCRIPTORS() (void)0
#endif

}  // namespace

TEST(AcceptBackOffTest, OutOfDescriptorsTheListenerWaitsForTheBackOffOnTheClock) {
  SKIP_WHERE_THE_SANITIZER_NEEDS_DESCRIPTORS();
  platform::ScopedManualClock clock;
  Server server("127.0.0.1");
  const int late = unconnectedClient();
  ASSERT_GE(late, 0);
  {
    DescriptorShortage shortage;
    ASSERT_TRUE(shortage.exhausted());
    connectTo(late, server.port);
    ASSERT_TRUE(eventually([&] { return server.listener->isAcceptPaused(); }))
        << "the listener keeps retrying accept";
    shortage.freeOne();
    // Paused: nothing takes the connection until the back-off has passed.
    drain(server.delegateQueue);
    EXPECT_TRUE(server.listener->isAcceptPaused());
    EXPECT_EQ(server.recorder->eventsStartingWith("accept").size(), 0u);
    clock->advanceSeconds(DispatchSocket::kAcceptBackOff);
    EXPECT_TRUE(server.accepted(1));
    EXPECT_FALSE(server.listener->isAcceptPaused());
  }
  ::close(late);
}

TEST(AcceptBackOffTest, AnAcceptedSocketThatClosesLetsTheListenerTakeTheNextConnection) {
  platform::ScopedManualClock clock;
  Server server("127.0.0.1");
  Client first("127.0.0.1", server.port);
  auto firstAccepted = server.accepted(1);
  ASSERT_TRUE(firstAccepted);
  const int late = unconnectedClient();
  ASSERT_GE(late, 0);
  {
    DescriptorShortage shortage;
    ASSERT_TRUE(shortage.exhausted());
    connectTo(late, server.port);
    ASSERT_TRUE(eventually([&] { return server.listener->isAcceptPaused(); }));
    // Its descriptor is the one the waiting connection gets, with the clock standing still.
    firstAccepted->disconnect();
    EXPECT_TRUE(server.accepted(2));
    EXPECT_FALSE(server.listener->isAcceptPaused());
  }
  ::close(late);
}

TEST(AcceptBackOffTest, ClosingAPausedListenerClosesItsDescriptor) {
  SKIP_WHERE_THE_SANITIZER_NEEDS_DESCRIPTORS();
  platform::ScopedManualClock clock;
  Server server("127.0.0.1");
  const int late = unconnectedClient();
  ASSERT_GE(late, 0);
  int listenFD = -1;
  server.listener->performBlock([&] { listenFD = server.listener->socket4FD(); });
  const DescriptorSnapshot before;
  {
    DescriptorShortage shortage;
    connectTo(late, server.port);
    ASSERT_TRUE(eventually([&] { return server.listener->isAcceptPaused(); }));
    server.listener->disconnect();
  }
  EXPECT_TRUE(waitForDescriptorsToClose(before, {listenFD}));
  ::close(late);
}
