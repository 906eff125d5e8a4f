// A listener out of descriptors: accept fails with EMFILE, and the listener must wait (instead of
// retrying on every wake-up) until an accepted socket of its own closes or the back-off delay has
// passed on the clock. The listener's accept call fails as a process at its descriptor limit
// fails, while the connection waits in the real backlog; starving the whole test process of
// descriptors instead would starve every other thread in it as well.

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>

#include "SocketHarness.h"
#include "platform/foundation/Clock.h"
#include "support/MainLoop.h"

using namespace sockettest;

namespace {

std::atomic<bool> outOfDescriptors{false};
std::atomic<int> refusedAccepts{0};

int acceptUnlessOutOfDescriptors(int fd, sockaddr* address, socklen_t* length, int flags) {
  if (outOfDescriptors) {
    ++refusedAccepts;
    errno = EMFILE;
    return -1;
  }
  return ::accept4(fd, address, length, flags);
}

// While it lives, every listener's accept fails with EMFILE until `freeOne` is called.
class DescriptorShortage {
 public:
  DescriptorShortage() {
    refusedAccepts = 0;
    outOfDescriptors = true;
    DispatchSocket::setAcceptCallForTesting(&acceptUnlessOutOfDescriptors);
  }
  ~DescriptorShortage() {
    outOfDescriptors = false;
    DispatchSocket::setAcceptCallForTesting(nullptr);
  }
  DescriptorShortage(const DescriptorShortage&) = delete;
  DescriptorShortage& operator=(const DescriptorShortage&) = delete;
  // A descriptor is to be had again, for the next accept to take.
  void freeOne() { outOfDescriptors = false; }
  int refused() const { return refusedAccepts; }
};

// A client socket made now, connected once the shortage has begun.
int unconnectedClient() { return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0); }

void connectTo(int fd, std::uint16_t port) {
  socklen_t length = 0;
  auto address = socketAddress("127.0.0.1", port, &length);
  ASSERT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&address), length), 0);
}

bool eventually(const std::function<bool()>& condition) {
  return testsupport::runUntil(condition, 30);
}

}  // namespace

TEST(AcceptBackOffTest, OutOfDescriptorsTheListenerWaitsForTheBackOffOnTheClock) {
  platform::ScopedManualClock clock;
  Server server("127.0.0.1");
  const int late = unconnectedClient();
  ASSERT_GE(late, 0);
  {
    DescriptorShortage shortage;
    connectTo(late, server.port);
    ASSERT_TRUE(eventually([&] { return server.listener->isAcceptPaused(); }))
        << "the listener keeps retrying accept";
    const int refusedAtPause = shortage.refused();
    server.listener->performBlock([] {});
    EXPECT_EQ(shortage.refused(), refusedAtPause) << "a paused listener still calls accept";
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
    connectTo(late, server.port);
    ASSERT_TRUE(eventually([&] { return server.listener->isAcceptPaused(); }));
    // Its descriptor is the one the waiting connection gets, with the clock standing still.
    shortage.freeOne();
    firstAccepted->disconnect();
    EXPECT_TRUE(server.accepted(2));
    EXPECT_FALSE(server.listener->isAcceptPaused());
  }
  ::close(late);
}

TEST(AcceptBackOffTest, ClosingAPausedListenerClosesItsDescriptor) {
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
