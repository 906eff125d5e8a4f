#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <string>

#include "RunLoopSocketHarness.h"
#include "platform/foundation/Assert.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/SocketStream.h"
#include "sockets/runloop/RunLoopSocket.h"
#include "support/TestCertificate.h"

using namespace platform;

namespace {

Bytes bytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes loopbackAddress(int family, std::uint16_t port) {
  if (family == AF_INET) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const auto* p = reinterpret_cast<const std::uint8_t*>(&a);
    return Bytes(p, p + sizeof a);
  }
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  a.sin6_port = htons(port);
  a.sin6_addr = in6addr_loopback;
  const auto* p = reinterpret_cast<const std::uint8_t*>(&a);
  return Bytes(p, p + sizeof a);
}

class RunLoopSocketTest : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    if (GetParam() == AF_INET6 && !ipv6LoopbackAvailable()) GTEST_SKIP() << "no ::1 here";
    host_ = GetParam() == AF_INET ? "127.0.0.1" : "::1";
  }
  void TearDown() override {
    // Sockets hold their delegates; the delegates here hold the accepted sockets.
    for (auto& sock : serverDelegate_->accepted) sock->disconnect();
    serverDelegate_->accepted.clear();
    if (server_) server_->disconnect();
    if (client_) client_->disconnect();
    loop_->runUntil([&] { return loop_->pendingCount() == 0; }, seconds(5));
  }

  // A server listening on loopback and a client connected to it, both up.
  void connectPair() {
    server_ = RunLoopSocket::create(serverDelegate_);
    Error error;
    ASSERT_TRUE(server_->acceptOnInterface("localhost", 0, &error)) << error.localizedDescription();
    port_ = server_->localPort();
    client_ = RunLoopSocket::create(clientDelegate_);
    ASSERT_TRUE(client_->connectToHost(host_, port_, &error)) << error.localizedDescription();
    ASSERT_TRUE(loop_->runUntil([&] {
      return clientDelegate_->connected.size() == 1 && serverDelegate_->connected.size() == 1;
    }));
    accepted_ = serverDelegate_->accepted.at(0);
  }

  std::shared_ptr<RunLoop> loop_ = RunLoop::current();
  std::string host_;
  std::uint16_t port_ = 0;
  std::shared_ptr<RecordingSocketDelegate> serverDelegate_ =
      std::make_shared<RecordingSocketDelegate>();
  std::shared_ptr<RecordingSocketDelegate> clientDelegate_ =
      std::make_shared<RecordingSocketDelegate>();
  std::shared_ptr<RunLoopSocket> server_;
  std::shared_ptr<RunLoopSocket> client_;
  std::shared_ptr<RunLoopSocket> accepted_;
};

INSTANTIATE_TEST_SUITE_P(Families, RunLoopSocketTest, ::testing::Values(AF_INET, AF_INET6),
                         [](const auto& info) { return info.param == AF_INET ? "IPv4" : "IPv6"; });

TEST_P(RunLoopSocketTest, AcceptsAndConnectsOnOnePortForBothFamilies) {
  ASSERT_NO_FATAL_FAILURE(connectPair());
  EXPECT_NE(port_, 0);
  EXPECT_EQ(server_->localPort4(), server_->localPort6());
  EXPECT_EQ(server_->localHost4(), "127.0.0.1");
  EXPECT_EQ(server_->localHost6(), "::1");
  EXPECT_EQ(clientDelegate_->connected[0].host, host_);
  EXPECT_EQ(clientDelegate_->connected[0].port, port_);
  EXPECT_TRUE(client_->isConnected());
  EXPECT_EQ(client_->isIPv4(), GetParam() == AF_INET);
  EXPECT_EQ(client_->isIPv6(), GetParam() == AF_INET6);
  EXPECT_EQ(accepted_->localPort(), port_);
  EXPECT_EQ(accepted_->connectedPort(), client_->localPort());
  std::string description = client_->description();
  EXPECT_EQ(description.rfind("<RunLoopSocket ", 0), 0u) << description;
  EXPECT_EQ(description.find("not connected"), std::string::npos) << description;
  EXPECT_NE(description.find("read stream"), std::string::npos) << description;
}

TEST_P(RunLoopSocketTest, ReadsOfTheThreeKindsComeBackInOrderWithTheirTags) {
  ASSERT_NO_FATAL_FAILURE(connectPair());
  accepted_->writeData(SocketData("abc\r\ndef\r\n0123456789xyz"), -1, 7);
  client_->readDataToData(RunLoopSocket::CRLFData(), -1, 1);
  client_->readDataToData(RunLoopSocket::CRLFData(), -1, 2);
  client_->readDataToLength(10, -1, 3);
  auto buffer = std::make_shared<Bytes>(bytes("[]"));
  client_->readDataWithTimeout(-1, buffer, 1, 4);
  ASSERT_TRUE(loop_->runUntil([&] { return clientDelegate_->reads.size() == 4; }));
  auto& reads = clientDelegate_->reads;
  EXPECT_EQ(reads[0].data, "abc\r\n");
  EXPECT_EQ(reads[0].tag, 1);
  EXPECT_EQ(reads[1].data, "def\r\n");
  EXPECT_EQ(reads[2].data, "0123456789");
  EXPECT_EQ(reads[3].data, "xyz");
  EXPECT_EQ(reads[3].tag, 4);
  // The caller's buffer was filled in place at the offset and kept its tail.
  EXPECT_EQ(std::string(buffer->begin(), buffer->end()), "[xyz");
  ASSERT_EQ(serverDelegate_->writes.size(), 1u);
  EXPECT_EQ(serverDelegate_->writes[0].tag, 7);
}

TEST_P(RunLoopSocketTest, ATerminatorSplitAcrossArrivalsIsFound) {
  ASSERT_NO_FATAL_FAILURE(connectPair());
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    clientDelegate_->reads.clear();
    client_->readDataToData(bytes("--END--"), -1, 5);
    accepted_->writeData(SocketData("first part --EN"), -1, 0);
    ASSERT_TRUE(loop_->runUntil([&] { return !clientDelegate_->partialReads.empty(); }));
    accepted_->writeData(SocketData("D--tail"), -1, 0);
    ASSERT_TRUE(loop_->runUntil([&] { return clientDelegate_->reads.size() == 1; }));
    EXPECT_EQ(clientDelegate_->reads[0].data, "first part --END--");
    client_->readDataToLength(4, -1, 6);
    ASSERT_TRUE(loop_->runUntil([&] { return clientDelegate_->reads.size() == 2; }));
    EXPECT_EQ(clientDelegate_->reads[1].data, "tail");
    clientDelegate_->partialReads.clear();
  }
}

TEST_P(RunLoopSocketTest, AMaxedOutTerminatorReadClosesWithCodeThree) {
  ASSERT_NO_FATAL_FAILURE(connectPair());
  client_->readDataToData(RunLoopSocket::LFData(), -1, 8, 1);
  accepted_->writeData(SocketData("far too long a line\n"), -1, 0);
  ASSERT_TRUE(loop_->runUntil([&] { return !clientDelegate_->disconnected.empty(); }));
  ASSERT_EQ(clientDelegate_->willDisconnect.size(), 1u);
  ASSERT_TRUE(clientDelegate_->willDisconnect[0].error);
  EXPECT_EQ(clientDelegate_->willDisconnect[0].error->domain(), kRunLoopSocketErrorDomain);
  EXPECT_EQ(clientDelegate_->willDisconnect[0].error->code(), 3);
  EXPECT_TRUE(client_->isDisconnected());
}

TEST_P(RunLoopSocketTest, UnreadDataInsideWillDisconnectGivesBackWhatNoReadTook) {
  ASSERT_NO_FATAL_FAILURE(connectPair());
  client_->readDataToLength(100, -1, 1);
  accepted_->writeData(SocketData("only ten!!"), -1, 0);
  ASSERT_TRUE(loop_->runUntil([&] { return !clientDelegate_->partialReads.empty(); }));
  accepted_->disconnectAfterWriting();
  ASSERT_TRUE(loop_->runUntil([&] { return !clientDelegate_->disconnected.empty(); }));
  ASSERT_EQ(clientDelegate_->willDisconnect.size(), 1u);
  EXPECT_FALSE(clientDelegate_->willDisconnect[0].error) << "an orderly end has no error";
  EXPECT_EQ(clientDelegate_->unreadAtWillDisconnect[0], "only ten!!");
  EXPECT_TRUE(clientDelegate_->reads.empty());
  EXPECT_EQ(client_->unreadData(), nullptr) << "only while closing";
}

TEST_P(RunLoopSocketTest, ATimeoutExtendedByTheDelegateRestartsWithTheExtension) {
  ScopedManualClock clock;
  ASSERT_NO_FATAL_FAILURE(connectPair());
  clientDelegate_->extensions = {3.0};
  client_->readDataToLength(4, 5.0, 9);
  ASSERT_TRUE(loop_->runUntil(
      [&] { return client_->progressOfReadReturningTag(nullptr, nullptr, nullptr) == 0.0f; }));
  clock->advanceSeconds(5);
  ASSERT_TRUE(loop_->runUntil([&] { return clientDelegate_->timeoutAsks.size() == 1; }));
  EXPECT_TRUE(clientDelegate_->disconnected.empty());
  clock->advanceSeconds(2.9);
  while (loop_->runOnce(clock->monotonicNow())) {
  }
  EXPECT_EQ(clientDelegate_->timeoutAsks.size(), 1u);
  clock->advanceSeconds(0.1);
  ASSERT_TRUE(loop_->runUntil([&] { return !clientDelegate_->disconnected.empty(); }));
  ASSERT_EQ(clientDelegate_->timeoutAsks.size(), 2u);
  EXPECT_EQ(clientDelegate_->timeoutAsks[0].elapsed, 5.0);
  EXPECT_EQ(clientDelegate_->timeoutAsks[1].elapsed, 8.0);
  EXPECT_EQ(clientDelegate_->timeoutAsks[1].tag, 9);
  ASSERT_TRUE(clientDelegate_->willDisconnect.at(0).error);
  EXPECT_EQ(clientDelegate_->willDisconnect[0].error->code(), 4);
  EXPECT_EQ(clientDelegate_->willDisconnect[0].error->localizedDescription(),
            "Read operation timed out");
}

TEST_P(RunLoopSocketTest, WorkScheduledInAnotherModeWaitsForARunInThatMode) {
  ASSERT_NO_FATAL_FAILURE(connectPair());
  ASSERT_TRUE(client_->setRunLoopModes({"Custom"}));
  EXPECT_TRUE(client_->setRunLoopModes({"Custom"}));
  EXPECT_FALSE(client_->setRunLoopModes({}));
  EXPECT_FALSE(client_->removeRunLoopMode("Custom")) << "the last mode stays";
  EXPECT_TRUE(client_->removeRunLoopMode("Absent"));
  EXPECT_TRUE(client_->moveToRunLoop(loop_));
  client_->readDataToData(RunLoopSocket::LFData(), -1, 1);
  accepted_->writeData(SocketData("moded\n"), -1, 0);
  loop_->runFor(std::chrono::milliseconds(30));
  EXPECT_TRUE(clientDelegate_->reads.empty()) << "nothing runs in the default mode";
  ASSERT_TRUE(
      loop_->runUntil([&] { return clientDelegate_->reads.size() == 1; }, seconds(10), "Custom"));
  EXPECT_EQ(clientDelegate_->reads[0].data, "moded\n");

  // Back in the default mode as well: the next read arrives there.
  ASSERT_TRUE(client_->addRunLoopMode(kDefaultRunLoopMode));
  EXPECT_EQ(client_->runLoopModes(), (std::vector<std::string>{"Custom", kDefaultRunLoopMode}));
  client_->readDataToData(RunLoopSocket::LFData(), -1, 2);
  accepted_->writeData(SocketData("plain\n"), -1, 0);
  ASSERT_TRUE(loop_->runUntil([&] { return clientDelegate_->reads.size() == 2; }));
  ASSERT_TRUE(client_->removeRunLoopMode("Custom"));
  client_->readDataToData(RunLoopSocket::LFData(), -1, 3);
  accepted_->writeData(SocketData("again\n"), -1, 0);
  ASSERT_TRUE(loop_->runUntil([&] { return clientDelegate_->reads.size() == 3; }));
}

TEST_P(RunLoopSocketTest, ConnectToAddressAndItsRefusals) {
  server_ = RunLoopSocket::create(serverDelegate_);
  ASSERT_TRUE(server_->acceptOnInterface("loopback", 0));
  auto address = loopbackAddress(GetParam(), server_->localPort());

  client_ = RunLoopSocket::create(clientDelegate_);
  clientDelegate_->allowConnect = false;
  Error error;
  EXPECT_FALSE(client_->connectToAddress(address, &error));
  EXPECT_EQ(error.code(), 1);
  EXPECT_EQ(error.localizedDescription(), "Connection canceled");
  EXPECT_TRUE(client_->isDisconnected());

  EXPECT_FALSE(client_->connectToAddress(bytes("not an address"), &error));
  EXPECT_EQ(error.localizedDescription(), "Remote address is not IPv4 or IPv6");

  clientDelegate_->allowConnect = true;
  ASSERT_TRUE(client_->connectToAddress(address, &error));
  EXPECT_THROW(client_->connectToAddress(address, &error), platform::Exception);
  ASSERT_TRUE(loop_->runUntil([&] { return clientDelegate_->connected.size() == 1; }));
  EXPECT_EQ(clientDelegate_->connected[0].host, host_);
  client_->writeData(SocketData("ping"), -1, 1);
  ASSERT_TRUE(loop_->runUntil([&] { return serverDelegate_->accepted.size() == 1; }));
  serverDelegate_->accepted[0]->readDataToLength(4, -1, 2);
  ASSERT_TRUE(loop_->runUntil([&] { return serverDelegate_->reads.size() == 1; }));
  EXPECT_EQ(serverDelegate_->reads[0].data, "ping");
}

TEST_P(RunLoopSocketTest, AConnectTimeoutOfZeroFiresAtOnce) {
  ScopedManualClock clock;
  server_ = RunLoopSocket::create(serverDelegate_);
  ASSERT_TRUE(server_->acceptOnInterface("localhost", 0));
  client_ = RunLoopSocket::create(clientDelegate_);
  // Due at once, the timer fires in the first pass, before the connect's own event.
  ASSERT_TRUE(
      client_->connectToAddress(loopbackAddress(GetParam(), server_->localPort()), 0.0, nullptr));
  ASSERT_TRUE(loop_->runUntil([&] { return !clientDelegate_->disconnected.empty(); }));
  ASSERT_TRUE(clientDelegate_->willDisconnect.at(0).error);
  EXPECT_EQ(clientDelegate_->willDisconnect[0].error->code(), 2);
  EXPECT_TRUE(clientDelegate_->connected.empty());
}

TEST_P(RunLoopSocketTest, TlsUpgradeCarriesDataBothWaysAfterTheBytesSentInTheClear) {
  testsupport::TestCertificate certificate("localhost");
  ASSERT_NO_FATAL_FAILURE(connectPair());
  // What is queued before the upgrade goes out in the clear.
  client_->writeData(SocketData("clear\n"), -1, 1);
  accepted_->readDataToData(RunLoopSocket::LFData(), -1, 1);
  client_->startTLS(
      Dictionary{{kStreamSSLPeerName, Value("localhost")}, {kStreamSSLAllowsAnyRoot, Value(true)}});
  accepted_->startTLS(
      Dictionary{{kStreamSSLIsServer, Value(true)},
                 {kStreamSSLCertificates, Value(Array{Value(bytes(certificate.pem()))})}});
  client_->writeData(SocketData("secret\n"), -1, 2);
  accepted_->readDataToData(RunLoopSocket::LFData(), -1, 2);
  ASSERT_TRUE(loop_->runUntil([&] { return serverDelegate_->reads.size() == 2; }));
  EXPECT_EQ(serverDelegate_->reads[0].data, "clear\n");
  EXPECT_EQ(serverDelegate_->reads[1].data, "secret\n");
  EXPECT_EQ(clientDelegate_->secured, 1);
  EXPECT_EQ(serverDelegate_->secured, 1);
  std::string big(100000, 'x');
  accepted_->writeData(SocketData(big + "\n"), -1, 3);
  client_->readDataToData(RunLoopSocket::LFData(), -1, 3);
  ASSERT_TRUE(loop_->runUntil([&] { return clientDelegate_->reads.size() == 1; }));
  EXPECT_EQ(clientDelegate_->reads[0].data, big + "\n");
  EXPECT_TRUE(clientDelegate_->willDisconnect.empty());
}

// The peer may start its handshake before the clear line has been read here: reading that line
// ahead takes the first TLS bytes along, and they must reach the session, not be lost.
TEST_P(RunLoopSocketTest, TlsBytesReadAheadWithTheClearLineReachTheSession) {
  testsupport::TestCertificate certificate("localhost");
  ASSERT_NO_FATAL_FAILURE(connectPair());
  client_->writeData(SocketData("clear\n"), -1, 1);
  client_->startTLS(
      Dictionary{{kStreamSSLPeerName, Value("localhost")}, {kStreamSSLAllowsAnyRoot, Value(true)}});
  // Nothing is read on the server's side until the client's hello waits behind the line.
  auto handle = accepted_->getCFReadStream()->property(kStreamPropertySocketNativeHandle);
  ASSERT_TRUE(handle && handle->asBytes());
  int descriptor = -1;
  std::memcpy(&descriptor, handle->asBytes()->data(), sizeof descriptor);
  ASSERT_TRUE(loop_->runUntil([&] {
    int waiting = 0;
    return ::ioctl(descriptor, FIONREAD, &waiting) == 0 && waiting > 6;
  }));
  accepted_->readDataToData(RunLoopSocket::LFData(), -1, 1);
  accepted_->startTLS(
      Dictionary{{kStreamSSLIsServer, Value(true)},
                 {kStreamSSLCertificates, Value(Array{Value(bytes(certificate.pem()))})}});
  client_->writeData(SocketData("secret\n"), -1, 2);
  accepted_->readDataToData(RunLoopSocket::LFData(), -1, 2);
  ASSERT_TRUE(loop_->runUntil([&] {
    return serverDelegate_->reads.size() == 2 || !serverDelegate_->disconnected.empty();
  }));
  EXPECT_TRUE(serverDelegate_->willDisconnect.empty());
  ASSERT_EQ(serverDelegate_->reads.size(), 2u);
  EXPECT_EQ(serverDelegate_->reads[0].data, "clear\n");
  EXPECT_EQ(serverDelegate_->reads[1].data, "secret\n");
  EXPECT_EQ(clientDelegate_->secured, 1);
  EXPECT_EQ(serverDelegate_->secured, 1);
}

TEST_P(RunLoopSocketTest, AnUntrustedCertificateIsRefusedUnlessTheSettingsRelaxIt) {
  testsupport::TestCertificate certificate("localhost");
  ASSERT_NO_FATAL_FAILURE(connectPair());
  client_->startTLS(Dictionary{{kStreamSSLPeerName, Value("localhost")}});
  accepted_->startTLS(
      Dictionary{{kStreamSSLIsServer, Value(true)},
                 {kStreamSSLCertificates, Value(Array{Value(bytes(certificate.pem()))})}});
  ASSERT_TRUE(loop_->runUntil([&] { return !clientDelegate_->disconnected.empty(); }));
  ASSERT_TRUE(clientDelegate_->willDisconnect.at(0).error);
  EXPECT_EQ(clientDelegate_->willDisconnect[0].error->domain(), "kCFStreamErrorDomainSSL");
  EXPECT_EQ(clientDelegate_->secured, 0);
}

TEST(RunLoopSocketMisuse, AcceptAndConnectWithoutADelegateRaise) {
  auto sock = RunLoopSocket::create();
  try {
    sock->acceptOnPort(0);
    FAIL() << "no raise";
  } catch (const platform::Exception& e) {
    EXPECT_EQ(e.name(), kRunLoopSocketException);
    EXPECT_STREQ(e.what(), "Attempting to accept without a delegate. Set a delegate first.");
  }
  EXPECT_THROW(sock->connectToHost("127.0.0.1", 1), platform::Exception);
  auto other = RunLoopSocket::create();
  float progress = other->progressOfReadReturningTag(nullptr, nullptr, nullptr);
  EXPECT_TRUE(std::isnan(progress));
}

// Descriptor 0 is a descriptor like any other: a process without standard input hands it out.
TEST(RunLoopSocketDescriptorZero, AConnectionOnDescriptorZeroIsUsed) {
  auto loop = RunLoop::current();
  auto serverDelegate = std::make_shared<RecordingSocketDelegate>();
  auto clientDelegate = std::make_shared<RecordingSocketDelegate>();
  auto server = RunLoopSocket::create(serverDelegate);
  ASSERT_TRUE(server->acceptOnInterface("localhost", 0));
  auto client = RunLoopSocket::create(clientDelegate);

  int savedStdin = ::dup(0);
  ASSERT_GE(savedStdin, 0);
  ::close(0);
  bool started = client->connectToAddress(loopbackAddress(AF_INET, server->localPort()), nullptr);
  // The client's socket took the lowest free descriptor.
  bool onZero = client->getCFSocket() == 0;
  EXPECT_TRUE(started);
  EXPECT_TRUE(onZero);
  EXPECT_TRUE(client->isIPv4());
  EXPECT_FALSE(client->isDisconnected());
  bool up = loop->runUntil([&] { return clientDelegate->connected.size() == 1; });
  EXPECT_TRUE(up);
  client->writeData(SocketData("zero"), -1, 1);
  bool accepted = loop->runUntil([&] { return serverDelegate->accepted.size() == 1; });
  EXPECT_TRUE(accepted);
  if (accepted) {
    serverDelegate->accepted[0]->readDataToLength(4, -1, 1);
    EXPECT_TRUE(loop->runUntil([&] { return serverDelegate->reads.size() == 1; }));
  }
  EXPECT_EQ(client->localPort(),
            serverDelegate->accepted.empty() ? 0 : serverDelegate->accepted[0]->connectedPort());
  client->disconnect();
  EXPECT_TRUE(client->isDisconnected());
  // The socket closed descriptor 0 with itself: it is free again for standard input.
  ASSERT_EQ(::dup2(savedStdin, 0), 0);
  ::close(savedStdin);
  for (auto& sock : serverDelegate->accepted) sock->disconnect();
  serverDelegate->accepted.clear();
  server->disconnect();
}

}  // namespace
