// The number, range and data helpers the server's parts share.

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "httpserver/core/HTData.h"
#include "httpserver/core/HTNumber.h"
#include "httpserver/core/HTRange.h"
#include "platform/foundation/Digest.h"

namespace {

std::string text(const platform::Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

struct UnsignedCase {
  std::optional<std::string> input;
  bool ok;
  std::uint64_t value;
};

TEST(HTNumberTest, UnsignedParseReadsLeadingDecimalAndRefusesSignsThatWrap) {
  const UnsignedCase cases[] = {
      {"0", true, 0},
      {"42", true, 42},
      {" 42", true, 42},
      {"\t7", true, 7},
      {"+5", true, 5},
      {"12abc", true, 12},
      {"18446744073709551615", true, std::numeric_limits<std::uint64_t>::max()},
      {"18446744073709551616", false, std::numeric_limits<std::uint64_t>::max()},
      {"", false, 0},
      {"   ", false, 0},
      {"abc", false, 0},
      {"-1", false, 0},
      {" -1", false, 0},
      {"-0", false, 0},
      {"- 1", false, 0},
      {std::nullopt, false, 0},
      {std::string("5\0"
                   "9",
                   3),
       true, 5},
  };
  for (const auto& c : cases) {
    std::uint64_t value = 99;
    EXPECT_EQ(HTNumber::parseString(c.input, &value), c.ok) << c.input.value_or("(nil)");
    EXPECT_EQ(value, c.value) << c.input.value_or("(nil)");
  }
}

TEST(HTNumberTest, SignedAndWordFormsFollowTheirWidth) {
  std::int64_t s64 = 0;
  EXPECT_TRUE(HTNumber::parseString("-42", &s64));
  EXPECT_EQ(s64, -42);
  EXPECT_FALSE(HTNumber::parseString("9223372036854775808", &s64));
  EXPECT_FALSE(HTNumber::parseString("x", &s64));

  std::int32_t s32 = 0;
  EXPECT_TRUE(HTNumber::parseString("-2147483648", &s32));
  EXPECT_EQ(s32, std::numeric_limits<std::int32_t>::min());
  EXPECT_FALSE(HTNumber::parseString("2147483648", &s32));
  EXPECT_EQ(s32, std::numeric_limits<std::int32_t>::max());

  std::uint32_t u32 = 0;
  EXPECT_TRUE(HTNumber::parseString("4294967295", &u32));
  EXPECT_EQ(u32, 4294967295u);
  EXPECT_FALSE(HTNumber::parseString("4294967296", &u32));
  EXPECT_FALSE(HTNumber::parseString("-1", &u32));
  EXPECT_FALSE(HTNumber::parseString(std::nullopt, &u32));
  EXPECT_EQ(u32, 0u);
}

TEST(HTRangeTest, IntersectionKeepsTouchingRangesEmpty) {
  EXPECT_EQ(HTIntersectionRange({0, 10}, {10, 5}), HTMakeRange(10, 0));
  EXPECT_EQ(HTIntersectionRange({0, 10}, {11, 5}), HTMakeRange(0, 0));
  EXPECT_EQ(HTIntersectionRange({0, 10}, {5, 10}), HTMakeRange(5, 5));
  EXPECT_EQ(HTIntersectionRange({5, 10}, {0, 10}), HTMakeRange(5, 5));
  EXPECT_EQ(HTIntersectionRange({0, 100}, {10, 5}), HTMakeRange(10, 5));
}

TEST(HTRangeTest, OrderingIsByLocationThenLength) {
  HTRange a{5, 1}, b{5, 2}, c{6, 1};
  EXPECT_EQ(htrangeCompare(&a, &b), -1);
  EXPECT_EQ(htrangeCompare(&b, &c), -1);
  EXPECT_EQ(htrangeCompare(&c, &a), 1);
  EXPECT_EQ(htrangeCompare(&a, &a), 0);
  HTRange zero{0, 0};
  EXPECT_EQ(htrangeCompare(nullptr, &zero), 0);
  EXPECT_EQ(htrangeCompare(&a, nullptr), 1);
}

TEST(HTDataTest, DigestsAndHex) {
  EXPECT_EQ(HTData::hexStringValue(std::string("\x0a\xff", 2)), "0aff");
  EXPECT_EQ(platform::hexString(HTData::md5Digest("abc")), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(platform::hexString(HTData::sha1Digest("abc")),
            "a9993e364706816aba3e25717850c26c9cd0d89d");
}

TEST(HTDataTest, Base64RoundTripsAndDecodesLeniently) {
  EXPECT_EQ(HTData::base64Encoded("abc"), "YWJj");
  EXPECT_EQ(HTData::base64Encoded("ab"), "YWI=");
  EXPECT_EQ(HTData::base64Encoded("a"), "YQ==");
  const std::pair<std::string, std::string> cases[] = {
      {"YW Jj", "abc"},     {"YWJj", "abc"},   {"YWI=", "ab"},
      {"YQ==", "a"},        {"YWJjYQ", "abc"}, {"YW\r\nJj", "abc"},
      {"YWJj=ZZZZ", "abc"}, {"", ""},          {"Y=", std::string(1, '`')},
      {"*Y*W*J*j*", "abc"},
  };
  for (const auto& [input, expected] : cases)
    EXPECT_EQ(text(HTData::base64Decoded(input)), expected) << input;
}

}  // namespace
