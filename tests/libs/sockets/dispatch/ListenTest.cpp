// Listening and accepting over real loopback sockets: interface descriptions, refusals, both
// families on one port, descriptors left behind, and accepted sockets nobody takes.

#include <gtest/gtest.h>

#include "SocketHarness.h"

using namespace sockettest;
using platform::Bytes;
using platform::Error;
using platform::dispatch::Queue;

namespace {

std::string hostAndPort(const std::optional<Bytes>& address) {
  if (!address) return "none";
  return *DispatchSocket::hostFromAddress(*address) + " " +
         std::to_string(DispatchSocket::portFromAddress(*address));
}

// A raw listener on the address `host` and `port` (0: any), an IPv6 one IPv6-only.
int rawListener(const std::string& host, std::uint16_t port) {
  socklen_t length = 0;
  auto address = socketAddress(host, port, &length);
  int fd = ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  if (address.ss_family == AF_INET6) setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0 ||
      ::listen(fd, 4) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

std::uint16_t boundPort(int fd) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  return address.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port)
                                       : ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
}

struct InterfaceCase {
  const char* name;
  std::string description;
  std::uint16_t port;
  std::string expected4;
  std::string expected6;
};

void PrintTo(const InterfaceCase& c, std::ostream* os) { *os << c.name; }

}  // namespace

class InterfaceDescriptionTest : public testing::TestWithParam<InterfaceCase> {};

TEST_P(InterfaceDescriptionTest, BecomesSocketAddresses) {
  const auto& c = GetParam();
  std::optional<Bytes> addr4, addr6;
  DispatchSocket::getInterfaceAddress4(&addr4, &addr6, c.description, c.port);
  EXPECT_EQ(hostAndPort(addr4), c.expected4);
  EXPECT_EQ(hostAndPort(addr6), c.expected6);
  if (addr4) {
    EXPECT_EQ(addr4->size(), 16u);
  }
  if (addr6) {
    EXPECT_EQ(addr6->size(), 28u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InterfaceDescriptionTest,
    testing::Values(
        InterfaceCase{"None", "", 80, "0.0.0.0 80", ":: 80"},
        InterfaceCase{"PortAfterAnEmptyName", ":8080", 0, "0.0.0.0 8080", ":: 8080"},
        InterfaceCase{"Localhost", "localhost", 7, "127.0.0.1 7", "::1 7"},
        InterfaceCase{"LocalhostWithPort", "localhost:8080", 0, "127.0.0.1 8080", "::1 8080"},
        InterfaceCase{"GivenPortWins", "localhost:8080", 9090, "127.0.0.1 9090", "::1 9090"},
        InterfaceCase{"PortOutOfRange", "loopback:99999", 0, "127.0.0.1 0", "::1 0"},
        InterfaceCase{"InterfaceName", "lo", 5, "127.0.0.1 5", "::1 5"},
        InterfaceCase{"IPv4Address", "127.0.0.1:6000", 0, "127.0.0.1 6000", "none"},
        // An IPv6 literal is one address, not a name and a port.
        InterfaceCase{"IPv6Literal", "::1", 6001, "none", "::1 6001"},
        InterfaceCase{"IPv6LiteralLongForm", "0:0:0:0:0:0:0:1", 6002, "none", "::1 6002"},
        InterfaceCase{"BracketedIPv6WithPort", "[::1]:6003", 0, "none", "::1 6003"},
        InterfaceCase{"BracketedIPv6", "[::1]", 6004, "none", "::1 6004"},
        InterfaceCase{"UnclosedBracket", "[::1", 6005, "none", "none"},
        InterfaceCase{"UnknownName", "nosuch0", 1, "none", "none"}));

class ListenTest : public FamilyTest {};

INSTANTIATE_TEST_SUITE_P(Families, ListenTest, testing::Values("127.0.0.1", "::1"), familyName);

TEST_P(ListenTest, AcceptsAConnectionAndKnowsBothEnds) {
  Server server(GetParam());
  EXPECT_NE(server.port, 0);
  EXPECT_FALSE(server.listener->isDisconnected());
  EXPECT_FALSE(server.listener->isConnected());
  EXPECT_EQ(server.listener->localHost(), GetParam());
  bool v6 = GetParam() == "::1";
  EXPECT_EQ(server.listener->isIPv6(), v6);
  EXPECT_EQ(server.listener->isIPv4(), !v6);

  Client client(GetParam(), server.port);
  auto sock = server.accepted();
  ASSERT_TRUE(sock);
  EXPECT_TRUE(sock->isConnected());
  EXPECT_EQ(sock->connectedHost(), GetParam());
  EXPECT_EQ(sock->localPort(), server.port);
  EXPECT_NE(sock->connectedPort(), 0);
  EXPECT_EQ(sock->delegate(), server.recorder);
  EXPECT_EQ(sock->delegateQueue(), server.delegateQueue);
  auto peer = sock->connectedAddress();
  ASSERT_TRUE(peer);
  EXPECT_EQ(DispatchSocket::hostFromAddress(*peer), GetParam());
}

TEST_P(ListenTest, AnIPv6LiteralListensOnThatAddressOnly) {
  if (GetParam() != "::1") GTEST_SKIP() << "IPv6 only";
  Server server("::1");
  EXPECT_TRUE(server.listener->isIPv6());
  EXPECT_FALSE(server.listener->isIPv4());
  EXPECT_EQ(server.listener->localHost(), "::1");
  Client client("::1", server.port);
  EXPECT_TRUE(server.accepted());
}

TEST(ListenBothFamiliesTest, PortZeroPutsBothFamiliesOnOnePort) {
  auto recorder = std::make_shared<Recorder>();
  auto sock = DispatchSocket::create(recorder, Queue::serial("d"));
  Error err;
  ASSERT_TRUE(sock->acceptOnPort(0, &err)) << err.localizedDescription();
  std::uint16_t port = sock->localPort();
  EXPECT_NE(port, 0);
  EXPECT_TRUE(sock->isIPv4());
  EXPECT_EQ(sock->localHost(), "0.0.0.0");
  if (loopbackAvailable("::1")) {
    EXPECT_TRUE(sock->isIPv6());
    // The address data answers for the IPv6 descriptor when both listen.
    EXPECT_EQ(DispatchSocket::hostFromAddress(*sock->localAddress()), "::");
    EXPECT_EQ(DispatchSocket::portFromAddress(*sock->localAddress()), port);
    Client client6("::1", port);
    ASSERT_TRUE(recorder->waitForCount("accept", 1));
  }
  Client client4("127.0.0.1", port);
  ASSERT_TRUE(recorder->waitForCount("accept", loopbackAvailable("::1") ? 2 : 1));
  sock->disconnect();
}

TEST(ListenBothFamiliesTest, WithIPv6OffOnlyIPv4Listens) {
  auto recorder = std::make_shared<Recorder>();
  auto sock = DispatchSocket::create(recorder, Queue::serial("d"));
  sock->setIPv6Enabled(false);
  ASSERT_TRUE(sock->acceptOnPort(0));
  EXPECT_TRUE(sock->isIPv4());
  EXPECT_FALSE(sock->isIPv6());
  sock->disconnect();
}

struct RefusalCase {
  const char* name;
  bool delegate;
  bool delegateQueue;
  bool ipv4;
  bool ipv6;
  std::string interface;
  std::int64_t code;
  std::string text;
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class ListenRefusalTest : public testing::TestWithParam<RefusalCase> {};

TEST_P(ListenRefusalTest, RefusesWithItsReasonAndStaysIdle) {
  const auto& c = GetParam();
  auto recorder = std::make_shared<Recorder>();
  auto sock = DispatchSocket::create(c.delegate ? recorder : std::shared_ptr<Recorder>(),
                                     c.delegateQueue ? Queue::serial("d") : nullptr);
  sock->setIPv4Enabled(c.ipv4);
  sock->setIPv6Enabled(c.ipv6);
  const DescriptorSnapshot before;
  Error err;
  EXPECT_FALSE(sock->acceptOnInterface(c.interface, 0, &err));
  EXPECT_EQ(err.domain(), kDispatchSocketErrorDomain);
  EXPECT_EQ(err.code(), c.code);
  EXPECT_EQ(err.localizedDescription(), c.text);
  EXPECT_TRUE(sock->isDisconnected());
  EXPECT_EQ(before.openedSince(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ListenRefusalTest,
    testing::Values(
        RefusalCase{"NoDelegate", false, true, true, true, "", 1,
                    "Attempting to accept without a delegate. Set a delegate first."},
        RefusalCase{"NoDelegateQueue", true, false, true, true, "", 1,
                    "Attempting to accept without a delegate queue. Set a delegate queue first."},
        RefusalCase{"BothFamiliesOff", true, true, false, false, "", 1,
                    "Both IPv4 and IPv6 have been disabled. Must enable at least one protocol "
                    "first."},
        RefusalCase{"UnknownInterface", true, true, true, true, "nosuch0", 2,
                    "Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP "
                    "address."},
        RefusalCase{"IPv4OffOnAnIPv4Address", true, true, false, true, "127.0.0.1", 2,
                    "IPv4 has been disabled and specified interface doesn't support IPv6."},
        RefusalCase{"IPv6OffOnAnIPv6Address", true, true, true, false, "::1", 2,
                    "IPv6 has been disabled and specified interface doesn't support IPv4."}));

TEST(ListenRefusalTest, ASecondAcceptIsRefused) {
  auto recorder = std::make_shared<Recorder>();
  auto sock = DispatchSocket::create(recorder, Queue::serial("d"));
  ASSERT_TRUE(sock->acceptOnInterface("127.0.0.1", 0));
  Error err;
  EXPECT_FALSE(sock->acceptOnInterface("127.0.0.1", 0, &err));
  EXPECT_EQ(err.code(), kDispatchSocketBadConfigError);
  EXPECT_EQ(err.localizedDescription(),
            "Attempting to accept while connected or accepting connections. Disconnect first.");
  EXPECT_FALSE(sock->isDisconnected());
  sock->disconnect();
}

TEST_P(ListenTest, APortInUseGivesTheBindReasonAndLeavesNoDescriptor) {
  int taken = rawListener(GetParam(), 0);
  ASSERT_GE(taken, 0);
  std::uint16_t port = boundPort(taken);
  auto recorder = std::make_shared<Recorder>();
  auto sock = DispatchSocket::create(recorder, Queue::serial("d"));
  const DescriptorSnapshot before;
  Error err;
  EXPECT_FALSE(sock->acceptOnInterface(GetParam(), port, &err));
  EXPECT_EQ(err.domain(), platform::kPOSIXErrorDomain);
  EXPECT_EQ(err.code(), EADDRINUSE);
  EXPECT_EQ(err.userInfo().at(platform::kLocalizedFailureReasonKey),
            platform::Value("Error in bind() function"));
  EXPECT_EQ(before.openedSince(), std::vector<std::string>{});
  EXPECT_TRUE(sock->isDisconnected());
  ::close(taken);
}

// IPv4 binds, IPv6 does not: the IPv4 listener made first is closed again.
TEST(ListenBothFamiliesTest, AFailedSecondFamilyClosesTheFirst) {
  if (!loopbackAvailable("::1")) GTEST_SKIP() << "no IPv6";
  int taken = rawListener("::", 0);
  ASSERT_GE(taken, 0);
  std::uint16_t port = boundPort(taken);
  int free4 = rawListener("0.0.0.0", port);
  if (free4 < 0) {
    ::close(taken);
    GTEST_SKIP() << "the IPv4 port is taken as well";
  }
  ::close(free4);
  auto recorder = std::make_shared<Recorder>();
  auto sock = DispatchSocket::create(recorder, Queue::serial("d"));
  const DescriptorSnapshot before;
  Error err;
  EXPECT_FALSE(sock->acceptOnPort(port, &err));
  EXPECT_EQ(err.code(), EADDRINUSE);
  EXPECT_EQ(before.openedSince(), std::vector<std::string>{});
  EXPECT_FALSE(sock->isIPv4());
  ::close(taken);
}

TEST_P(ListenTest, DisconnectClosesTheListenerOnceAndLeavesConnectionsRunning) {
  Server server(GetParam());
  Client client(GetParam(), server.port);
  auto sock = server.accepted();
  ASSERT_TRUE(sock);
  int listenerFD = -1;
  server.listener->performBlock([&] { listenerFD = server.listener->socketFD(); });
  const DescriptorSnapshot before;
  server.listener->disconnect();
  server.listener->disconnect();
  ASSERT_TRUE(server.recorder->waitForCount("disconnect", 1));
  EXPECT_EQ(server.recorder->events(), (std::vector<std::string>{"accept", "disconnect"}));
  EXPECT_TRUE(server.listener->isDisconnected());
  EXPECT_EQ(server.listener->localPort(), 0);
  EXPECT_TRUE(waitForDescriptorsToClose(before, {listenerFD}));

  // The accepted connection still works.
  sock->readDataToData(DispatchSocket::LFData(), -1, 1);
  client.send("still here\n");
  ASSERT_TRUE(server.recorder->waitForCount("read", 1));
  EXPECT_EQ(server.recorder->eventsStartingWith("read"),
            (std::vector<std::string>{"read 1 still here\n"}));
}

// A delegate that answers nothing of accepting: the connection is closed at once rather than
// left open for as long as the peer cares to hold it.
TEST_P(ListenTest, AnAcceptedSocketNobodyTakesIsClosedAtOnce) {
  struct Indifferent : DispatchSocketDelegate {};
  auto delegate = std::make_shared<Indifferent>();
  auto listener = DispatchSocket::create(delegate, Queue::serial("d"));
  ASSERT_TRUE(listener->acceptOnInterface(GetParam(), 0));
  int listenerFD = -1;
  listener->performBlock([&] { listenerFD = listener->socketFD(); });
  const DescriptorSnapshot before;
  for (int i = 0; i < 3; ++i) {
    Client client(GetParam(), listener->localPort());
    EXPECT_TRUE(client.waitForClose());
  }
  EXPECT_FALSE(delegate->answers(DispatchSocketDelegate::kDidAcceptNewSocket));
  listener->disconnect();
  // Only the listener's descriptor goes; no accepted one stayed open.
  EXPECT_TRUE(waitForDescriptorsToClose(before, {listenerFD}));
}

TEST_P(ListenTest, EachConnectionRunsOnTheQueueTheDelegateGives) {
  struct QueueGiver : Recorder {
    std::shared_ptr<Queue> given = Queue::serial("connection");
    std::shared_ptr<Queue> newSocketQueueForConnectionFromAddress(
        const Bytes& address, const std::shared_ptr<DispatchSocket>&) override {
      record("new-queue " + *DispatchSocket::hostFromAddress(address));
      return given;
    }
  };
  auto recorder = std::make_shared<QueueGiver>();
  Server server(GetParam(), recorder);
  Client client(GetParam(), server.port);
  auto sock = server.accepted();
  ASSERT_TRUE(sock);
  EXPECT_EQ(recorder->events().front(), "new-queue " + GetParam());
  // Work on the given queue counts as being on the socket's queue: no deadlock, inline answer.
  std::uint16_t port = 0;
  recorder->given->sync([&] { port = sock->localPort(); });
  EXPECT_EQ(port, server.port);
}
