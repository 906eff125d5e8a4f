// Writing and closing over real loopback connections, IPv4 and IPv6: slow peers and progress,
// reset peers, disconnect-after modes, write time-outs on the manual clock.

#include <gtest/gtest.h>

#include <cmath>

#include "SocketHarness.h"
#include "platform/foundation/Clock.h"

using namespace sockettest;
using platform::ScopedManualClock;

namespace {

const std::string kDomain = kDispatchSocketErrorDomain;

// Bytes that show where they came from: a shifted or dropped piece never matches.
std::string pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
  return bytes;
}

// The sum of "partial-... <tag> <n>" events.
std::size_t partialTotal(const std::vector<std::string>& events) {
  std::size_t total = 0;
  for (const auto& e : events) total += std::stoul(e.substr(e.rfind(' ') + 1));
  return total;
}

}  // namespace

class WriteTest : public ConnectionTest {};

INSTANTIATE_TEST_SUITE_P(Families, WriteTest, testing::Values("127.0.0.1", "::1"), familyName);

TEST_P(WriteTest, ASlowReaderGetsOrderedProgressThenOneCompletion) {
  connect(std::make_shared<Recorder>(), 4096);
  const std::string payload = pattern(8 << 20);
  sock->writeData(payload, -1, 1);
  ASSERT_TRUE(events().waitForCount("partial-write", 1));
  float progress = sock->progressOfWriteReturningTag(nullptr, nullptr, nullptr);
  EXPECT_GT(progress, 0.0f);
  EXPECT_LT(progress, 1.0f);
  std::string received;
  while (received.size() < payload.size()) {
    std::string piece =
        client->receive(std::min<std::size_t>(64 << 10, payload.size() - received.size()));
    ASSERT_FALSE(piece.empty());
    received += piece;
    float now = sock->progressOfWriteReturningTag(nullptr, nullptr, nullptr);
    if (!std::isnan(now)) {
      EXPECT_GE(now, progress);
      progress = now;
    }
  }
  ASSERT_TRUE(events().waitForCount("write", 1));
  EXPECT_TRUE(received == payload);
  auto all = withoutAccept(events().events());
  auto partials = events().eventsStartingWith("partial-write");
  EXPECT_GT(partials.size(), 1u);
  EXPECT_LT(partialTotal(partials), payload.size());
  // Every report of progress comes before the one completion.
  EXPECT_EQ(all.back(), "write 1");
  EXPECT_EQ(all.size(), partials.size() + 1);
}

TEST_P(WriteTest, ALongReadCollectsInOrderWithProgressOnTheWay) {
  connect();
  const std::string payload = pattern(4 << 20);
  sock->readDataToLength(payload.size(), -1, 2);
  for (std::size_t at = 0; at < payload.size(); at += 256 << 10) {
    client->send(payload.substr(at, 256 << 10));
  }
  ASSERT_TRUE(events().waitForCount("read", 1));
  EXPECT_TRUE(events().reads().front().toString() == payload);
  auto partials = events().eventsStartingWith("partial-read");
  EXPECT_GE(partials.size(), 1u);
  EXPECT_LT(partialTotal(partials), payload.size());
}

TEST_P(WriteTest, AResetPeerGivesAnErrnoErrorAndTheProcessLives) {
  for (bool writePending : {false, true}) {
    SCOPED_TRACE(writePending ? "a write waiting" : "a read waiting");
    connect(std::make_shared<Recorder>(), 4096);
    if (writePending) {
      sock->writeData(pattern(8 << 20), -1, 1);
      ASSERT_TRUE(events().waitForCount("partial-write", 1));
    } else {
      sock->readDataToData(DispatchSocket::LFData(), -1, 1);
    }
    client->reset();
    ASSERT_TRUE(events().waitForCount("disconnect", 1));
    auto err = events().disconnectError();
    ASSERT_TRUE(err);
    EXPECT_EQ(err->domain(), platform::kPOSIXErrorDomain);
    EXPECT_TRUE(err->code() == ECONNRESET || err->code() == EPIPE) << err->code();
    EXPECT_TRUE(sock->isDisconnected());
    // Writing to it now is dropped, and nothing raises a signal.
    sock->writeData("late", -1, 9);
    EXPECT_TRUE(events().quietFor("write", 50));
    sock = nullptr;
    client = nullptr;
    server = nullptr;
  }
}

struct CloseModeCase {
  const char* name;
  int reads;   // terminator reads queued before the mode
  int writes;  // writes queued before the mode
  void (DispatchSocket::*mode)();
  std::string clientSends;
  std::vector<std::string> expected;
};

void PrintTo(const CloseModeCase& c, std::ostream* os) { *os << c.name; }

class CloseModeTest : public testing::TestWithParam<CloseModeCase> {};

// Asked from another thread, or on the socket queue itself (a delegate whose delegate queue is
// the socket queue): either way the mode comes after the requests asked for before it.
TEST_P(CloseModeTest, ClosesOnceTheAwaitedSideIsEmpty) {
  const auto& c = GetParam();
  for (bool onSocketQueue : {false, true}) {
    SCOPED_TRACE(onSocketQueue ? "on the socket queue" : "from the test's thread");
    Server server("127.0.0.1");
    Client client("127.0.0.1", server.port, 4096);
    auto sock = server.accepted();
    ASSERT_TRUE(sock);
    std::string written;
    auto ask = [&] {
      for (int i = 1; i <= c.reads; ++i) sock->readDataToData(DispatchSocket::LFData(), -1, i);
      for (int i = 1; i <= c.writes; ++i) {
        std::string bytes = "write " + std::to_string(i) + "\n";
        sock->writeData(bytes, -1, 10 + i);
        written += bytes;
      }
      ((*sock).*(c.mode))();
      // Requests after the mode is chosen are ignored.
      sock->writeData("ignored\n", -1, 99);
      sock->readDataToData(DispatchSocket::LFData(), -1, 98);
    };
    if (onSocketQueue) {
      sock->performBlock(ask);
    } else {
      ask();
    }
    client.send(c.clientSends);
    EXPECT_EQ(client.receive(written.size()), written);
    EXPECT_TRUE(client.waitForClose());
    ASSERT_TRUE(server.recorder->waitForCount("disconnect", 1));
    drain(server.delegateQueue);
    EXPECT_EQ(withoutAccept(server.recorder->events()), c.expected);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CloseModeTest,
    testing::Values(CloseModeCase{"AfterWritingTwoWrites",
                                  0,
                                  2,
                                  &DispatchSocket::disconnectAfterWriting,
                                  "",
                                  {"write 11", "write 12", "disconnect"}},
                    CloseModeCase{"AfterWritingNothingQueued",
                                  0,
                                  0,
                                  &DispatchSocket::disconnectAfterWriting,
                                  "",
                                  {"disconnect"}},
                    CloseModeCase{"AfterReadingOneRead",
                                  1,
                                  0,
                                  &DispatchSocket::disconnectAfterReading,
                                  "line\n",
                                  {"read 1 line\n", "disconnect"}},
                    CloseModeCase{"AfterBothWithAnEmptyReadSide",
                                  0,
                                  1,
                                  &DispatchSocket::disconnectAfterReadingAndWriting,
                                  "",
                                  {"write 11", "disconnect"}},
                    CloseModeCase{"AfterBothWaitsForBoth",
                                  1,
                                  1,
                                  &DispatchSocket::disconnectAfterReadingAndWriting,
                                  "line\n",
                                  {"write 11", "read 1 line\n", "disconnect"}}));

TEST_P(WriteTest, ACloseDropsPendingRequestsWithoutReportingThem) {
  connect(std::make_shared<Recorder>(), 4096);
  sock->readDataToData(DispatchSocket::LFData(), -1, 1);
  sock->writeData(pattern(8 << 20), -1, 2);
  sock->writeData("queued", -1, 3);
  ASSERT_TRUE(events().waitForCount("partial-write", 1));
  sock->disconnect();
  sock->disconnect();
  ASSERT_TRUE(events().waitForCount("disconnect", 1));
  drain(server->delegateQueue);
  auto all = withoutAccept(events().events());
  EXPECT_EQ(all.back(), "disconnect");
  EXPECT_EQ(events().eventsStartingWith("read").size(), 0u);
  EXPECT_EQ(events().eventsStartingWith("write").size(), 0u);
  EXPECT_EQ(events().eventsStartingWith("disconnect").size(), 1u);
}

TEST_P(WriteTest, AWriteTimeoutNobodyExtendsClosesTheSocket) {
  ScopedManualClock clock;
  connect(std::make_shared<Recorder>(), 4096);
  sock->writeData(pattern(8 << 20), 5.0, 1);
  ASSERT_TRUE(events().waitForCount("partial-write", 1));
  clock->advanceSeconds(5);
  ASSERT_TRUE(events().waitForCount("disconnect", 1));
  EXPECT_EQ(events().eventsStartingWith("disconnect"),
            (std::vector<std::string>{"disconnect " + kDomain + " 5"}));
  EXPECT_EQ(events().disconnectError()->localizedDescription(), "Write operation timed out");
}

TEST_P(WriteTest, AnExtendedWriteGoesOnWithTheBytesWritten) {
  ScopedManualClock clock;
  connect(std::make_shared<ExtendingRecorder>(30.0), 4096);
  const std::string payload = pattern(8 << 20);
  sock->writeData(payload, 5.0, 1);
  ASSERT_TRUE(events().waitForCount("partial-write", 1));
  clock->advanceSeconds(5);
  ASSERT_TRUE(events().waitForCount("should-timeout-write", 1));
  EXPECT_TRUE(client->receive(payload.size()) == payload);
  ASSERT_TRUE(events().waitForCount("write", 1));
  EXPECT_EQ(events().eventsStartingWith("should-timeout-write"),
            (std::vector<std::string>{"should-timeout-write 1 5"}));
  EXPECT_FALSE(sock->isDisconnected());
}
