// Reading a "Range" header against a body of known length.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "httpserver/core/RangeHeader.h"

namespace {

using Ranges = std::vector<HTRange>;

struct Case {
  std::string header;
  std::uint64_t length;
  std::optional<Ranges> ranges;  // absent: invalid, answered with the whole body
};

TEST(RangeHeaderTest, ReadsEachFormAndRefusesInvalidHeadersWhole) {
  const Case cases[] = {
      {"bytes=0-499", 1000, Ranges{{0, 500}}},
      {"bytes=500-", 1000, Ranges{{500, 500}}},
      {"bytes=-200", 1000, Ranges{{800, 200}}},
      {"bytes=7", 1000, Ranges{{7, 1}}},
      {"bytes=-1000", 1000, Ranges{{0, 1000}}},
      {"bytes=999-999", 1000, Ranges{{999, 1}}},
      {" BYTES = 0-0 ", 1000, Ranges{{0, 1}}},
      {"bytes= 1 - 2", 1000, Ranges{{1, 2}}},
      {"bytes=0-4x", 1000, Ranges{{0, 5}}},  // a number reads its leading digits
      {"bytes=500-599,0-99", 1000, Ranges{{0, 100}, {500, 100}}},
      {"bytes=0-9,10-19", 1000, Ranges{{0, 10}, {10, 10}}},
      {"bytes=5,0-4,6-", 10, Ranges{{0, 5}, {5, 1}, {6, 4}}},
      {"bytes=0-1000", 1000, std::nullopt},
      {"bytes=1000-", 1000, std::nullopt},
      {"bytes=1000", 1000, std::nullopt},
      {"bytes=-1001", 1000, std::nullopt},
      {"bytes=5-2", 1000, std::nullopt},
      {"items=0-1", 1000, std::nullopt},
      {"bytes 0-1", 1000, std::nullopt},
      {"bytes=0-10,5-20", 1000, std::nullopt},
      {"bytes=0-9,0-9", 1000, std::nullopt},
      {"bytes=0-99,10-10,50-60", 1000, std::nullopt},  // only the first overlaps each
      {"bytes=-", 1000, std::nullopt},
      {"bytes=", 1000, std::nullopt},
      {"bytes=0-1,", 1000, std::nullopt},
      {"bytes=a-b", 1000, std::nullopt},
      {"bytes=--5", 1000, std::nullopt},
      // After the dash, what is not a number (a sign, letters, too many digits) counts as no
      // number: "0-" to the end, as ever.
      {"bytes=0--1", 1000, Ranges{{0, 1000}}},
      {"bytes=0-abc", 1000, Ranges{{0, 1000}}},
      {"bytes=-0", 1000, std::nullopt},  // an empty suffix names no byte
      {"bytes=-0", 0, std::nullopt},
      {"bytes=0-", 0, std::nullopt},
      {"bytes=18446744073709551615-", 1000, std::nullopt},
      {"bytes=0-18446744073709551616", 1000, Ranges{{0, 1000}}},
  };
  for (const auto& c : cases) {
    auto ranges = RangeHeader::parse(c.header, c.length);
    EXPECT_EQ(ranges, c.ranges) << c.header << " of " << c.length;
  }
}

TEST(RangeHeaderTest, ThousandsOfRangesAreSortedAndCheckedQuickly) {
  // What an 8190-byte header holds: some 4,000 one-byte ranges, given backwards.
  std::string header = "bytes=";
  const int count = 4000;
  for (int i = count - 1; i >= 0; --i) header += std::to_string(i * 2) + (i ? "," : "");
  auto ranges = RangeHeader::parse(header, count * 2);
  ASSERT_TRUE(ranges);
  ASSERT_EQ(ranges->size(), static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) EXPECT_EQ((*ranges)[i], HTMakeRange(i * 2, 1));

  // One overlap at the far end of the list spoils the whole header.
  EXPECT_FALSE(RangeHeader::parse(header + ",0-1", count * 2));
}

}  // namespace
