// DispatchUdpSocket on loopback, over IPv4 and IPv6: sending and receiving, receive sizes,
// empty datagrams, both families at once, filters, connecting, closing after sends, and the
// choice of a family that has an open descriptor.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <net/route.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/wait.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "SocketHarness.h"
#include "platform/foundation/ApplicationNotifications.h"
#include "platform/foundation/Mutex.h"
#include "platform/foundation/NotificationCenter.h"
#include "sockets/dispatch/DispatchUdpSocket.h"
#include "support/TempHome.h"

using namespace sockettest;
using platform::Bytes;
using platform::MutexLock;

namespace {

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

std::string describe(const platform::Error& err) {
  return err.domain() + " " + std::to_string(err.code());
}

// Events as text: "connect <host> <port>", "not-connect <text>", "sent <tag>",
// "not-sent <tag> <domain> <code>", "receive <data> from <host>", "close" or
// "close <domain> <code>".
class UdpRecorder : public DispatchUdpSocketDelegate {
 public:
  void udpSocketDidConnectToAddress(const std::shared_ptr<DispatchUdpSocket>&,
                                    const Bytes& address) override {
    record("connect " + DispatchUdpSocket::hostFromAddress(address).value_or("?") + " " +
           std::to_string(DispatchUdpSocket::portFromAddress(address)));
  }
  void udpSocketDidNotConnect(const std::shared_ptr<DispatchUdpSocket>&,
                              const platform::Error& error) override {
    record("not-connect " + error.localizedDescription());
  }
  void udpSocketDidSendDataWithTag(const std::shared_ptr<DispatchUdpSocket>&, long tag) override {
    record("sent " + std::to_string(tag));
  }
  void udpSocketDidNotSendDataWithTag(const std::shared_ptr<DispatchUdpSocket>&, long tag,
                                      const platform::Error& error) override {
    record("not-sent " + std::to_string(tag) + " " + describe(error));
  }
  void udpSocketDidReceiveData(const std::shared_ptr<DispatchUdpSocket>&, const Bytes& data,
                               const Bytes& address, const std::shared_ptr<void>&) override {
    {
      MutexLock lock(mutex_);
      sizes_.push_back(data.size());
    }
    record("receive " + std::string(data.begin(), data.end()) + " from " +
           DispatchUdpSocket::hostFromAddress(address).value_or("?"));
  }
  void udpSocketDidClose(const std::shared_ptr<DispatchUdpSocket>&,
                         const std::optional<platform::Error>& error) override {
    record(error ? "close " + describe(*error) : "close");
  }

  std::vector<std::string> events() const EXCLUDES(mutex_) {
    MutexLock lock(mutex_);
    return events_;
  }
  std::vector<std::size_t> sizes() const EXCLUDES(mutex_) {
    MutexLock lock(mutex_);
    return sizes_;
  }
  bool waitForCount(const std::string& prefix, std::size_t n) EXCLUDES(mutex_) {
    MutexLock lock(mutex_);
    return changed_.wait_for(lock.native(), kPatience,
                             [&]() REQUIRES(mutex_) { return countLocked(prefix) >= n; });
  }
  bool quietFor(const std::string& prefix, int ms) EXCLUDES(mutex_) {
    MutexLock lock(mutex_);
    std::size_t before = countLocked(prefix);
    return !changed_.wait_for(lock.native(), std::chrono::milliseconds(ms),
                              [&]() REQUIRES(mutex_) { return countLocked(prefix) > before; });
  }
  std::vector<std::string> startingWith(const std::string& prefix) const EXCLUDES(mutex_) {
    MutexLock lock(mutex_);
    std::vector<std::string> found;
    for (const auto& e : events_)
      if (e.rfind(prefix, 0) == 0) found.push_back(e);
    return found;
  }

 private:
  void record(std::string event) EXCLUDES(mutex_) {
    MutexLock lock(mutex_);
    events_.push_back(std::move(event));
    changed_.notify_all();
  }
  std::size_t countLocked(const std::string& prefix) const REQUIRES(mutex_) {
    std::size_t n = 0;
    for (const auto& e : events_)
      if (e.rfind(prefix, 0) == 0) ++n;
    return n;
  }

  mutable platform::Mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> events_ GUARDED_BY(mutex_);
  std::vector<std::size_t> sizes_ GUARDED_BY(mutex_);
};

// A plain datagram socket for the other end.
class Peer {
 public:
  explicit Peer(const std::string& host) {
    socklen_t length = 0;
    auto address = socketAddress(host, 0, &length);
    fd_ = ::socket(address.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&address), length);
  }
  ~Peer() { ::close(fd_); }
  void sendTo(const Bytes& address, const Bytes& data) {
    ::sendto(fd_, data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(address.data()),
             static_cast<socklen_t>(address.size()));
  }
  // One datagram, within the patience.
  std::optional<std::string> receive() {
    pollfd pfd{fd_, POLLIN, 0};
    if (::poll(&pfd, 1, 30000) != 1) return std::nullopt;
    char buffer[65536];
    ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    return n < 0 ? std::nullopt : std::optional(std::string(buffer, static_cast<std::size_t>(n)));
  }
  // One datagram and the port it came from, within the patience.
  std::pair<std::string, std::uint16_t> receiveFrom() {
    pollfd pfd{fd_, POLLIN, 0};
    if (::poll(&pfd, 1, 30000) != 1) return {};
    char buffer[65536];
    sockaddr_storage from{};
    socklen_t length = sizeof from;
    ssize_t n =
        ::recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
    if (n < 0) return {};
    const auto* first = reinterpret_cast<const std::uint8_t*>(&from);
    return {std::string(buffer, static_cast<std::size_t>(n)),
            DispatchUdpSocket::portFromAddress(Bytes(first, first + length))};
  }
  std::uint16_t port() const {
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&bound), &length);
    const auto* first = reinterpret_cast<const std::uint8_t*>(&bound);
    return DispatchUdpSocket::portFromAddress(Bytes(first, first + length));
  }

 private:
  int fd_ = -1;
};

// Whether this host refuses a datagram to `broadcast` from a socket without broadcast enabled, as
// Linux does (EACCES); nothing is sent when it does.
bool refusesBroadcast(const Bytes& broadcast) {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const char byte = 'x';
  bool refused = ::sendto(fd, &byte, 1, 0, reinterpret_cast<const sockaddr*>(broadcast.data()),
                          static_cast<socklen_t>(broadcast.size())) < 0 &&
                 errno == EACCES;
  ::close(fd);
  return refused;
}

class UdpFixture {
 protected:
  void makeSocket() {
    recorder = std::make_shared<UdpRecorder>();
    delegateQueue = platform::dispatch::Queue::serial("test.udp.delegate");
    sock = DispatchUdpSocket::create(recorder, delegateQueue);
  }
  void closeSocket() {
    if (sock) sock->close();
    if (delegateQueue) drain(delegateQueue);
  }

  std::shared_ptr<UdpRecorder> recorder;
  std::shared_ptr<platform::dispatch::Queue> delegateQueue;
  std::shared_ptr<DispatchUdpSocket> sock;
};

class UdpTest : public FamilyTest, protected UdpFixture {
 protected:
  void SetUp() override {
    FamilyTest::SetUp();
    if (IsSkipped()) return;
    makeSocket();
    platform::Error err;
    ASSERT_TRUE(sock->bindToAddress(addressOf(GetParam(), 0), &err)) << err.localizedDescription();
    port = sock->localPort();
    ASSERT_NE(port, 0);
  }
  void TearDown() override { closeSocket(); }
  Bytes here() const { return addressOf(GetParam(), port); }

  std::uint16_t port = 0;
};

}  // namespace

TEST_P(UdpTest, SendsAndReceivesDatagrams) {
  Peer peer(GetParam());
  ASSERT_TRUE(sock->beginReceiving());
  peer.sendTo(here(), bytesOf("one"));
  peer.sendTo(here(), bytesOf("two"));
  ASSERT_TRUE(recorder->waitForCount("receive", 2));
  EXPECT_EQ(recorder->startingWith("receive"),
            (std::vector<std::string>{"receive one from " + GetParam(),
                                      "receive two from " + GetParam()}));

  sock->sendData(bytesOf("back"), addressOf(GetParam(), peer.port()), -1, 5);
  EXPECT_EQ(peer.receive(), "back");
  ASSERT_TRUE(recorder->waitForCount("sent", 1));
  EXPECT_EQ(recorder->startingWith("sent"), std::vector<std::string>{"sent 5"});
}

TEST_P(UdpTest, ALongDatagramIsCutToTheReceiveSize) {
  Peer peer(GetParam());
  ASSERT_TRUE(sock->receiveOnce());
  peer.sendTo(here(), Bytes(10000, 'x'));
  ASSERT_TRUE(recorder->waitForCount("receive", 1));
  EXPECT_EQ(recorder->sizes(), std::vector<std::size_t>{9216});
}

// Only the long datagram is cut; those waiting behind it arrive whole.
TEST_P(UdpTest, ACutDatagramLeavesTheNextOnesWhole) {
  Peer peer(GetParam());
  peer.sendTo(here(), Bytes(10000, 'x'));
  peer.sendTo(here(), Bytes(2000, 'y'));
  peer.sendTo(here(), Bytes(3000, 'z'));
  ASSERT_TRUE(sock->beginReceiving());
  ASSERT_TRUE(recorder->waitForCount("receive", 3));
  EXPECT_EQ(recorder->sizes(), (std::vector<std::size_t>{9216, 2000, 3000}));
  EXPECT_FALSE(sock->isClosed());
}

TEST_P(UdpTest, AnEmptyDatagramIsTakenOffWithoutClosingTheSocket) {
  Peer peer(GetParam());
  ASSERT_TRUE(sock->beginReceiving());
  peer.sendTo(here(), Bytes());
  peer.sendTo(here(), bytesOf("after"));
  ASSERT_TRUE(recorder->waitForCount("receive", 1));
  EXPECT_EQ(recorder->events(), std::vector<std::string>{"receive after from " + GetParam()});
  EXPECT_FALSE(sock->isClosed());
  // An empty datagram arriving while nothing else waits, too.
  peer.sendTo(here(), Bytes());
  peer.sendTo(here(), bytesOf("still"));
  ASSERT_TRUE(recorder->waitForCount("receive", 2));
  EXPECT_FALSE(sock->isClosed());
}

TEST_P(UdpTest, ReceivingOnceThroughAnAsynchronousFilterWaitsForADatagramItLetsThrough) {
  Peer peer(GetParam());
  auto filterQueue = platform::dispatch::Queue::serial("test.udp.filter");
  sock->setReceiveFilter(
      [](const Bytes& data, const Bytes&, std::shared_ptr<void>* context) {
        *context = std::make_shared<int>(7);
        return std::string(data.begin(), data.end()) != "drop";
      },
      filterQueue);
  ASSERT_TRUE(sock->receiveOnce());
  peer.sendTo(here(), bytesOf("drop"));
  peer.sendTo(here(), bytesOf("keep"));
  peer.sendTo(here(), bytesOf("later"));
  ASSERT_TRUE(recorder->waitForCount("receive", 1));
  EXPECT_TRUE(recorder->quietFor("receive", 100));
  EXPECT_EQ(recorder->events(), std::vector<std::string>{"receive keep from " + GetParam()});
  ASSERT_TRUE(sock->receiveOnce());
  ASSERT_TRUE(recorder->waitForCount("receive", 2));
  EXPECT_EQ(recorder->events().back(), "receive later from " + GetParam());
}

TEST_P(UdpTest, ReturningToTheForegroundWhileNotReceivingDeliversNothing) {
  Peer peer(GetParam());
  ASSERT_TRUE(sock->receiveOnce());
  peer.sendTo(here(), bytesOf("one"));
  peer.sendTo(here(), bytesOf("two"));
  ASSERT_TRUE(recorder->waitForCount("receive", 1));
  // "two" waits unread with the receive source suspended; the foreground resumes the source, and
  // its read event finds the socket not receiving.
  platform::NotificationCenter::defaultCenter().post(
      platform::kApplicationWillEnterForegroundNotification);
  sock->performBlock([] {});
  EXPECT_TRUE(recorder->quietFor("receive", 100));
  ASSERT_TRUE(sock->receiveOnce());
  ASSERT_TRUE(recorder->waitForCount("receive", 2));
  EXPECT_EQ(recorder->startingWith("receive"),
            (std::vector<std::string>{"receive one from " + GetParam(),
                                      "receive two from " + GetParam()}));
}

TEST_P(UdpTest, AGoneSocketNoLongerHearsTheForeground) {
  std::weak_ptr<DispatchUdpSocket> gone = sock;
  closeSocket();
  sock.reset();
  // Work the close queued may hold the socket a moment longer.
  for (auto until = std::chrono::steady_clock::now() + kPatience;
       !gone.expired() && std::chrono::steady_clock::now() < until;)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_TRUE(gone.expired());
  platform::NotificationCenter::defaultCenter().post(
      platform::kApplicationWillEnterForegroundNotification);
}

TEST_P(UdpTest, ClosingAfterSendingSendsWhatIsQueuedFirst) {
  Peer peer(GetParam());
  auto to = addressOf(GetParam(), peer.port());
  sock->sendData(bytesOf("a"), to, -1, 1);
  sock->sendData(bytesOf("b"), to, -1, 2);
  sock->closeAfterSending();
  ASSERT_TRUE(recorder->waitForCount("close", 1));
  EXPECT_EQ(recorder->events(), (std::vector<std::string>{"sent 1", "sent 2", "close"}));
  EXPECT_EQ(peer.receive(), "a");
  EXPECT_EQ(peer.receive(), "b");
  EXPECT_TRUE(sock->isClosed());
}

// A send asked for after the close after sending is dropped: it must not open new descriptors
// once the close was reported.
TEST_P(UdpTest, ASendAfterClosingAfterSendingOpensNoDescriptor) {
  Peer peer(GetParam());
  auto to = addressOf(GetParam(), peer.port());
  const DescriptorSnapshot before;
  sock->sendData(bytesOf("a"), to, -1, 1);
  sock->closeAfterSending();
  sock->sendData(bytesOf("late"), to, -1, 2);
  ASSERT_TRUE(recorder->waitForCount("close", 1));
  // Everything queued on the socket queue and the delegate queue has run.
  sock->performBlock([] {});
  drain(delegateQueue);
  EXPECT_TRUE(waitForDescriptorsClosedSince(before));
  EXPECT_EQ(recorder->events(), (std::vector<std::string>{"sent 1", "close"}));
  EXPECT_EQ(peer.receive(), "a");
  EXPECT_TRUE(sock->isClosed());

  // A socket opened again by a bind sends again.
  platform::Error err;
  ASSERT_TRUE(sock->bindToAddress(addressOf(GetParam(), 0), &err)) << err.localizedDescription();
  sock->sendData(bytesOf("again"), to, -1, 3);
  EXPECT_EQ(peer.receive(), "again");
  ASSERT_TRUE(recorder->waitForCount("sent", 2));
}

// The kernel's refusal of one datagram (too long, a broadcast not allowed) fails that datagram
// only: the socket keeps its port, its receiving and the datagrams queued behind it.
TEST_P(UdpTest, ADatagramTheSystemRefusesFailsOnlyThatDatagram) {
  Peer peer(GetParam());
  ASSERT_TRUE(sock->beginReceiving());
  struct Refused {
    Bytes data;
    Bytes to;
    int error;
  };
  std::vector<Refused> refused{{Bytes(70000, 'x'), addressOf(GetParam(), peer.port()), EMSGSIZE}};
  // The loopback's broadcast address, without broadcast enabled on the socket.
  const Bytes broadcast = addressOf("127.255.255.255", peer.port());
  if (GetParam() == "127.0.0.1" && refusesBroadcast(broadcast))
    refused.push_back({bytesOf("everyone"), broadcast, EACCES});
  long tag = 1;
  for (const auto& datagram : refused) sock->sendData(datagram.data, datagram.to, -1, tag++);
  sock->sendData(bytesOf("fine"), addressOf(GetParam(), peer.port()), -1, tag);
  ASSERT_TRUE(recorder->waitForCount("sent", 1));

  std::vector<std::string> expected;
  tag = 1;
  for (const auto& datagram : refused)
    expected.push_back("not-sent " + std::to_string(tag++) + " " +
                       describe(platform::Error::posix(datagram.error)));
  expected.push_back("sent " + std::to_string(tag));
  EXPECT_EQ(recorder->events(), expected);
  EXPECT_EQ(peer.receiveFrom(), std::make_pair(std::string("fine"), port));
  EXPECT_FALSE(sock->isClosed());
  EXPECT_EQ(sock->localPort(), port);

  peer.sendTo(here(), bytesOf("still"));
  ASSERT_TRUE(recorder->waitForCount("receive", 1));
  EXPECT_EQ(recorder->startingWith("receive"),
            std::vector<std::string>{"receive still from " + GetParam()});
}

TEST_P(UdpTest, AConnectedSocketHearsOnlyItsPeer) {
  Peer peer(GetParam());
  Peer stranger(GetParam());
  ASSERT_TRUE(sock->connectToAddress(addressOf(GetParam(), peer.port())));
  ASSERT_TRUE(recorder->waitForCount("connect", 1));
  EXPECT_EQ(recorder->events()[0], "connect " + GetParam() + " " + std::to_string(peer.port()));
  EXPECT_TRUE(sock->isConnected());
  ASSERT_TRUE(sock->beginReceiving());
  stranger.sendTo(here(), bytesOf("stranger"));
  peer.sendTo(here(), bytesOf("peer"));
  ASSERT_TRUE(recorder->waitForCount("receive", 1));
  EXPECT_TRUE(recorder->quietFor("receive", 50));
  EXPECT_EQ(recorder->startingWith("receive"),
            std::vector<std::string>{"receive peer from " + GetParam()});
  sock->sendData(bytesOf("reply"), -1, 3);
  EXPECT_EQ(peer.receive(), "reply");
}

// A destination whose family has no open descriptor fails that one datagram (or connect); the
// socket stays open and goes on sending.
TEST_P(UdpTest, ADestinationOfAFamilyWithoutADescriptorFailsOnlyThatDatagram) {
  const std::string other = GetParam() == "::1" ? "127.0.0.1" : "::1";
  if (!loopbackAvailable(other)) GTEST_SKIP() << other << " is not available here";
  Peer peer(GetParam());
  sock->sendData(bytesOf("lost"), addressOf(other, 9), -1, 1);
  sock->sendData(bytesOf("fine"), addressOf(GetParam(), peer.port()), -1, 2);
  ASSERT_TRUE(recorder->waitForCount("sent", 1));
  auto events = recorder->events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0], "not-sent 1 DispatchUdpSocketErrorDomain 5");
  EXPECT_EQ(events[1], "sent 2");
  EXPECT_EQ(peer.receive(), "fine");
  EXPECT_FALSE(sock->isClosed());

  ASSERT_TRUE(sock->connectToAddress(addressOf(other, 9)));
  ASSERT_TRUE(recorder->waitForCount("not-connect", 1));
  EXPECT_FALSE(sock->isClosed());
  EXPECT_FALSE(sock->isConnected());
}

INSTANTIATE_TEST_SUITE_P(Families, UdpTest, testing::Values("127.0.0.1", "::1"), familyName);

class UdpBothFamiliesTest : public testing::Test, protected UdpFixture {
 protected:
  void SetUp() override {
    if (!loopbackAvailable("::1")) GTEST_SKIP() << "::1 is not available here";
    makeSocket();
  }
  void TearDown() override { closeSocket(); }
};

TEST_F(UdpBothFamiliesTest, OneSocketReceivesOnBothFamiliesOnOnePort) {
  ASSERT_TRUE(sock->bindToPort(0));
  std::uint16_t port = sock->localPort_IPv4();
  ASSERT_NE(port, 0);
  EXPECT_EQ(sock->localPort_IPv6(), port);
  Peer peer4("127.0.0.1");
  Peer peer6("::1");
  for (int i = 0; i < 3; ++i) {
    peer4.sendTo(addressOf("127.0.0.1", port), bytesOf("v4"));
    peer6.sendTo(addressOf("::1", port), bytesOf("v6"));
  }
  ASSERT_TRUE(sock->beginReceiving());
  ASSERT_TRUE(recorder->waitForCount("receive", 6));
  EXPECT_EQ(recorder->startingWith("receive v4 from 127.0.0.1").size(), 3u);
  EXPECT_EQ(recorder->startingWith("receive v6 from ::1").size(), 3u);
}

// "localhost" resolves to both loopback addresses; with IPv6 switched off but preferred, only
// the IPv4 descriptor is open, and that is the one used.
TEST_F(UdpBothFamiliesTest, AResolvedHostIsSentToThroughAnOpenEnabledFamilyOnly) {
  sock->setIPv6Enabled(false);
  sock->setPreferIPv6();
  Peer peer4("127.0.0.1");
  sock->sendData(bytesOf("hello"), "localhost", peer4.port(), -1, 4);
  EXPECT_EQ(peer4.receive(), "hello");
  ASSERT_TRUE(recorder->waitForCount("sent", 1));
  EXPECT_EQ(recorder->events(), std::vector<std::string>{"sent 4"});
  EXPECT_FALSE(sock->isClosed());
  EXPECT_FALSE(sock->isIPv6());
}

TEST(UdpRefusalTest, OperationsThatCannotRunSayWhy) {
  auto recorder = std::make_shared<UdpRecorder>();
  auto queue = platform::dispatch::Queue::serial("test.udp.refusals");
  auto sock = DispatchUdpSocket::create(recorder, queue);
  platform::Error err;
  EXPECT_FALSE(sock->receiveOnce(&err));
  EXPECT_EQ(err.localizedDescription(),
            "Must bind socket before you can receive data. You can do this explicitly via bind, "
            "or implicitly via connect or by sending data.");
  EXPECT_FALSE(sock->joinMulticastGroup("239.1.2.3", &err));
  EXPECT_EQ(err.localizedDescription(), "Must bind a socket before joining a multicast group.");
  EXPECT_FALSE(sock->bindToAddress(Bytes(20, 0), &err));
  EXPECT_EQ(err.localizedDescription(), "A valid IPv4 or IPv6 address was not given");
  ASSERT_TRUE(sock->bindToPort(0, "127.0.0.1", &err));
  EXPECT_FALSE(sock->bindToPort(0, &err));
  EXPECT_EQ(err.localizedDescription(), "Cannot bind a socket more than once.");
  EXPECT_FALSE(sock->joinMulticastGroup("not-a-group", &err));
  EXPECT_EQ(err.localizedDescription(), "Unknown group. Specify valid group IP address.");
  EXPECT_FALSE(sock->joinMulticastGroup("ff02::1", &err));
  EXPECT_EQ(err.localizedDescription(),
            "Socket, group, and interface do not have matching IP versions");
  sock->close();
  drain(queue);
  EXPECT_EQ(recorder->events(), std::vector<std::string>{"close"});
  // A second close tells nothing.
  sock->close();
  drain(queue);
  EXPECT_EQ(recorder->events().size(), 1u);

  auto orphan = DispatchUdpSocket::create();
  EXPECT_FALSE(orphan->bindToPort(0, &err));
  EXPECT_EQ(err.localizedDescription(),
            "Attempting to use socket without a delegate. Set a delegate first.");
}

// Membership on the loopback interface: no traffic needs to flow for the join to be checked.
TEST(UdpMulticastTest, JoiningAnIPv4GroupSettlesOnIPv4AndLeavingWorks) {
  auto recorder = std::make_shared<UdpRecorder>();
  auto queue = platform::dispatch::Queue::serial("test.udp.multicast");
  auto sock = DispatchUdpSocket::create(recorder, queue);
  ASSERT_TRUE(sock->bindToPort(0));
  platform::Error err;
  if (!sock->joinMulticastGroup("239.255.42.1", "127.0.0.1", &err)) {
    sock->close();
    drain(queue);
    GTEST_SKIP() << "multicast membership refused here: " << err.localizedDescription();
  }
  EXPECT_TRUE(sock->isIPv4());
  EXPECT_FALSE(sock->isIPv6());
  EXPECT_TRUE(sock->leaveMulticastGroup("239.255.42.1", "127.0.0.1", &err))
      << err.localizedDescription();
  // Leaving again: the system says it is not a member.
  EXPECT_FALSE(sock->leaveMulticastGroup("239.255.42.1", "127.0.0.1", &err));
  EXPECT_EQ(err.domain(), platform::kPOSIXErrorDomain);
  sock->close();
  drain(queue);
}

// --- Multicast, in a network namespace of the test's own ---------------------------------------
// Multicast needs an interface that carries it and a route for the groups; a test may not change
// the machine's, so the outer test forks a child into new user and network namespaces, gives
// their loopback interface multicast and a route for 224.0.0.0/4, and runs the inner test there
// in a fresh process image. Where namespaces are not allowed the test is skipped.

namespace {

constexpr const char* kNamespaceMarkerVariable = "CHENGHENG_TEST_NETNS_MARKER";

// In the child, before exec: loopback up with multicast, and the multicast route through it.
bool prepareLoopbackForMulticast() {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  request.ifr_flags = IFF_UP | IFF_LOOPBACK | IFF_RUNNING | IFF_MULTICAST;
  bool ok = ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
  rtentry route{};
  auto* destination = reinterpret_cast<sockaddr_in*>(&route.rt_dst);
  destination->sin_family = AF_INET;
  destination->sin_addr.s_addr = htonl(0xE0000000);  // 224.0.0.0
  auto* mask = reinterpret_cast<sockaddr_in*>(&route.rt_genmask);
  mask->sin_family = AF_INET;
  mask->sin_addr.s_addr = htonl(0xF0000000);  // /4
  reinterpret_cast<sockaddr_in*>(&route.rt_gateway)->sin_family = AF_INET;
  char device[] = "lo";
  route.rt_dev = device;
  route.rt_flags = RTF_UP;
  ok = ok && ::ioctl(fd, SIOCADDRT, &route) == 0;
  ::close(fd);
  return ok;
}

}  // namespace

class UdpMulticastNamespaceTest : public testing::Test, protected UdpFixture {
 protected:
  void TearDown() override { closeSocket(); }
};

TEST_F(UdpMulticastNamespaceTest, AGroupMemberReceivesWhatIsSentToTheGroupUntilItLeaves) {
  const char* marker = std::getenv(kNamespaceMarkerVariable);
  if (!marker) {
    // The outer test: the inner one runs in the namespaces and leaves a marker when it passed.
    const std::string markerPath = testsupport::makeTempFolder("chengheng-netns") + "/passed";
    const std::string filter = std::string("--gtest_filter=") +
                               testing::UnitTest::GetInstance()->current_test_suite()->name() +
                               "." + testing::UnitTest::GetInstance()->current_test_info()->name();
    // Everything the child needs is made before the fork: a child of a threaded process may
    // only make async-signal-safe calls until it execs.
    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry) environment.emplace_back(*entry);
    environment.push_back(std::string(kNamespaceMarkerVariable) + "=" + markerPath);
    std::vector<char*> environmentPointers;
    for (auto& entry : environment) environmentPointers.push_back(entry.data());
    environmentPointers.push_back(nullptr);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) ::_exit(77);
      if (!prepareLoopbackForMulticast()) ::_exit(78);
      const char* arguments[] = {"sockets_dispatch_tests", filter.c_str(), nullptr};
      ::execve("/proc/self/exe", const_cast<char* const*>(arguments), environmentPointers.data());
      ::_exit(79);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    std::ifstream passed(markerPath);
    const bool markerFound = passed.good();
    std::filesystem::remove_all(std::filesystem::path(markerPath).parent_path());
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "network namespaces are not allowed here";
    ASSERT_NE(WEXITSTATUS(status), 78) << "loopback could not be set up for multicast";
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(markerFound);
    return;
  }

  // The inner test, inside the namespaces.
  const std::string group = "239.255.42.99";
  makeSocket();
  sock->setIPv6Enabled(false);
  platform::Error err;
  ASSERT_TRUE(sock->bindToAddress(addressOf("0.0.0.0", 0), &err)) << err.localizedDescription();
  const std::uint16_t port = sock->localPort();
  ASSERT_TRUE(sock->joinMulticastGroup(group, "127.0.0.1", &err)) << err.localizedDescription();
  ASSERT_TRUE(sock->beginReceiving(&err)) << err.localizedDescription();

  auto senderRecorder = std::make_shared<UdpRecorder>();
  auto senderQueue = platform::dispatch::Queue::serial("test.udp.multicast.sender");
  auto sender = DispatchUdpSocket::create(senderRecorder, senderQueue);
  sender->setIPv6Enabled(false);
  sender->sendData(bytesOf("to the group"), group, port, -1, 1);
  ASSERT_TRUE(recorder->waitForCount("receive", 1));
  // The route has no preferred source, so the sender's address is the system's choice.
  EXPECT_EQ(recorder->startingWith("receive to the group from ").size(), 1u);

  ASSERT_TRUE(sock->leaveMulticastGroup(group, "127.0.0.1", &err)) << err.localizedDescription();
  sender->sendData(bytesOf("after leaving"), group, port, -1, 2);
  ASSERT_TRUE(senderRecorder->waitForCount("sent", 2));
  EXPECT_TRUE(recorder->quietFor("receive", 300));
  sender->close();
  drain(senderQueue);
  if (!HasFailure()) std::ofstream(marker) << "passed";
}
