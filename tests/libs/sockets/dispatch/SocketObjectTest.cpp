// The socket object apart from its I/O: queues and the run-inline rule, configuration, the
// delegate's answers, errors, socket addresses and terminators.

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>

#include "SocketHarness.h"
#include "platform/foundation/Assert.h"

using namespace sockettest;
using platform::Bytes;
using platform::dispatch::Priority;
using platform::dispatch::Queue;

TEST(SocketObjectTest, AConcurrentQueueIsRefusedAsSocketQueue) {
  for (auto queue : {Queue::global(Priority::Default), Queue::global(Priority::High),
                     Queue::global(Priority::Low), Queue::concurrent("c")}) {
    try {
      DispatchSocket::create(queue);
      ADD_FAILURE() << queue->label() << " was accepted";
    } catch (const platform::AssertionFailure& failure) {
      EXPECT_STREQ(failure.what(),
                   "The given socketQueue parameter must not be a concurrent queue.");
    }
  }
}

// Work running on one socket's queue answers that socket's getters inline and waits on the
// queue of another socket, which has one of its own.
TEST(SocketObjectTest, EachSocketKnowsItsOwnQueue) {
  auto given = Queue::serial("given");
  auto onGiven = DispatchSocket::create(given);
  auto other = DispatchSocket::create();
  auto alsoOnGiven = DispatchSocket::create(given);
  given->sync([&] {
    EXPECT_TRUE(onGiven->isIPv4Enabled());
    EXPECT_TRUE(alsoOnGiven->isIPv4Enabled());
    EXPECT_TRUE(other->isIPv4Enabled());
  });
}

// A delegate whose queue is the socket queue may call the socket's getters from inside a
// message: they run inline instead of deadlocking.
TEST(SocketObjectTest, GettersFromInsideADelegateMessageOnTheSocketQueueRunInline) {
  auto shared = Queue::serial("shared");
  struct Asker : Recorder {
    std::uint16_t port = 1;
    void socketDidDisconnect(const std::shared_ptr<DispatchSocket>& sock,
                             const std::optional<platform::Error>& err) override {
      port = sock->localPort();
      sock->setIPv4Enabled(false);
      if (sock->isIPv4Enabled()) port = 2;
      Recorder::socketDidDisconnect(sock, err);
    }
  };
  auto asker = std::make_shared<Asker>();
  auto sock = DispatchSocket::create(asker, shared, shared);
  ASSERT_TRUE(sock->acceptOnInterface("127.0.0.1", 0));
  sock->disconnect();
  ASSERT_TRUE(asker->waitForCount("disconnect", 1));
  shared->sync([] {});
  EXPECT_EQ(asker->port, 0);
}

TEST(SocketObjectTest, AnAsynchronousSetterIsSeenByTheNextGetter) {
  auto sock = DispatchSocket::create();
  EXPECT_TRUE(sock->isIPv4Enabled());
  EXPECT_TRUE(sock->isIPv6Enabled());
  EXPECT_TRUE(sock->isIPv4PreferredOverIPv6());
  EXPECT_TRUE(sock->autoDisconnectOnClosedReadStream());
  sock->setIPv4Enabled(false);
  EXPECT_FALSE(sock->isIPv4Enabled());
  sock->setIPv6Enabled(false);
  EXPECT_FALSE(sock->isIPv6Enabled());
  sock->setPreferIPv4OverIPv6(false);
  EXPECT_FALSE(sock->isIPv4PreferredOverIPv6());
  sock->setIPv4Enabled(true);
  EXPECT_TRUE(sock->isIPv4Enabled());
}

TEST(SocketObjectTest, DelegateAndQueueAreReplacedTogether) {
  auto first = std::make_shared<Recorder>();
  auto second = std::make_shared<Recorder>();
  auto q1 = Queue::serial("q1");
  auto q2 = Queue::serial("q2");
  auto sock = DispatchSocket::create(first, q1);
  std::shared_ptr<DispatchSocketDelegate> d;
  std::shared_ptr<Queue> q;
  sock->getDelegate(&d, &q);
  EXPECT_EQ(d, first);
  EXPECT_EQ(q, q1);
  sock->setDelegate(second, q2);
  EXPECT_EQ(sock->delegate(), second);
  EXPECT_EQ(sock->delegateQueue(), q2);
  sock->synchronouslySetDelegate({}, nullptr);
  EXPECT_EQ(sock->delegate(), nullptr);
  EXPECT_EQ(sock->delegateQueue(), nullptr);
  sock->synchronouslySetDelegate(first);
  sock->synchronouslySetDelegateQueue(q1);
  EXPECT_EQ(sock->delegate(), first);
  // Held weakly: the socket does not keep its delegate alive.
  d.reset();
  first.reset();
  EXPECT_EQ(sock->delegate(), nullptr);
}

TEST(SocketObjectTest, UserDataIsKeptAsGiven) {
  auto sock = DispatchSocket::create();
  EXPECT_EQ(sock->userData(), nullptr);
  auto context = std::make_shared<int>(7);
  sock->setUserData(context);
  sock->setUserData(context);
  EXPECT_EQ(sock->userData(), context);
  EXPECT_EQ(context.use_count(), 2);
}

TEST(SocketObjectTest, WithoutADelegateQueueNoMessageIsDelivered) {
  auto recorder = std::make_shared<Recorder>();
  Server server("127.0.0.1", recorder);
  Client client("127.0.0.1", server.port);
  auto sock = server.accepted();
  ASSERT_TRUE(sock);
  sock->synchronouslySetDelegateQueue(nullptr);
  sock->readDataToData(DispatchSocket::LFData(), -1, 1);
  client.send("line\n");
  sock->writeData("x", -1, 2);
  EXPECT_EQ(client.receive(1), "x");
  sock->disconnect();
  drain(server.delegateQueue);
  EXPECT_EQ(recorder->events(), (std::vector<std::string>{"accept"}));
}

TEST(SocketObjectTest, UnansweredCallsAreLearnedFromTheDefaults) {
  struct Partial : DispatchSocketDelegate {
    void socketDidReadData(const std::shared_ptr<DispatchSocket>&, const SocketData&,
                           long) override {}
  };
  Partial delegate;
  EXPECT_TRUE(delegate.answers(DispatchSocketDelegate::kDidReadData));
  EXPECT_TRUE(delegate.answers(DispatchSocketDelegate::kShouldTimeoutRead));
  EXPECT_EQ(delegate.socketShouldTimeoutReadWithTag(nullptr, 1, 2, 3), std::nullopt);
  delegate.socketDidReadData(nullptr, SocketData(), 0);
  EXPECT_FALSE(delegate.answers(DispatchSocketDelegate::kShouldTimeoutRead));
  EXPECT_TRUE(delegate.answers(DispatchSocketDelegate::kDidReadData));
}

TEST(SocketErrorTest, ErrorsCarryTheirDomainCodeAndText) {
  struct Case {
    platform::Error error;
    std::int64_t code;
    std::string text;
  };
  for (const auto& c : std::vector<Case>{
           {DispatchSocket::badConfigError("cfg"), 1, "cfg"},
           {DispatchSocket::badParamError("param"), 2, "param"},
           {DispatchSocket::connectTimeoutError(), 3, "Attempt to connect to host timed out"},
           {DispatchSocket::readTimeoutError(), 4, "Read operation timed out"},
           {DispatchSocket::writeTimeoutError(), 5, "Write operation timed out"},
           {DispatchSocket::readMaxedOutError(), 6, "Read operation reached set maximum length"},
           {DispatchSocket::connectionClosedError(), 7, "Socket closed by remote peer"},
           {DispatchSocket::otherError("other"), 8, "other"},
       }) {
    EXPECT_EQ(c.error.domain(), "DispatchSocketErrorDomain");
    EXPECT_EQ(c.error.code(), c.code);
    EXPECT_EQ(c.error.localizedDescription(), c.text);
  }
  errno = ECONNREFUSED;
  auto posix = DispatchSocket::errnoErrorWithReason("Error in connect() function");
  EXPECT_EQ(posix.domain(), platform::kPOSIXErrorDomain);
  EXPECT_EQ(posix.code(), ECONNREFUSED);
  EXPECT_EQ(posix.localizedDescription(), strerror(ECONNREFUSED));
  EXPECT_EQ(posix.userInfo().at(platform::kLocalizedFailureReasonKey),
            platform::Value("Error in connect() function"));
}

TEST(SocketAddressTest, WholeAddressesGiveHostAndPort) {
  sockaddr_in a4{};
  a4.sin_family = AF_INET;
  a4.sin_port = htons(12345);
  inet_pton(AF_INET, "127.0.0.1", &a4.sin_addr);
  Bytes data4(reinterpret_cast<std::uint8_t*>(&a4), reinterpret_cast<std::uint8_t*>(&a4) + 16);
  sockaddr_in6 a6{};
  a6.sin6_family = AF_INET6;
  a6.sin6_port = htons(80);
  inet_pton(AF_INET6, "fe80::1", &a6.sin6_addr);
  Bytes data6(reinterpret_cast<std::uint8_t*>(&a6), reinterpret_cast<std::uint8_t*>(&a6) + 28);

  std::string host;
  std::uint16_t port = 0;
  EXPECT_TRUE(DispatchSocket::getHost(&host, &port, data4));
  EXPECT_EQ(host, "127.0.0.1");
  EXPECT_EQ(port, 12345);
  EXPECT_EQ(DispatchSocket::hostFromAddress(data6), "fe80::1");
  EXPECT_EQ(DispatchSocket::portFromAddress(data6), 80);

  Bytes short4(data4.begin(), data4.begin() + 15);
  Bytes short6(data6.begin(), data6.begin() + 16);
  Bytes unknown = data4;
  unknown[0] = AF_UNIX;
  unknown[1] = 0;
  for (const auto& bad : {short4, short6, unknown}) {
    host = "unchanged";
    port = 7;
    EXPECT_FALSE(DispatchSocket::getHost(&host, &port, bad));
    EXPECT_EQ(host, "unchanged");
    EXPECT_EQ(port, 7);
    EXPECT_EQ(DispatchSocket::hostFromAddress(bad), std::nullopt);
    EXPECT_EQ(DispatchSocket::portFromAddress(bad), 0);
  }
}

TEST(SocketAddressTest, TerminatorsAreTheirBytes) {
  EXPECT_EQ(DispatchSocket::CRLFData().toBytes(), (Bytes{0x0D, 0x0A}));
  EXPECT_EQ(DispatchSocket::CRData().toBytes(), (Bytes{0x0D}));
  EXPECT_EQ(DispatchSocket::LFData().toBytes(), (Bytes{0x0A}));
  EXPECT_EQ(DispatchSocket::ZeroData().toBytes(), (Bytes{0x00}));
}

TEST(SocketAddressTest, AnIdleSocketAnswersNothing) {
  auto sock = DispatchSocket::create();
  EXPECT_TRUE(sock->isDisconnected());
  EXPECT_FALSE(sock->isConnected());
  EXPECT_EQ(sock->connectedHost(), std::nullopt);
  EXPECT_EQ(sock->connectedPort(), 0);
  EXPECT_EQ(sock->localHost(), std::nullopt);
  EXPECT_EQ(sock->localPort(), 0);
  EXPECT_EQ(sock->connectedAddress(), std::nullopt);
  EXPECT_EQ(sock->localAddress(), std::nullopt);
  EXPECT_FALSE(sock->isIPv4());
  EXPECT_FALSE(sock->isIPv6());
  EXPECT_FALSE(sock->isSecure());
}
