// Reading over real loopback connections, IPv4 and IPv6: terminators within and across
// segments, limits, the end of the stream, time-outs on the manual clock, caller buffers.

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>

#include "SocketHarness.h"
#include "platform/dispatch/Reactor.h"
#include "platform/foundation/Clock.h"

using namespace sockettest;
using platform::Bytes;
using platform::ScopedManualClock;

namespace {

const std::string kDomain = kDispatchSocketErrorDomain;

}  // namespace

class ReadTest : public ConnectionTest {};

INSTANTIATE_TEST_SUITE_P(Families, ReadTest, testing::Values("127.0.0.1", "::1"), familyName);

TEST_P(ReadTest, TwoLinesInOneSegmentCompleteTwoReadsWithoutMoreInput) {
  connect();
  sock->readDataToData(DispatchSocket::CRLFData(), -1, 1);
  sock->readDataToData(DispatchSocket::CRLFData(), -1, 2);
  client->send("GET / HTTP/1.1\r\nHost: a\r\n");
  ASSERT_TRUE(events().waitForCount("read", 2));
  EXPECT_EQ(withoutAccept(events().events()),
            (std::vector<std::string>{"read 1 GET / HTTP/1.1\r\n", "read 2 Host: a\r\n"}));
}

TEST_P(ReadTest, ACrLfSplitAcrossSegmentsIsFoundAfterAPartialReport) {
  connect();
  sock->readDataToData(DispatchSocket::CRLFData(), -1, 5);
  client->send("abc\r");
  ASSERT_TRUE(events().waitForCount("partial-read", 1));
  client->send("\ndef");
  ASSERT_TRUE(events().waitForCount("read", 1));
  sock->readDataToData(DispatchSocket::CRLFData(), -1, 6);
  client->send("\r\n");
  ASSERT_TRUE(events().waitForCount("read", 2));
  EXPECT_EQ(withoutAccept(events().events()),
            (std::vector<std::string>{"partial-read 5 4", "read 5 abc\r\n", "partial-read 6 3",
                                      "read 6 def\r\n"}));
}

// A line server's view of one request sent in two pieces, for every place the request can be
// cut: the lines read are always the request's lines.
TEST_P(ReadTest, EverySplitOfARequestReadsTheSameLines) {
  auto recorder = std::make_shared<Recorder>();
  // Shared with the handler: a read can complete after the test body has returned.
  auto nextTag = std::make_shared<std::atomic<long>>(1);
  recorder->onRead = [nextTag](const std::shared_ptr<DispatchSocket>& s, const SocketData&, long) {
    s->readDataToData(DispatchSocket::CRLFData(), -1, ++*nextTag);
  };
  connect(recorder);
  const std::string request = "GET /a HTTP/1.1\r\nHost: b\r\nRange: bytes=0-\r\n\r\n";
  std::vector<std::string> lines;
  for (std::size_t from = 0; from < request.size();) {
    std::size_t end = request.find("\r\n", from) + 2;
    lines.push_back(request.substr(from, end - from));
    from = end;
  }
  sock->readDataToData(DispatchSocket::CRLFData(), -1, 1);
  std::size_t reads = 0;
  std::size_t partials = 0;
  for (std::size_t split = 1; split < request.size(); ++split) {
    std::string first = request.substr(0, split);
    std::size_t linesInFirst = 0;
    for (const auto& line : lines) {
      if (first.size() < line.size() || first.compare(0, line.size(), line) != 0) break;
      first.erase(0, line.size());
      ++linesInFirst;
    }
    client->send(request.substr(0, split));
    reads += linesInFirst;
    // The first piece is wholly taken before the second is sent: its lines are read, and a
    // partial line is reported as progress.
    if (!first.empty()) ++partials;
    ASSERT_TRUE(events().waitForCount("read", reads)) << "split " << split;
    ASSERT_TRUE(events().waitForCount("partial-read", partials)) << "split " << split;
    client->send(request.substr(split));
    reads += lines.size() - linesInFirst;
    ASSERT_TRUE(events().waitForCount("read", reads)) << "split " << split;
  }
  auto got = events().reads();
  ASSERT_EQ(got.size(), reads);
  for (std::size_t i = 0; i < got.size(); ++i) {
    ASSERT_EQ(got[i].toString(), lines[i % lines.size()]) << "read " << i;
  }
}

TEST_P(ReadTest, ALineOverTheLimitClosesWithTheMaxedOutError) {
  connect();
  sock->readDataToData(DispatchSocket::CRLFData(), -1, 8, 3);
  client->send("123456789\r\n");
  ASSERT_TRUE(events().waitForCount("disconnect", 1));
  EXPECT_EQ(withoutAccept(events().events()),
            (std::vector<std::string>{"partial-read 3 8", "disconnect " + kDomain + " 6"}));
  EXPECT_EQ(events().disconnectError()->localizedDescription(),
            "Read operation reached set maximum length");
  EXPECT_TRUE(client->waitForClose());
}

TEST_P(ReadTest, TheEndOfTheStreamWaitsForTheBufferedLine) {
  connect();
  sock->readDataToData(DispatchSocket::LFData(), -1, 1);
  client->send("first\nsecond\n");
  client->shutdownWrite();
  ASSERT_TRUE(events().waitForCount("read", 1));
  // The second line is still to be served: the socket stays open.
  EXPECT_TRUE(events().quietFor("disconnect", 200));
  EXPECT_FALSE(sock->isDisconnected());
  sock->readDataToData(DispatchSocket::LFData(), -1, 2);
  ASSERT_TRUE(events().waitForCount("disconnect", 1));
  EXPECT_EQ(withoutAccept(events().events()),
            (std::vector<std::string>{"read 1 first\n", "read 2 second\n",
                                      "disconnect " + kDomain + " 7"}));
}

TEST_P(ReadTest, APeerThatClosesAnIdleConnectionClosesIt) {
  connect();
  client = nullptr;  // an orderly close
  ASSERT_TRUE(events().waitForCount("disconnect", 1));
  EXPECT_EQ(events().disconnectError()->code(), kDispatchSocketClosedError);
  EXPECT_EQ(events().disconnectError()->localizedDescription(), "Socket closed by remote peer");
  EXPECT_TRUE(sock->isDisconnected());
}

TEST_P(ReadTest, HalfDuplexKeepsWritingAfterThePeerStopsSending) {
  connect();
  sock->setAutoDisconnectOnClosedReadStream(false);
  EXPECT_FALSE(sock->autoDisconnectOnClosedReadStream());
  sock->readDataToData(DispatchSocket::LFData(), -1, 1);
  client->shutdownWrite();
  ASSERT_TRUE(events().waitForCount("close-read-stream", 1));
  sock->writeData("still writing", -1, 2);
  EXPECT_EQ(client->receive(13), "still writing");
  ASSERT_TRUE(events().waitForCount("write", 1));
  EXPECT_FALSE(sock->isDisconnected());
}

TEST_P(ReadTest, AvailableBytesReadsCompleteWithWhatOnePassTook) {
  connect();
  sock->readDataWithTimeout(-1, 1);
  client->send("some bytes");
  ASSERT_TRUE(events().waitForCount("read", 1));
  EXPECT_EQ(events().eventsStartingWith("read"), (std::vector<std::string>{"read 1 some bytes"}));
  sock->readDataWithTimeout(-1, nullptr, 0, 4, 2);  // at most 4
  sock->readDataWithTimeout(-1, 3);
  client->send("abcdefg");
  ASSERT_TRUE(events().waitForCount("read", 3));
  EXPECT_EQ(events().eventsStartingWith("read"),
            (std::vector<std::string>{"read 1 some bytes", "read 2 abcd", "read 3 efg"}));
}

TEST_P(ReadTest, RequestsWithBadArgumentsAreDroppedSilently) {
  connect();
  auto small = std::make_shared<Bytes>(3);
  sock->readDataToLength(0, -1, 91);
  sock->readDataToData(SocketData(), -1, 92);
  sock->readDataToData(DispatchSocket::CRLFData(), -1, 1, 93);  // limit below the terminator
  sock->readDataWithTimeout(-1, small, 4, 94);                  // offset past the buffer
  sock->readDataToLength(2, -1, nullptr, 1, 95);                // offset without a buffer
  sock->readDataToData(DispatchSocket::LFData(), -1, 1);
  client->send("x\n");
  ASSERT_TRUE(events().waitForCount("read", 1));
  EXPECT_EQ(withoutAccept(events().events()), (std::vector<std::string>{"read 1 x\n"}));
}

TEST(ReadIdleTest, ASocketThatIsNotStartedDropsRequestsAndReportsNoProgress) {
  auto sock = DispatchSocket::create();
  sock->readDataToLength(4, -1, 1);
  sock->writeData("x", -1, 2);
  long tag = -1;
  std::size_t done = 9, total = 9;
  EXPECT_TRUE(std::isnan(sock->progressOfReadReturningTag(&tag, &done, &total)));
  EXPECT_EQ(tag, 0);
  EXPECT_EQ(done, 0u);
  EXPECT_EQ(total, 0u);
  EXPECT_TRUE(std::isnan(sock->progressOfWriteReturningTag(nullptr, nullptr, nullptr)));
}

TEST_P(ReadTest, ProgressOfTheCurrentRead) {
  connect();
  sock->readDataToLength(10, -1, 4);
  client->send("abcd");
  ASSERT_TRUE(events().waitForCount("partial-read", 1));
  long tag = 0;
  std::size_t done = 0, total = 0;
  EXPECT_FLOAT_EQ(sock->progressOfReadReturningTag(&tag, &done, &total), 0.4f);
  EXPECT_EQ(tag, 4);
  EXPECT_EQ(done, 4u);
  EXPECT_EQ(total, 10u);
  client->send("efghij");
  ASSERT_TRUE(events().waitForCount("read", 1));
  sock->readDataToData(DispatchSocket::LFData(), -1, 5);
  // A terminator read has no fixed length: always "complete" as a fraction.
  EXPECT_FLOAT_EQ(sock->progressOfReadReturningTag(&tag, nullptr, nullptr), 1.0f);
  EXPECT_EQ(tag, 5);
}

struct CallerBufferCase {
  const char* name;
  std::string initial;
  std::size_t offset;
  bool exactLength;
  std::string sent;
  std::string bufferAfter;
};

void PrintTo(const CallerBufferCase& c, std::ostream* os) { *os << c.name; }

class CallerBufferTest : public testing::TestWithParam<CallerBufferCase> {};

// The delivered data is a view of the caller's buffer that keeps it alive, even when the caller
// has let go of the buffer and the read's own record of it is gone.
TEST_P(CallerBufferTest, TheResultSharesTheBuffer) {
  const auto& c = GetParam();
  Server server("127.0.0.1");
  Client client("127.0.0.1", server.port);
  auto sock = server.accepted();
  ASSERT_TRUE(sock);
  auto buffer = std::make_shared<Bytes>(c.initial.begin(), c.initial.end());
  std::weak_ptr<Bytes> watch = buffer;
  if (c.exactLength) {
    sock->readDataToLength(c.sent.size(), -1, std::move(buffer), c.offset, 8);
  } else {
    sock->readDataWithTimeout(-1, std::move(buffer), c.offset, 8);
  }
  client.send(c.sent);
  ASSERT_TRUE(server.recorder->waitForCount("read", 1));
  auto data = server.recorder->reads().front();
  EXPECT_EQ(data.toString(), c.sent);
  EXPECT_EQ(data.offset(), c.offset);
  ASSERT_FALSE(watch.expired());
  EXPECT_EQ(data.storage().get(), watch.lock().get());
  EXPECT_EQ(std::string(data.storage()->begin(), data.storage()->end()), c.bufferAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CallerBufferTest,
    testing::Values(CallerBufferCase{"AppendedAfterAHead", "HEAD", 4, true, "hello", "HEADhello"},
                    // Reading into the middle gives back the room it grew beyond the bytes read.
                    CallerBufferCase{"IntoTheMiddle", "0123456789", 2, false, "ab", "01ab456789"},
                    CallerBufferCase{"PastTheEnd", "01", 1, false, "xyz", "0xyz"}));

// --- Time-outs on the manual clock -------------------------------------------------------------

TEST_P(ReadTest, AnExtendedReadKeepsItsBytes) {
  ScopedManualClock clock;
  connect(std::make_shared<ExtendingRecorder>(10.0));
  sock->readDataToLength(10, 5.0, 7);
  client->send("abcd");
  ASSERT_TRUE(events().waitForCount("partial-read", 1));
  clock->advanceSeconds(5);
  ASSERT_TRUE(events().waitForCount("should-timeout-read", 1));
  client->send("efghij");
  ASSERT_TRUE(events().waitForCount("read", 1));
  clock->advanceSeconds(60);  // the read is done: its timer is gone
  EXPECT_TRUE(events().quietFor("should-timeout", 50));
  EXPECT_EQ(withoutAccept(events().events()),
            (std::vector<std::string>{"partial-read 7 4", "should-timeout-read 7 5 4",
                                      "read 7 abcdefghij"}));
  EXPECT_FALSE(sock->isDisconnected());
}

TEST_P(ReadTest, TheExtensionRunsOutInItsTurn) {
  ScopedManualClock clock;
  connect(std::make_shared<ExtendingRecorder>(3.0));
  sock->readDataToData(DispatchSocket::LFData(), 2.0, 1);
  awaitCurrentRead();
  clock->advanceSeconds(2);
  ASSERT_TRUE(events().waitForCount("should-timeout-read", 1));
  drain(server->delegateQueue);  // the answer is on its way to the socket queue
  awaitCurrentRead();            // and has re-armed the timer there
  clock->advanceSeconds(3);
  ASSERT_TRUE(events().waitForCount("should-timeout-read", 2));
  // Each question carries the time allowed so far, extensions included.
  EXPECT_EQ(events().eventsStartingWith("should-timeout-read"),
            (std::vector<std::string>{"should-timeout-read 1 2 0", "should-timeout-read 1 5 0"}));
}

TEST_P(ReadTest, AReadTimeoutNobodyExtendsClosesTheSocket) {
  ScopedManualClock clock;
  connect();
  sock->readDataToData(DispatchSocket::CRLFData(), 5.0, 1);
  awaitCurrentRead();
  clock->advanceSeconds(4.9);
  EXPECT_TRUE(events().quietFor("disconnect", 50));
  clock->advanceSeconds(0.1);
  ASSERT_TRUE(events().waitForCount("disconnect", 1));
  EXPECT_EQ(withoutAccept(events().events()),
            (std::vector<std::string>{"disconnect " + kDomain + " 4"}));
  EXPECT_EQ(events().disconnectError()->localizedDescription(), "Read operation timed out");
  EXPECT_TRUE(client->waitForClose());
}

// Every timed read re-arms one timer the socket keeps: however many reads went before, the
// reactor's heap holds no entry of theirs beyond the one waiting, and the last read still times
// out exactly at its own deadline (the entry that waits comes due first and moves on to it).
TEST_P(ReadTest, TimedReadsShareOneTimerThatStillFiresOnTime) {
  using std::chrono::milliseconds;
  ScopedManualClock clock;
  connect();
  sock->readDataToData(DispatchSocket::LFData(), 30.0, 0);
  client->send("0\n");
  ASSERT_TRUE(events().waitForCount("read", 1));
  const std::size_t waiting = platform::dispatch::Reactor::shared().timerCount();
  for (int tag = 1; tag <= 50; ++tag) {
    clock->advance(milliseconds(100));
    sock->readDataToData(DispatchSocket::LFData(), 30.0, tag);
    client->send(std::to_string(tag) + "\n");
    ASSERT_TRUE(events().waitForCount("read", static_cast<std::size_t>(tag) + 1));
  }
  EXPECT_LE(platform::dispatch::Reactor::shared().timerCount(), waiting);
  sock->readDataToData(DispatchSocket::LFData(), 30.0, 99);
  awaitCurrentRead();
  clock->advance(milliseconds(29900));
  EXPECT_TRUE(events().quietFor("disconnect", 50));
  clock->advance(milliseconds(100));
  ASSERT_TRUE(events().waitForCount("disconnect", 1));
  EXPECT_EQ(events().disconnectError()->code(), kDispatchSocketReadTimeoutError);
}

TEST_P(ReadTest, ATimeoutOfZeroFiresAtOnceAndANegativeOneNever) {
  ScopedManualClock clock;
  connect();
  sock->readDataToData(DispatchSocket::LFData(), -1, 1);
  awaitCurrentRead();
  clock->advanceSeconds(1e6);
  EXPECT_TRUE(events().quietFor("disconnect", 50));
  client->send("x\n");
  ASSERT_TRUE(events().waitForCount("read", 1));
  sock->readDataToData(DispatchSocket::LFData(), 0, 2);
  ASSERT_TRUE(events().waitForCount("disconnect", 1));
  EXPECT_EQ(events().disconnectError()->code(), kDispatchSocketReadTimeoutError);
}
