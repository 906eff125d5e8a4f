// Writes of more than one piece over real loopback connections, IPv4 and IPv6: a head and a body
// gathered into one write, and a head followed by a stretch of a real file in a temporary folder
// (a short stretch spliced by sendfile, a long one copied through the socket's buffer), each
// arriving byte for byte with one completion, in order among plain writes; and a file that
// shrinks, or a peer that goes, while its bytes are being sent, both ways.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "SocketHarness.h"
#include "support/Files.h"
#include "support/TempHome.h"

using namespace sockettest;

namespace {

// Stretches of a file on either side of the length from which the socket copies a file's bytes
// rather than splicing them.
constexpr std::size_t kSplicedStretch = 3 << 20;
constexpr std::size_t kCopiedStretch = 24 << 20;

// Bytes that show where they came from: a shifted or dropped piece never matches.
std::string pattern(std::size_t size, int seed) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<char>('a' + (i * 7 + i / 251 + static_cast<std::size_t>(seed)) % 26);
  return bytes;
}

}  // namespace

class GatheredWriteTest : public ConnectionTest {
 protected:
  // A real file holding `content`.
  std::shared_ptr<SocketFile> fileWith(const std::string& content) {
    path = home.path() + "/body.bin";
    testsupport::writeFile(path, content);
    return SocketFile::openRegular(path);
  }

  testsupport::TempHome home;
  std::string path;
};

INSTANTIATE_TEST_SUITE_P(Families, GatheredWriteTest, testing::Values("127.0.0.1", "::1"),
                         familyName);

// Small and large pieces, a slow reader among them, so passes end inside the head, at the seam
// and inside the body or the file; each write completes once, in the order queued.
TEST_P(GatheredWriteTest, HeadAndBodyOrFileArriveWholeInOrderWithOneCompletionEach) {
  struct Case {
    const char* name;
    std::size_t head;
    std::size_t body;
    int clientBuffer;
  };
  for (const Case& c : {Case{"small", 151, 4096, 0}, Case{"empty head", 0, 70000, 0},
                        Case{"slow reader", 100003, kSplicedStretch, 4096},
                        Case{"long stretch, slow reader", 100003, 6 << 20, 4096},
                        Case{"long stretch, no head", 0, 5 << 20, 0}}) {
    SCOPED_TRACE(c.name);
    connect(std::make_shared<Recorder>(), c.clientBuffer);
    const std::string head = pattern(c.head, 1);
    const std::string body = pattern(c.body, 2);
    const std::string fileContent = pattern(c.body + 5000, 3);
    auto file = fileWith(fileContent);
    ASSERT_TRUE(file);

    sock->writeData(SocketData("first"), -1, 1);
    sock->writeData(SocketData(head), SocketData(body), -1, 2);
    sock->writeFile(SocketData(head), file, 1000, c.body, -1, 3);
    sock->writeData(SocketData(std::string()), SocketData("tail"), -1, 4);
    // Nothing to send: ignored, as an empty plain write is.
    sock->writeData(SocketData(), SocketData(), -1, 5);
    sock->writeFile(SocketData(), file, 0, 0, -1, 6);
    file.reset();  // the queued write keeps the file open

    const std::string expected =
        "first" + head + body + head + fileContent.substr(1000, c.body) + "tail";
    std::string received = client->receive(expected.size());
    EXPECT_EQ(received.size(), expected.size());
    EXPECT_TRUE(received == expected);
    ASSERT_TRUE(events().waitForCount("write", 4));
    EXPECT_EQ(events().eventsStartingWith("write "),
              (std::vector<std::string>{"write 1", "write 2", "write 3", "write 4"}));
    EXPECT_TRUE(events().quietFor("write 5", 20));
    EXPECT_TRUE(events().quietFor("write 6", 0));
    EXPECT_FALSE(sock->isDisconnected());
    sock = nullptr;
    client = nullptr;
    server = nullptr;
  }
}

// A long body sent in short pieces, each said to be part of a long stream (copied rather than
// spliced), with a head on the first: the bytes arrive whole and in order, one completion each.
TEST_P(GatheredWriteTest, PiecesOfALongStreamArriveWholeInOrder) {
  connect(std::make_shared<Recorder>(), 4096);
  constexpr std::size_t kPiece = 100003;
  constexpr int kPieces = 5;
  const std::string content = pattern(kPiece * kPieces + 777, 6);
  auto file = fileWith(content);
  ASSERT_TRUE(file);
  const std::string head = pattern(313, 7);
  for (int i = 0; i < kPieces; ++i) {
    sock->writeFile(SocketData(i == 0 ? head : std::string()), file, 777 + kPiece * i, kPiece, -1,
                    10 + i, /*partOfLongStream=*/true);
  }
  const std::string expected = head + content.substr(777);
  std::string received = client->receive(expected.size());
  EXPECT_EQ(received.size(), expected.size());
  EXPECT_TRUE(received == expected);
  ASSERT_TRUE(events().waitForCount("write", kPieces));
  EXPECT_EQ(events().eventsStartingWith("write "),
            (std::vector<std::string>{"write 10", "write 11", "write 12", "write 13", "write 14"}));
}

// The file is cut short while a slow reader holds its bytes back: the socket sends what the file
// still has and closes with an error, rather than waiting for bytes that will never come or
// reporting a write the peer did not get whole.
TEST_P(GatheredWriteTest, AFileThatShrinksMidSendClosesTheSocketAfterWhatItStillHad) {
  for (std::size_t length : {kSplicedStretch, kCopiedStretch}) {
    SCOPED_TRACE(length);
    connect(std::make_shared<Recorder>(), 4096);
    const std::string content = pattern(length, 4);
    auto file = fileWith(content);
    ASSERT_TRUE(file);
    sock->writeFile(SocketData("HEAD"), file, 0, content.size(), -1, 7);
    ASSERT_TRUE(events().waitForCount("partial-write", 1));
    ASSERT_EQ(::truncate(path.c_str(), 1 << 20), 0);

    std::string received;
    while (true) {
      std::string piece = client->receive(64 << 10);
      received += piece;
      if (piece.size() < (64u << 10)) break;  // the peer closed
    }
    EXPECT_TRUE(client->waitForClose());
    ASSERT_TRUE(events().waitForCount("disconnect", 1));
    auto err = events().disconnectError();
    ASSERT_TRUE(err);
    EXPECT_EQ(err->domain(), kDispatchSocketErrorDomain);
    EXPECT_EQ(err->code(), kDispatchSocketOtherError);
    EXPECT_TRUE(events().eventsStartingWith("write ").empty());
    // What came is the head and the start of the file, not all of it. The bytes the file still
    // has are exact; those past its new end that were already on their way are the file's pages
    // as the kernel copies them out, which the truncation may have cleared.
    ASSERT_GE(received.size(), 4u);
    EXPECT_EQ(received.substr(0, 4), "HEAD");
    EXPECT_LT(received.size(), content.size() + 4);
    const std::size_t kept = std::min<std::size_t>(received.size() - 4, 1 << 20);
    EXPECT_TRUE(received.substr(4, kept) == content.substr(0, kept));
  }
}

// sendfile cannot be told not to raise SIGPIPE, which would end the process: a peer that is gone
// while a file is on its way gives an error, as a plain write's does, whichever way the file's
// bytes go.
TEST_P(GatheredWriteTest, APeerThatIsGoneDuringAFileWriteGivesAnErrorAndTheProcessLives) {
  for (std::size_t length : {kSplicedStretch, kCopiedStretch}) {
    SCOPED_TRACE(length);
    connect(std::make_shared<Recorder>(), 4096);
    const std::string content = pattern(length, 5);
    auto file = fileWith(content);
    ASSERT_TRUE(file);
    sock->writeFile(SocketData("HEAD"), file, 0, content.size(), -1, 8);
    ASSERT_TRUE(events().waitForCount("partial-write", 1));
    client->reset();
    ASSERT_TRUE(events().waitForCount("disconnect", 1));
    auto err = events().disconnectError();
    ASSERT_TRUE(err);
    EXPECT_EQ(err->domain(), platform::kPOSIXErrorDomain);
    EXPECT_TRUE(err->code() == ECONNRESET || err->code() == EPIPE) << err->code();
    // A socket whose sending side is shut: the first call meets EPIPE, the case that raises it.
    connect(std::make_shared<Recorder>(), 4096);
    sock->performBlock([&] { ::shutdown(sock->socketFD(), SHUT_WR); });
    sock->writeFile(SocketData(), file, 0, content.size(), -1, 9);
    ASSERT_TRUE(events().waitForCount("disconnect", 1));
    err = events().disconnectError();
    ASSERT_TRUE(err);
    EXPECT_EQ(err->domain(), platform::kPOSIXErrorDomain);
    EXPECT_EQ(err->code(), EPIPE);
  }
}
