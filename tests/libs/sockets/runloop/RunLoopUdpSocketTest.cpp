#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "RunLoopSocketHarness.h"
#include "platform/foundation/Assert.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "sockets/runloop/RunLoopUdpSocket.h"

using namespace platform;

namespace {

class RecordingUdpDelegate : public RunLoopUdpSocketDelegate {
 public:
  void onUdpSocketDidSendDataWithTag(const std::shared_ptr<RunLoopUdpSocket>&, long tag) override {
    sent.push_back(tag);
  }
  void onUdpSocketDidNotSendDataWithTag(const std::shared_ptr<RunLoopUdpSocket>&, long tag,
                                        const Error& error) override {
    notSent.push_back({tag, error});
  }
  bool onUdpSocketDidReceiveData(const std::shared_ptr<RunLoopUdpSocket>&, const SocketData& data,
                                 long tag, const std::string& host, std::uint16_t port) override {
    received.push_back({data.toString(), tag, host, port});
    if (answers.empty()) return true;
    bool answer = answers.front();
    answers.erase(answers.begin());
    return answer;
  }
  void onUdpSocketDidNotReceiveDataWithTag(const std::shared_ptr<RunLoopUdpSocket>&, long tag,
                                           const Error& error) override {
    notReceived.push_back({tag, error});
  }
  void onUdpSocketDidClose(const std::shared_ptr<RunLoopUdpSocket>&) override { ++closed; }

  struct Received {
    std::string data;
    long tag;
    std::string host;
    std::uint16_t port;
  };
  struct Failed {
    long tag;
    Error error;
  };
  std::vector<bool> answers;
  std::vector<long> sent;
  std::vector<Failed> notSent;
  std::vector<Received> received;
  std::vector<Failed> notReceived;
  int closed = 0;
};

class RunLoopUdpSocketTest : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    if (GetParam() == AF_INET6 && !ipv6LoopbackAvailable()) GTEST_SKIP() << "no ::1 here";
    four_ = GetParam() == AF_INET;
    host_ = four_ ? "127.0.0.1" : "::1";
  }
  void TearDown() override {
    for (auto* sock : {&receiver_, &sender_}) {
      if (*sock && !(*sock)->isClosed()) (*sock)->close();
    }
    loop_->runUntil([&] { return loop_->pendingCount() == 0; }, seconds(5));
  }
  // A receiver bound on this family's loopback address and a sender of the same family.
  void makePair() {
    receiver_ = RunLoopUdpSocket::create(receiverDelegate_, 0, four_, !four_);
    Error error;
    ASSERT_TRUE(receiver_->bindToAddress(host_, 0, &error)) << error.localizedDescription();
    port_ = receiver_->localPort();
    ASSERT_NE(port_, 0);
    sender_ = RunLoopUdpSocket::create(senderDelegate_, 0, four_, !four_);
  }

  std::shared_ptr<RunLoop> loop_ = RunLoop::current();
  bool four_ = true;
  std::string host_;
  std::uint16_t port_ = 0;
  std::shared_ptr<RecordingUdpDelegate> receiverDelegate_ =
      std::make_shared<RecordingUdpDelegate>();
  std::shared_ptr<RecordingUdpDelegate> senderDelegate_ = std::make_shared<RecordingUdpDelegate>();
  std::shared_ptr<RunLoopUdpSocket> receiver_;
  std::shared_ptr<RunLoopUdpSocket> sender_;
};

INSTANTIATE_TEST_SUITE_P(Families, RunLoopUdpSocketTest, ::testing::Values(AF_INET, AF_INET6),
                         [](const auto& info) { return info.param == AF_INET ? "IPv4" : "IPv6"; });

TEST_P(RunLoopUdpSocketTest, SendsAndReceivesWithTagsAndTheSource) {
  ASSERT_NO_FATAL_FAILURE(makePair());
  receiver_->receiveWithTimeout(-1, 11);
  receiver_->receiveWithTimeout(-1, 12);
  ASSERT_TRUE(sender_->sendData(SocketData("first"), host_, port_, -1, 1));
  ASSERT_TRUE(sender_->sendData(SocketData(""), host_, port_, -1, 2) == false)
      << "empty data is refused";
  ASSERT_TRUE(sender_->sendData(SocketData("second"), host_, port_, -1, 3));
  ASSERT_TRUE(loop_->runUntil([&] { return receiverDelegate_->received.size() == 2; }));
  EXPECT_EQ(senderDelegate_->sent, (std::vector<long>{1, 3}));
  auto& got = receiverDelegate_->received;
  EXPECT_EQ(got[0].data, "first");
  EXPECT_EQ(got[0].tag, 11);
  EXPECT_EQ(got[1].data, "second");
  EXPECT_EQ(got[1].tag, 12);
  EXPECT_EQ(got[0].host, host_);
  EXPECT_EQ(got[0].port, sender_->localPort()) << "the first send bound the sender";
  EXPECT_EQ(receiver_->isIPv4(), four_);
  EXPECT_EQ(receiver_->isIPv6(), !four_);
  EXPECT_GT(receiver_->maximumTransmissionUnit(), 0u) << "the loopback interface has an MTU";
}

TEST_P(RunLoopUdpSocketTest, AReceiveAnsweredNoKeepsWaitingWithItsTag) {
  ASSERT_NO_FATAL_FAILURE(makePair());
  receiverDelegate_->answers = {false, true};
  receiver_->receiveWithTimeout(-1, 5);
  ASSERT_TRUE(sender_->sendData(SocketData("not this one"), host_, port_, -1, 1));
  ASSERT_TRUE(loop_->runUntil([&] { return receiverDelegate_->received.size() == 1; }));
  ASSERT_TRUE(sender_->sendData(SocketData("this one"), host_, port_, -1, 2));
  ASSERT_TRUE(loop_->runUntil([&] { return receiverDelegate_->received.size() == 2; }));
  EXPECT_EQ(receiverDelegate_->received[1].data, "this one");
  EXPECT_EQ(receiverDelegate_->received[1].tag, 5);
  EXPECT_TRUE(receiverDelegate_->notReceived.empty());
  // The receive ended with the datagram it took: a third one waits for a new receive.
  ASSERT_TRUE(sender_->sendData(SocketData("later"), host_, port_, -1, 3));
  loop_->runFor(std::chrono::milliseconds(20));
  EXPECT_EQ(receiverDelegate_->received.size(), 2u);
  receiver_->receiveWithTimeout(-1, 6);
  ASSERT_TRUE(loop_->runUntil([&] { return receiverDelegate_->received.size() == 3; }));
  EXPECT_EQ(receiverDelegate_->received[2].data, "later");
}

TEST_P(RunLoopUdpSocketTest, AnEmptyDatagramIsDataNotAnEnd) {
  ASSERT_NO_FATAL_FAILURE(makePair());
  int raw = ::socket(GetParam(), SOCK_DGRAM | SOCK_CLOEXEC, 0);
  Bytes address;
  if (four_) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port_);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::sendto(raw, "", 0, 0, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  } else {
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_port = htons(port_);
    a.sin6_addr = in6addr_loopback;
    ASSERT_EQ(::sendto(raw, "", 0, 0, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  }
  ::close(raw);
  receiver_->receiveWithTimeout(-1, 1);
  ASSERT_TRUE(loop_->runUntil([&] { return receiverDelegate_->received.size() == 1; }));
  EXPECT_EQ(receiverDelegate_->received[0].data, "");
  EXPECT_FALSE(receiver_->isClosed());
}

TEST_P(RunLoopUdpSocketTest, AConnectedSocketTakesDatagramsFromItsPeerOnly) {
  ASSERT_NO_FATAL_FAILURE(makePair());
  auto stranger = RunLoopUdpSocket::create(nullptr, 0, four_, !four_);
  ASSERT_TRUE(sender_->bindToAddress(host_, 0));
  ASSERT_TRUE(receiver_->connectToHost(host_, sender_->localPort()));
  EXPECT_TRUE(receiver_->isConnectedToHost(host_, sender_->localPort()));
  EXPECT_FALSE(receiver_->sendData(SocketData("x"), host_, 9, -1, 0)) << "connected: no address";
  receiver_->receiveWithTimeout(-1, 1);
  ASSERT_TRUE(stranger->sendData(SocketData("stranger"), host_, port_, -1, 0));
  loop_->runFor(std::chrono::milliseconds(20));
  ASSERT_TRUE(sender_->sendData(SocketData("peer"), host_, port_, -1, 0));
  ASSERT_TRUE(loop_->runUntil([&] { return receiverDelegate_->received.size() == 1; }));
  EXPECT_EQ(receiverDelegate_->received[0].data, "peer");
  ASSERT_TRUE(receiver_->sendData(SocketData("reply"), -1, 4));
  sender_->receiveWithTimeout(-1, 2);
  ASSERT_TRUE(loop_->runUntil([&] { return senderDelegate_->received.size() == 1; }));
  EXPECT_EQ(senderDelegate_->received[0].data, "reply");
  stranger->close();
}

TEST_P(RunLoopUdpSocketTest, AReceiveTimesOutOnTheClockAndTheSocketStaysOpen) {
  ScopedManualClock clock;
  ASSERT_NO_FATAL_FAILURE(makePair());
  receiver_->receiveWithTimeout(2.0, 8);
  // Let the receive start (and its timer with it) before the clock moves.
  while (loop_->runOnce(clock->monotonicNow())) {
  }
  clock->advanceSeconds(1.9);
  while (loop_->runOnce(clock->monotonicNow())) {
  }
  EXPECT_TRUE(receiverDelegate_->notReceived.empty());
  clock->advanceSeconds(0.1);
  ASSERT_TRUE(loop_->runUntil([&] { return receiverDelegate_->notReceived.size() == 1; }));
  EXPECT_EQ(receiverDelegate_->notReceived[0].tag, 8);
  EXPECT_EQ(receiverDelegate_->notReceived[0].error.domain(), kRunLoopUdpSocketErrorDomain);
  EXPECT_EQ(receiverDelegate_->notReceived[0].error.code(), 5);
  EXPECT_FALSE(receiver_->isClosed());
}

TEST_P(RunLoopUdpSocketTest, CloseAfterSendingClosesOnThenNextPassAndTellsOneLater) {
  ASSERT_NO_FATAL_FAILURE(makePair());
  ASSERT_TRUE(sender_->sendData(SocketData("bye"), host_, port_, -1, 1));
  sender_->closeAfterSending();
  EXPECT_FALSE(sender_->sendData(SocketData("more"), host_, port_, -1, 2));
  ASSERT_TRUE(loop_->runUntil([&] { return senderDelegate_->closed == 1; }));
  EXPECT_EQ(senderDelegate_->sent, (std::vector<long>{1}));
  EXPECT_TRUE(sender_->isClosed());
  EXPECT_FALSE(sender_->isIPv4() || sender_->isIPv6());
  EXPECT_THROW(sender_->bindToPort(0), platform::Exception);
}

TEST(RunLoopUdpSocketMisuse, OrderOfBindingAndJoiningIsEnforced) {
  auto sock = RunLoopUdpSocket::initIPv4();
  EXPECT_THROW(sock->joinMulticastGroup("239.1.2.3"), platform::Exception);
  ASSERT_TRUE(sock->bindToAddress("localhost", 0));
  try {
    sock->bindToPort(0);
    FAIL() << "bound twice";
  } catch (const platform::Exception& e) {
    EXPECT_EQ(e.name(), kRunLoopUdpSocketException);
    EXPECT_STREQ(e.what(), "Cannot bind a socket more than once.");
  }
  Bytes address6(sizeof(sockaddr_in6), 0);
  EXPECT_FALSE(sock->sendData(SocketData("x"), address6, -1, 0)) << "no IPv6 socket";
  EXPECT_FALSE(sock->sendData(SocketData("x"), "", 80, -1, 0));
  Error error;
  EXPECT_FALSE(sock->connectToAddress(Bytes(3, 0), &error));
  EXPECT_EQ(error.localizedDescription(), "remoteAddr parameter is not a valid address");
  EXPECT_TRUE(sock->enableBroadcast(true));
  sock->close();
  EXPECT_TRUE(sock->isClosed());
}

// Descriptor 0 is a socket like any other: a process without standard input hands it out.
TEST(RunLoopUdpSocketDescriptorZero, ASocketOnDescriptorZeroSendsAndReceives) {
  auto loop = RunLoop::current();
  auto delegate = std::make_shared<RecordingUdpDelegate>();
  int savedStdin = ::dup(0);
  ASSERT_GE(savedStdin, 0);
  ::close(0);
  auto receiver = RunLoopUdpSocket::create(delegate, 0, true, false);
  int type = 0;
  socklen_t length = sizeof type;
  EXPECT_EQ(::getsockopt(0, SOL_SOCKET, SO_TYPE, &type, &length), 0);
  EXPECT_EQ(type, SOCK_DGRAM) << "the socket took descriptor 0";
  Error error;
  bool bound = receiver->bindToAddress("127.0.0.1", 0, &error);
  EXPECT_TRUE(bound);
  EXPECT_TRUE(receiver->isIPv4());
  auto sender = RunLoopUdpSocket::create(delegate, 0, true, false);
  receiver->receiveWithTimeout(-1, 1);
  EXPECT_TRUE(sender->sendData(SocketData("zero"), "127.0.0.1", receiver->localPort(), -1, 2));
  EXPECT_TRUE(loop->runUntil([&] { return delegate->received.size() == 1; }));
  receiver->sendData(SocketData("back"), "127.0.0.1", sender->localPort(), -1, 3);
  sender->receiveWithTimeout(-1, 4);
  EXPECT_TRUE(loop->runUntil([&] { return delegate->received.size() == 2; }));
  EXPECT_EQ(delegate->sent, (std::vector<long>{2, 3}));
  receiver->close();
  sender->close();
  EXPECT_EQ(::dup2(savedStdin, 0), 0);
  ::close(savedStdin);
  loop->runUntil([&] { return delegate->closed == 2; });
}

}  // namespace
