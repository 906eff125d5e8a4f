#include <gtest/gtest.h>

#include "download/ContentRange.h"

namespace {

using Position = std::optional<std::uint64_t>;

TEST(ContentRangeTest, GoodValuesTable) {
  struct Case {
    const char* text;
    Position first, last, total;
  };
  const Case cases[] = {
      {"bytes 0-999/4700", 0, 999, 4700},
      {"bytes 1000-4699/4700", 1000, 4699, 4700},
      {"bytes 5-5/6", 5, 5, 6},
      {"bytes 0-99/*", 0, 99, std::nullopt},
      {"bytes */4700", std::nullopt, std::nullopt, 4700},
      {"Bytes 0-0/1", 0, 0, 1},
      {"bytes 0-9223372036854775806/9223372036854775807", 0, 9223372036854775806ull,
       9223372036854775807ull},
  };
  for (const auto& c : cases) {
    auto range = ContentRange::parse(c.text);
    ASSERT_TRUE(range) << c.text;
    EXPECT_EQ(range->first, c.first) << c.text;
    EXPECT_EQ(range->last, c.last) << c.text;
    EXPECT_EQ(range->total, c.total) << c.text;
  }
}

TEST(ContentRangeTest, BadValuesTable) {
  for (const char* text : {
           "",
           "bytes",
           "bytes ",
           "bytes 0-999",
           "bytes 0-999/",
           "bytes -999/4700",
           "bytes 0-/4700",
           "bytes 10-9/4700",    // last before first
           "bytes 0-4700/4700",  // last at the total
           "bytes 0-999/-4700",  // a sign
           "bytes +0-999/4700",
           "bytes 0-999/4700 ",  // trailing text
           "bytes  0-999/4700",  // a second space
           "bytes 0 -999/4700",
           "bytes 0x10-0x20/4700",
           "bytes */*",  // a 416 must tell the size
           "bytes *-5/10",
           "items 0-9/10",
           "bytes=0-9/10",
           "bytes 0-9/10/11",
           "bytes 0-9223372036854775808/9223372036854775809",  // beyond 63 bits
           "bytes 99999999999999999999-1/2",
       }) {
    EXPECT_FALSE(ContentRange::parse(text)) << text;
  }
  EXPECT_FALSE(ContentRange::parse(std::string_view("bytes 0-9/10\0", 13)));
}

}  // namespace
