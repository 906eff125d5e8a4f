// Outgoing connections on loopback, over IPv4 and IPv6: to a listening port, to a refused one,
// past a time limit, and closed while the connect is still running.

#include <gtest/gtest.h>

#include "SocketHarness.h"
#include "platform/dispatch/Source.h"
#include "platform/dispatch/WorkerPool.h"
#include "platform/foundation/Clock.h"

using namespace sockettest;
using platform::Bytes;
using platform::ScopedManualClock;

namespace {

// A listener with a backlog of 0 whose one queue place is taken by a connection nobody
// accepts: the kernel drops every further SYN, so a connect to it stays pending.
class FullListener {
 public:
  explicit FullListener(const std::string& host) {
    socklen_t length = 0;
    auto address = socketAddress(host, 0, &length);
    fd_ = ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(fd_, 0) != 0)
      throw std::runtime_error("listen");
    sockaddr_storage bound{};
    socklen_t boundLength = sizeof bound;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&bound), &boundLength);
    port_ = ntohs(bound.ss_family == AF_INET ? reinterpret_cast<sockaddr_in*>(&bound)->sin_port
                                             : reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port);
    holder_ = std::make_unique<Client>(host, port_);
  }
  ~FullListener() {
    holder_.reset();
    ::close(fd_);
  }
  std::uint16_t port() const { return port_; }

 private:
  int fd_ = -1;
  std::uint16_t port_ = 0;
  std::unique_ptr<Client> holder_;
};

class ConnectTest : public FamilyTest {
 protected:
  void SetUp() override {
    FamilyTest::SetUp();
    // The dispatch layer's own descriptors open with its first source; counts start after.
    auto timer = platform::dispatch::Source::makeTimer(platform::dispatch::Queue::global());
    timer->setTimer(platform::seconds(3600), std::nullopt);
    timer->resume();
    timer->cancel();
    recorder = std::make_shared<Recorder>();
    delegateQueue = platform::dispatch::Queue::serial("test.connect.delegate");
    sock = DispatchSocket::create(recorder, delegateQueue);
  }
  void TearDown() override {
    if (sock) sock->disconnect();
    if (delegateQueue) drain(delegateQueue);
  }

  std::shared_ptr<Recorder> recorder;
  std::shared_ptr<platform::dispatch::Queue> delegateQueue;
  std::shared_ptr<DispatchSocket> sock;
};

}  // namespace

TEST_P(ConnectTest, ConnectsToAListeningPortAndSendsWhatWasQueuedMeanwhile) {
  Server server(GetParam());
  // Requests made while the connection is being set up wait for it.
  ASSERT_TRUE(sock->connectToAddress(addressOf(GetParam(), server.port)));
  sock->readDataToLength(4, -1, 2);
  sock->writeData(SocketData(std::string("ping")), -1, 1);

  ASSERT_TRUE(recorder->waitForCount("connect", 1));
  EXPECT_EQ(recorder->events()[0], "connect " + GetParam() + " " + std::to_string(server.port));
  auto accepted = server.accepted();
  ASSERT_TRUE(accepted);
  accepted->readDataToLength(4, -1, 9);
  ASSERT_TRUE(server.recorder->waitForCount("read", 1));
  EXPECT_EQ(server.recorder->eventsStartingWith("read"), std::vector<std::string>{"read 9 ping"});

  accepted->writeData(SocketData(std::string("pong")), -1, 3);
  ASSERT_TRUE(recorder->waitForCount("read", 1));
  EXPECT_EQ(recorder->eventsStartingWith("read"), std::vector<std::string>{"read 2 pong"});
  EXPECT_TRUE(sock->isConnected());
  EXPECT_EQ(sock->connectedPort(), server.port);
  EXPECT_EQ(GetParam() == "::1", sock->isIPv6());
}

TEST_P(ConnectTest, ConnectsByHostTextThroughTheResolver) {
  Server server(GetParam());
  ASSERT_TRUE(sock->connectToHost(GetParam(), server.port, 5.0));
  ASSERT_TRUE(recorder->waitForCount("connect", 1));
  EXPECT_EQ(recorder->events()[0], "connect " + GetParam() + " " + std::to_string(server.port));
  EXPECT_TRUE(server.accepted());
}

TEST_P(ConnectTest, ARefusedPortClosesWithThePosixError) {
  // Bound but not listening: the port stays ours and refuses connections.
  socklen_t length = 0;
  auto address = socketAddress(GetParam(), 0, &length);
  int fd = ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), length), 0);
  std::uint16_t port = 0;
  {
    sockaddr_storage bound{};
    socklen_t boundLength = sizeof bound;
    getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &boundLength);
    port = DispatchSocket::portFromAddress(
        Bytes(reinterpret_cast<std::uint8_t*>(&bound),
              reinterpret_cast<std::uint8_t*>(&bound) + boundLength));
  }
  const DescriptorSnapshot before;
  ASSERT_TRUE(sock->connectToAddress(addressOf(GetParam(), port)));
  ASSERT_TRUE(recorder->waitForCount("disconnect", 1));
  auto err = recorder->disconnectError();
  ASSERT_TRUE(err);
  EXPECT_EQ(err->code(), ECONNREFUSED);
  EXPECT_EQ(recorder->events(), std::vector<std::string>{"disconnect " + err->domain() + " " +
                                                         std::to_string(ECONNREFUSED)});
  EXPECT_TRUE(sock->isDisconnected());
  EXPECT_TRUE(waitForDescriptorsClosedSince(before));
  ::close(fd);
}

TEST_P(ConnectTest, AConnectThatGetsNoAnswerTimesOutOnTheClock) {
  FullListener listener(GetParam());
  ScopedManualClock clock;
  const DescriptorSnapshot before;
  ASSERT_TRUE(sock->connectToAddress(addressOf(GetParam(), listener.port()), 2.0));
  clock->advanceSeconds(1);
  EXPECT_TRUE(recorder->quietFor("disconnect", 50));
  clock->advanceSeconds(1);
  ASSERT_TRUE(recorder->waitForCount("disconnect", 1));
  auto err = recorder->disconnectError();
  ASSERT_TRUE(err);
  EXPECT_EQ(err->domain(), kDispatchSocketErrorDomain);
  EXPECT_EQ(err->code(), kDispatchSocketConnectTimeoutError);
  EXPECT_EQ(err->localizedDescription(), "Attempt to connect to host timed out");
  // The pending connect is abandoned: its descriptor closes and no late result arrives.
  EXPECT_TRUE(waitForDescriptorsClosedSince(before));
  EXPECT_TRUE(recorder->quietFor("connect", 50));
  EXPECT_EQ(recorder->events().size(), 1u);
}

TEST_P(ConnectTest, ClosingDuringAPendingConnectReportsNoErrorAndFreesTheDescriptor) {
  FullListener listener(GetParam());
  const DescriptorSnapshot before;
  ASSERT_TRUE(sock->connectToAddress(addressOf(GetParam(), listener.port())));
  EXPECT_FALSE(sock->isDisconnected());
  sock->disconnect();
  ASSERT_TRUE(recorder->waitForCount("disconnect", 1));
  EXPECT_FALSE(recorder->disconnectError());
  EXPECT_TRUE(waitForDescriptorsClosedSince(before));
  EXPECT_TRUE(recorder->quietFor("connect", 50));
  // The socket can connect again afterwards.
  Server server(GetParam());
  ASSERT_TRUE(sock->connectToAddress(addressOf(GetParam(), server.port)));
  ASSERT_TRUE(recorder->waitForCount("connect", 1));
}

// A close racing the connect must never let the connect reach a descriptor number the system
// has meanwhile handed out again: a datagram socket opened right after each close would then
// find itself connected to the server.
TEST_P(ConnectTest, AConnectRacingACloseNeverReachesAReusedDescriptor) {
  Server server(GetParam());
  const Bytes address = addressOf(GetParam(), server.port);
  std::vector<int> bystanders;
  const DescriptorSnapshot before;
  for (int round = 0; round < 100; ++round) {
    ASSERT_TRUE(sock->connectToAddress(address));
    sock->disconnect();
    bystanders.push_back(
        ::socket(address[0] == AF_INET ? AF_INET : AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  }
  ASSERT_TRUE(recorder->waitForCount("disconnect", 100));
  // Every attempt's descriptor closes only once its connect has returned.
  ASSERT_TRUE(waitForDescriptorsClosedSince(before, bystanders));
  for (int fd : bystanders) {
    sockaddr_storage peer{};
    socklen_t peerLength = sizeof peer;
    EXPECT_NE(getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength), 0)
        << "descriptor " << fd << " was connected by a stale attempt";
    ::close(fd);
  }
}

// A pending connect waits in the reactor like any other readiness, not on a pool thread: two
// hundred connects that get no answer leave an open connection's echo free to run, and the pool
// keeps the threads it had.
TEST_P(ConnectTest, PendingConnectsHoldNoThreads) {
  constexpr int kPending = 200;
  FullListener listener(GetParam());
  auto echo = std::make_shared<Recorder>();
  echo->onRead = [](const std::shared_ptr<DispatchSocket>& s, const SocketData& data, long tag) {
    s->writeData(data, -1, tag);
    s->readDataToData(DispatchSocket::LFData(), -1, tag + 1);
  };
  Server server(GetParam(), echo);
  Client client(GetParam(), server.port);
  server.accepted()->readDataToData(DispatchSocket::LFData(), -1, 1);
  client.send("warm\n");
  ASSERT_EQ(client.receive(5), "warm\n");

  const std::size_t threadsBefore = platform::dispatch::WorkerPool::shared().threadCount();
  const DescriptorSnapshot before;
  std::vector<std::shared_ptr<DispatchSocket>> pending;
  for (int i = 0; i < kPending; ++i) {
    pending.push_back(DispatchSocket::create(recorder, delegateQueue));
    ASSERT_TRUE(pending.back()->connectToAddress(addressOf(GetParam(), listener.port())));
  }
  client.send("ping\n");
  EXPECT_EQ(client.receive(5), "ping\n");
  // A thread per connect would have taken one per pending attempt before the echo could run
  // behind them; a margin is left for a watchdog thread or two on a loaded machine.
  EXPECT_LE(platform::dispatch::WorkerPool::shared().threadCount(), threadsBefore + 32);

  for (auto& s : pending) s->disconnect();
  ASSERT_TRUE(recorder->waitForCount("disconnect", kPending));
  EXPECT_FALSE(recorder->disconnectError());
  EXPECT_TRUE(waitForDescriptorsClosedSince(before));
  EXPECT_TRUE(recorder->quietFor("connect", 50));
}

TEST_P(ConnectTest, LocalhostNeedsNoResolverAndPrefersIPv4UnlessToldOtherwise) {
  Server server(GetParam());
  if (GetParam() == "::1") sock->setPreferIPv4OverIPv6(false);
  ASSERT_TRUE(sock->connectToHost("localhost", server.port));
  ASSERT_TRUE(recorder->waitForCount("connect", 1));
  EXPECT_EQ(recorder->events()[0], "connect " + GetParam() + " " + std::to_string(server.port));
}

TEST_P(ConnectTest, ConnectsFromTheGivenInterfaceAndPort) {
  Server server(GetParam());
  // A free local port, found by binding and letting go.
  socklen_t length = 0;
  auto address = socketAddress(GetParam(), 0, &length);
  int probe = ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_EQ(::bind(probe, reinterpret_cast<sockaddr*>(&address), length), 0);
  sockaddr_storage bound{};
  socklen_t boundLength = sizeof bound;
  getsockname(probe, reinterpret_cast<sockaddr*>(&bound), &boundLength);
  auto localPort =
      DispatchSocket::portFromAddress(Bytes(reinterpret_cast<std::uint8_t*>(&bound),
                                            reinterpret_cast<std::uint8_t*>(&bound) + boundLength));
  ::close(probe);

  std::string interface =
      (GetParam() == "::1" ? "[::1]:" : "127.0.0.1:") + std::to_string(localPort);
  ASSERT_TRUE(sock->connectToAddress(addressOf(GetParam(), server.port), interface, -1));
  ASSERT_TRUE(recorder->waitForCount("connect", 1));
  EXPECT_EQ(sock->localPort(), localPort);
  EXPECT_EQ(sock->localHost(), GetParam());
}

INSTANTIATE_TEST_SUITE_P(Families, ConnectTest, testing::Values("127.0.0.1", "::1"), familyName);

// --- Refusals ---------------------------------------------------------------------------------

TEST(ConnectRefusalTest, AnAttemptThatCannotStartSaysWhyAndLeavesTheSocketIdle) {
  auto recorder = std::make_shared<Recorder>();
  auto queue = platform::dispatch::Queue::serial("test.connect.refusals");
  struct Case {
    std::string name;
    std::function<bool(DispatchSocket&, platform::Error*)> attempt;
    std::function<void(DispatchSocket&)> prepare;
    int code;
    std::string text;
  };
  const Bytes v4 = addressOf("127.0.0.1", 9);
  const Bytes v6 = addressOf("::1", 9);
  std::vector<Case> cases{
      {"20 bytes",
       [](DispatchSocket& s, platform::Error* e) { return s.connectToAddress(Bytes(20, 0), e); },
       nullptr, kDispatchSocketBadParamError, "A valid IPv4 or IPv6 address was not given"},
      {"short IPv4",
       [&](DispatchSocket& s, platform::Error* e) {
         return s.connectToAddress(Bytes(v4.begin(), v4.begin() + 8), e);
       },
       nullptr, kDispatchSocketBadParamError, "A valid IPv4 or IPv6 address was not given"},
      {"empty host",
       [](DispatchSocket& s, platform::Error* e) { return s.connectToHost("", 80, e); }, nullptr,
       kDispatchSocketBadParamError,
       "Invalid host parameter (nil or \"\"). Should be a domain name or IP address string."},
      {"IPv4 off", [&](DispatchSocket& s, platform::Error* e) { return s.connectToAddress(v4, e); },
       [](DispatchSocket& s) { s.setIPv4Enabled(false); }, kDispatchSocketBadParamError,
       "IPv4 has been disabled and an IPv4 address was passed."},
      {"IPv6 off", [&](DispatchSocket& s, platform::Error* e) { return s.connectToAddress(v6, e); },
       [](DispatchSocket& s) { s.setIPv6Enabled(false); }, kDispatchSocketBadParamError,
       "IPv6 has been disabled and an IPv6 address was passed."},
      {"both off",
       [](DispatchSocket& s, platform::Error* e) { return s.connectToHost("localhost", 9, e); },
       [](DispatchSocket& s) {
         s.setIPv4Enabled(false);
         s.setIPv6Enabled(false);
       },
       kDispatchSocketBadConfigError,
       "Both IPv4 and IPv6 have been disabled. Must enable at least one protocol first."},
      {"unknown interface",
       [&](DispatchSocket& s, platform::Error* e) {
         return s.connectToAddress(v4, "no-such-interface0", -1, e);
       },
       nullptr, kDispatchSocketBadParamError,
       "Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address."},
      {"no delegate queue",
       [&](DispatchSocket& s, platform::Error* e) { return s.connectToAddress(v4, e); },
       [](DispatchSocket& s) { s.setDelegateQueue(nullptr); }, kDispatchSocketBadConfigError,
       "Attempting to connect without a delegate queue. Set a delegate queue first."},
      {"already started",
       [&](DispatchSocket& s, platform::Error* e) { return s.connectToAddress(v4, e); },
       [](DispatchSocket& s) { s.acceptOnInterface("127.0.0.1", 0); },
       kDispatchSocketBadConfigError,
       "Attempting to connect while connected or accepting connections. Disconnect first."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto sock = DispatchSocket::create(recorder, queue);
    if (c.prepare) c.prepare(*sock);
    bool wasStarted = !sock->isDisconnected();
    platform::Error err;
    EXPECT_FALSE(c.attempt(*sock, &err));
    EXPECT_EQ(err.domain(), kDispatchSocketErrorDomain);
    EXPECT_EQ(err.code(), c.code);
    EXPECT_EQ(err.localizedDescription(), c.text);
    EXPECT_EQ(sock->isDisconnected(), !wasStarted);
    sock->disconnect();
  }
  auto orphan = DispatchSocket::create();
  platform::Error err;
  EXPECT_FALSE(orphan->connectToAddress(v4, &err));
  EXPECT_EQ(err.localizedDescription(),
            "Attempting to connect without a delegate. Set a delegate first.");
  drain(queue);
}

TEST(ConnectResolutionTest, AFamilyThatIsOffIsNeverChosenFromTheResolvedAddresses) {
  if (!loopbackAvailable("::1")) GTEST_SKIP() << "::1 is not available here";
  auto recorder = std::make_shared<Recorder>();
  auto queue = platform::dispatch::Queue::serial("test.connect.resolution");
  auto sock = DispatchSocket::create(recorder, queue);
  sock->setIPv6Enabled(false);
  // A numeric IPv6 host resolves without any name service, to IPv6 only.
  ASSERT_TRUE(sock->connectToHost("::1", 9));
  ASSERT_TRUE(recorder->waitForCount("disconnect", 1));
  auto err = recorder->disconnectError();
  ASSERT_TRUE(err);
  EXPECT_EQ(err->code(), kDispatchSocketOtherError);
  EXPECT_EQ(err->localizedDescription(),
            "IPv6 has been disabled and DNS lookup found no IPv4 address.");
  drain(queue);
}
