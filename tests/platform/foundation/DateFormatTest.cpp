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
