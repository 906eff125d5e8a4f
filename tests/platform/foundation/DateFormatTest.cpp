#include <gtest/gtest.h>

#include "platform/foundation/DateFormat.h"

using namespace platform;

namespace {
// 2014-03-05 07:08:09.123 UTC
Date sample() { return dateFromSeconds(1394003289.125); }
}  // namespace

TEST(DateFormatTest, FormatsPatternsInAFixedZone) {
  struct Case {
    const char* pattern;
    int offset;
    const char* expected;
  };
  const Case cases[] = {
      {"yyyy-MM-dd HH:mm:ss", 0, "2014-03-05 07:08:09"},
      {"yyyy-MM-dd HH:mm:ss", 8 * 3600, "2014-03-05 15:08:09"},
      {"yyyy/MM/dd HH:mm:ss:SSS", 0, "2014/03/05 07:08:09:125"},
      {"yy-M-d H:m:s", 0, "14-3-5 7:8:9"},
      {"hh:mm a", 8 * 3600, "03:08 PM"},
      {"EEE, dd MMM yyyy HH:mm:ss 'GMT'", 0, "Wed, 05 Mar 2014 07:08:09 GMT"},
      {"Z", 8 * 3600, "+0800"},
      {"ZZZZZ", -5 * 3600 - 1800, "-05:30"},
      {"'it''s' yyyy", 0, "it's 2014"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pattern);
    EXPECT_EQ(formatDate(sample(), c.pattern, TimeZone::fixed(c.offset)), c.expected);
  }
}

TEST(DateFormatTest, ParseRoundTripsAndRejectsBadText) {
  auto zone = TimeZone::fixed(8 * 3600);
  auto parsed = parseDate("2014-03-05 15:08:09", kDateTimePattern, zone);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(toSeconds(*parsed), 1394003289.0);
  const char* bad[] = {"", "2014-03-05", "2014-13-05 15:08:09", "2014-03-05 15:08:09x",
                       "abcd-03-05 15:08:09"};
  for (const char* text : bad) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(parseDate(text, kDateTimePattern, zone).has_value());
  }
}

TEST(DateFormatTest, LocalZoneFollowsTZ) {
  setenv("TZ", "Asia/Shanghai", 1);
  tzset();
  EXPECT_EQ(formatDate(sample(), kDateTimePattern), "2014-03-05 15:08:09");
  EXPECT_EQ(TimeZone::local().offsetAt(sample()), 8 * 3600);
  unsetenv("TZ");
  tzset();
}

// A field of ten or more letters reads as many digits; a number no field can hold is no date,
// never an exception.
TEST(DateFormatTest, ParseAnswersNoDateForNumbersNoFieldHolds) {
  auto utc = TimeZone::utc();
  const std::pair<const char*, const char*> noDate[] = {
      {"dddddddddd", "9999999999"},
      {"yyyy-MM-dd HH:mm:ss.SSSSSSSSSS", "2014-03-05 07:08:09.9999999999"},
      {"HHHHHHHHHHHHHHHHHHHH", "99999999999999999999"},
  };
  for (const auto& [pattern, text] : noDate) {
    SCOPED_TRACE(pattern);
    EXPECT_FALSE(parseDate(text, pattern, utc).has_value());
  }
  // Leading zeros that fit still read.
  auto padded = parseDate("2014-03-0000000005", "yyyy-MM-dddddddddd", utc);
  ASSERT_TRUE(padded);
  EXPECT_EQ(formatDate(*padded, kDateTimePattern, utc), "2014-03-05 00:00:00");
}

// Dates count 64-bit nanoseconds, about the years 1678 to 2262: a date text outside them reads
// as the nearest representable date, and those ends format as themselves.
TEST(DateFormatTest, DatesOutsideTheRepresentableYearsSaturate) {
  auto utc = TimeZone::utc();
  EXPECT_EQ(parseDate("1005-05-13 16:53:20", kDateTimePattern, utc), Date::min());
  EXPECT_EQ(parseDate("0000-01-01 00:00:00", kDateTimePattern, TimeZone::fixed(8 * 3600)),
            Date::min());
  EXPECT_EQ(parseDate("9999-12-31 23:59:59", kDateTimePattern, utc), Date::max());
  EXPECT_EQ(parseDate("2262-04-11 23:47:16:999", "yyyy-MM-dd HH:mm:ss:SSS", utc), Date::max());
  auto inside = parseDate("1700-01-01 00:00:00", kDateTimePattern, utc);
  ASSERT_TRUE(inside);
  EXPECT_EQ(formatDate(*inside, kDateTimePattern, utc), "1700-01-01 00:00:00");

  const char* pattern = "yyyy-MM-dd HH:mm:ss.SSS";
  EXPECT_EQ(formatDate(Date::min(), pattern, utc), "1677-09-21 00:12:43.145");
  EXPECT_EQ(formatDate(Date::max(), pattern, utc), "2262-04-11 23:47:16.854");
  EXPECT_EQ(calendarFields(Date::min(), utc).millisecond, 145);
}
