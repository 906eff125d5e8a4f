#include <gtest/gtest.h>

#include <string>

#include "platform/foundation/Assert.h"
#include "sockets/runloop/RunLoopReadPacket.h"

using platform::Bytes;

namespace {

Bytes bytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

// A terminator read whose first bytes already arrived.
RunLoopReadPacket termRead(const std::string& term, const std::string& readSoFar,
                           std::size_t maxLength = 0) {
  RunLoopReadPacket packet(nullptr, 0, maxLength, -1, 0, bytes(term), 0);
  *packet.buffer = bytes(readSoFar);
  packet.bytesDone = readSoFar.size();
  return packet;
}

TEST(RunLoopReadPacketTest, PlainTerminatorReadsNeverReachPastATerminator) {
  struct Case {
    const char* term;
    const char* read;
    std::size_t maxLength;
    std::size_t expected;
  };
  const Case cases[] = {
      {"\r\n", "", 0, 2},          // nothing read yet: the terminator's length
      {"\n", "abc", 0, 1},         // one-byte terminator
      {"\r\n", "abc\r", 0, 1},     // half the terminator is in: one more byte
      {"\r\n", "abc", 0, 2},       // no start of it yet
      {"--END--", "x--EN", 0, 3},  // "--EN" may begin it: three more
      {"--END--", "-", 0, 6},      // fewer bytes read than the terminator is long
      {"--END--", "abc", 5, 2},    // the maximum caps it
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.term) + " after " + c.read);
    EXPECT_EQ(termRead(c.term, c.read, c.maxLength).readLengthForTerm(), c.expected);
  }
}

TEST(RunLoopReadPacketTest, ReadAheadBufferIsTakenUpToAndIncludingTheTerminator) {
  struct Case {
    const char* read;
    const char* preBuffer;
    std::size_t expected;
    bool found;
  };
  const Case cases[] = {
      {"", "ab\r\ncd", 4, true},  // wholly inside the read-ahead bytes
      {"ab\r", "\ncd", 1, true},  // straddles the join
      {"ab", "cdef", 4, false},   // not there: all of it
      {"", "\r\n", 2, true},      // exactly the terminator
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.read) + "|" + c.preBuffer);
    bool found = !c.found;
    EXPECT_EQ(termRead("\r\n", c.read).readLengthForTermWithPreBuffer(bytes(c.preBuffer), found),
              c.expected);
    EXPECT_EQ(found, c.found);
  }
  bool untouched = true;
  EXPECT_EQ(termRead("--END--", "ab").readLengthForTermWithPreBuffer(bytes("--"), untouched), 2u);
  EXPECT_TRUE(untouched) << "too few bytes to tell leaves the flag alone";
  EXPECT_THROW(termRead("\r\n", "").readLengthForTermWithPreBuffer({}, untouched),
               platform::AssertionFailure);
}

TEST(RunLoopReadPacketTest, SearchAfterReadAheadCountsTheBytesPastTheTerminator) {
  EXPECT_EQ(termRead("\r\n", "abc\r\nxyz").searchForTermAfterPreBuffering(8), 3);
  EXPECT_EQ(termRead("\r\n", "abc\r\n").searchForTermAfterPreBuffering(1), 0);
  EXPECT_EQ(termRead("\r\n", "abcdef").searchForTermAfterPreBuffering(6), -1);
  EXPECT_THROW(termRead("\r\n", "ab").searchForTermAfterPreBuffering(3),
               platform::AssertionFailure);
}

TEST(RunLoopReadPacketTest, CallerBuffersCapAPassToTheirSpaceLeft) {
  auto buffer = std::make_shared<Bytes>(10, 0);
  RunLoopReadPacket available(buffer, 4, 0, -1, 0, std::nullopt, 0);
  EXPECT_FALSE(available.bufferOwner);
  EXPECT_EQ(available.originalBufferLength, 10u);
  EXPECT_EQ(available.readLengthForNonTerm(), 6u);
  available.bytesDone = 6;
  EXPECT_EQ(available.readLengthForNonTerm(), 256u) << "no space left: no cap";
  RunLoopReadPacket withMax(nullptr, 0, 100, -1, 0, std::nullopt, 0);
  EXPECT_EQ(withMax.readLengthForNonTerm(), 100u);
  RunLoopReadPacket length(nullptr, 0, 0, -1, 1000, std::nullopt, 0);
  EXPECT_EQ(length.readLengthForNonTerm(), 1000u);
  EXPECT_THROW(termRead("x", "").readLengthForNonTerm(), platform::AssertionFailure);
  EXPECT_THROW(length.readLengthForTerm(), platform::AssertionFailure);
}

}  // namespace
