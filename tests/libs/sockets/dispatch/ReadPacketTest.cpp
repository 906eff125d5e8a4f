// The read-ahead buffer and the read packet's length rules, on their own: the terminator search
// across the collected bytes and the read-ahead is checked against a naive search at every
// split point.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "platform/foundation/Assert.h"
#include "sockets/dispatch/DispatchReadPacket.h"
#include "sockets/dispatch/DispatchSocketPreBuffer.h"

using platform::AssertionFailure;
using platform::Bytes;

namespace {

void fill(DispatchSocketPreBuffer& pre, const std::string& bytes) {
  pre.ensureCapacityForWrite(bytes.size());
  std::copy(bytes.begin(), bytes.end(), pre.writeBuffer());
  pre.didWrite(bytes.size());
}

std::string unread(const DispatchSocketPreBuffer& pre) {
  return std::string(reinterpret_cast<const char*>(pre.readBuffer()), pre.availableBytes());
}

// A terminator read that has already collected `collected`.
DispatchReadPacket termPacket(const std::string& term, const std::string& collected,
                              std::size_t maxLength = 0) {
  DispatchReadPacket packet(nullptr, 0, maxLength, -1, 0, SocketData(term), 0);
  packet.ensureCapacityForAdditionalDataOfLength(collected.size());
  std::copy(collected.begin(), collected.end(), packet.writePosition());
  packet.bytesDone = collected.size();
  return packet;
}

}  // namespace

TEST(PreBufferTest, SpaceIsTheRoomAfterTheWritePointerAndGrowingKeepsUnreadBytes) {
  DispatchSocketPreBuffer pre(4096);
  fill(pre, std::string(4000, 'x'));
  pre.didRead(3000);
  EXPECT_EQ(pre.availableBytes(), 1000u);
  EXPECT_EQ(pre.availableSpace(), 96u);
  pre.ensureCapacityForWrite(200);
  EXPECT_EQ(pre.capacity(), 4200u);
  EXPECT_EQ(pre.availableSpace(), 200u);  // the unread bytes stay 3000 bytes in
  EXPECT_EQ(unread(pre), std::string(1000, 'x'));
}

TEST(PreBufferTest, DrainingRewindsAndResetKeepsTheCapacity) {
  DispatchSocketPreBuffer pre(16);
  fill(pre, "abcdef");
  pre.didRead(2);
  EXPECT_EQ(unread(pre), "cdef");
  EXPECT_EQ(pre.availableSpace(), 10u);
  pre.didRead(4);
  EXPECT_EQ(pre.availableBytes(), 0u);
  EXPECT_EQ(pre.availableSpace(), 16u);
  fill(pre, std::string(40, 'y'));
  pre.reset();
  EXPECT_EQ(pre.availableBytes(), 0u);
  EXPECT_EQ(pre.capacity(), 40u);
}

struct TermCase {
  const char* name;
  std::string term;
  std::string collected;
  std::string preBuffered;
  std::size_t maxLength;
  std::size_t expectedLength;
  bool expectedFound;
};

void PrintTo(const TermCase& c, std::ostream* os) { *os << c.name; }

class TermWithPreBufferTest : public testing::TestWithParam<TermCase> {};

TEST_P(TermWithPreBufferTest, TakesExactlyUpToTheTerminatorOrTheLimit) {
  const auto& c = GetParam();
  auto packet = termPacket(c.term, c.collected, c.maxLength);
  DispatchSocketPreBuffer pre(64);
  fill(pre, c.preBuffered);
  bool found = false;
  EXPECT_EQ(packet.readLengthForTermWithPreBuffer(pre, &found), c.expectedLength);
  EXPECT_EQ(found, c.expectedFound);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TermWithPreBufferTest,
    testing::Values(
        TermCase{"CrCollectedLfBuffered", "\r\n", "GET /\r", "\nHost", 0, 1, true},
        TermCase{"WhollyBuffered", "\r\n", "GE", "T /\r\nHost", 0, 5, true},
        TermCase{"FirstOfTwo", "\n", "", "a\nb\n", 0, 2, true},
        TermCase{"NoneTakesAll", "\r\n", "ab", "cdef", 0, 4, false},
        TermCase{"LimitCutsTheSearch", "\r\n", "12345678", std::string(50, 'z'), 10, 2, false},
        TermCase{"TerminatorJustPastTheLimit", "\r\n", "1234567", "89\r\n", 10, 3, false},
        TermCase{"TerminatorEndingAtTheLimit", "\r\n", "1234567", "8\r\n", 10, 3, true},
        TermCase{"TooFewForATerminator", "abcd", "a", "bc", 0, 2, false},
        TermCase{"LongTerminatorStartingInCollected", "--end--", "body--e", "nd--rest", 0, 4, true},
        TermCase{"FalseStartInCollected", "\r\n\r\n", "x\r\n\r", "x\r\n\r\n", 0, 5, true}));

TEST(ReadPacketTest, SearchAfterPreBufferingCountsTheOvershoot) {
  struct Case {
    std::string term, collected, appended;
    long expected;
  };
  for (const auto& c : std::vector<Case>{
           {"\r\n", "", "ab\r\ncd", 2},
           {"\r\n", "ab\r", "\ncd", 2},  // starts in the collected bytes, ends in the new ones
           {"\r\n", "ab", "cd\r\n", 0},
           {"\r\n", "ab", "cd", -1},
           {"xyz", "axy", "zq", 1},
       }) {
    auto packet = termPacket(c.term, c.collected);
    packet.ensureCapacityForAdditionalDataOfLength(c.appended.size());
    std::copy(c.appended.begin(), c.appended.end(), packet.writePosition());
    EXPECT_EQ(packet.searchForTermAfterPreBuffering(static_cast<long>(c.appended.size())),
              c.expected)
        << c.collected << "|" << c.appended;
  }
}

TEST(ReadPacketTest, CallerBufferKeepsItsLengthAndCollectsAfterTheOffset) {
  auto buffer = std::make_shared<Bytes>(100, 'h');
  DispatchReadPacket packet(buffer, 100, 0, -1, 5, std::nullopt, 3);
  EXPECT_FALSE(packet.bufferOwner);
  EXPECT_EQ(packet.originalBufferLength, 100u);
  packet.ensureCapacityForAdditionalDataOfLength(5);
  EXPECT_EQ(buffer->size(), 105u);
  EXPECT_EQ(packet.writePosition(), buffer->data() + 100);
}

TEST(ReadPacketTest, LengthRulesOfEachKind) {
  DispatchReadPacket exact(nullptr, 0, 0, -1, 10, std::nullopt, 0);
  exact.bytesDone = 4;
  EXPECT_EQ(exact.readLengthForNonTermWithHint(100), 6u);
  bool preBuffer = true;
  EXPECT_EQ(exact.optimalReadLengthWithDefault(32768, &preBuffer), 6u);
  EXPECT_FALSE(preBuffer);

  DispatchReadPacket available(nullptr, 0, 8, -1, 0, std::nullopt, 0);
  EXPECT_EQ(available.readLengthForNonTermWithHint(100), 8u);
  EXPECT_EQ(available.readLengthForNonTermWithHint(3), 3u);
  EXPECT_EQ(available.optimalReadLengthWithDefault(32768, &preBuffer), 8u);
  EXPECT_TRUE(preBuffer);  // its own buffer has no room yet

  auto term = termPacket("\n", "abc", 10);
  EXPECT_EQ(term.readLengthForTermWithHint(100, &preBuffer), 7u);
  EXPECT_TRUE(preBuffer);
}

TEST(ReadPacketTest, MisuseFailsWithItsText) {
  DispatchReadPacket exact(nullptr, 0, 0, -1, 10, std::nullopt, 0);
  auto term = termPacket("\n", "");
  DispatchSocketPreBuffer empty(8);
  auto text = [](auto&& call) {
    try {
      call();
    } catch (const AssertionFailure& failure) {
      return std::string(failure.what());
    }
    return std::string("no failure");
  };
  EXPECT_EQ(text([&] { term.readLengthForNonTermWithHint(5); }),
            "This method does not apply to term reads");
  EXPECT_EQ(text([&] { exact.readLengthForTermWithHint(5, nullptr); }),
            "This method does not apply to non-term reads");
  EXPECT_EQ(text([&] { exact.searchForTermAfterPreBuffering(1); }),
            "This method does not apply to non-term reads");
  EXPECT_EQ(text([&] { exact.readLengthForNonTermWithHint(0); }),
            "Invalid parameter: bytesAvailable");
  EXPECT_EQ(text([&] { term.readLengthForTermWithPreBuffer(empty, nullptr); }),
            "Invoked with empty pre buffer!");
}

// Whatever the split between collected and buffered bytes, the bytes taken end at the first
// terminator of the whole stream (or all bytes within the limit are taken when there is none).
TEST(ReadPacketTest, TerminatorSearchMatchesANaiveSearchAtEverySplit) {
  std::mt19937 random(13);
  const std::vector<std::string> terms{"\n", "\r\n", "\r\n\r\n", "abab", "aab"};
  for (int round = 0; round < 400; ++round) {
    const std::string& term = terms[round % terms.size()];
    std::string stream;
    std::size_t length = 1 + random() % 24;
    for (std::size_t i = 0; i < length; ++i) stream += "ab\r\n"[random() % 4];
    std::size_t maxLength = (round % 3 == 0) ? term.size() + random() % 12 : 0;
    for (std::size_t split = 0; split < stream.size(); ++split) {
      std::string collected = stream.substr(0, split);
      // The engine never holds a whole terminator (or the limit) in the collected bytes.
      if (collected.find(term) != std::string::npos) break;
      if (maxLength > 0 && collected.size() >= maxLength) break;
      auto packet = termPacket(term, collected, maxLength);
      DispatchSocketPreBuffer pre(8);
      fill(pre, stream.substr(split));

      std::size_t firstEnd = stream.find(term);
      std::size_t limit = maxLength > 0 ? std::min(stream.size(), maxLength) : stream.size();
      bool naiveFound = firstEnd != std::string::npos && firstEnd + term.size() <= limit;
      std::size_t naiveTake = naiveFound ? firstEnd + term.size() - split : limit - split;
      if (split + pre.availableBytes() < term.size()) {
        naiveFound = false;
        naiveTake = pre.availableBytes();
      }

      bool found = false;
      std::size_t take = packet.readLengthForTermWithPreBuffer(pre, &found);
      ASSERT_EQ(found, naiveFound) << "stream " << stream << " split " << split;
      ASSERT_EQ(take, naiveTake) << "stream " << stream << " split " << split;

      // The same stream appended straight into the packet.
      auto direct = termPacket(term, collected);
      std::string rest = stream.substr(split);
      direct.ensureCapacityForAdditionalDataOfLength(rest.size());
      std::copy(rest.begin(), rest.end(), direct.writePosition());
      long overshoot = direct.searchForTermAfterPreBuffering(static_cast<long>(rest.size()));
      long naiveOvershoot = firstEnd == std::string::npos
                                ? -1
                                : static_cast<long>(stream.size() - firstEnd - term.size());
      ASSERT_EQ(overshoot, naiveOvershoot) << "stream " << stream << " split " << split;
    }
  }
}
