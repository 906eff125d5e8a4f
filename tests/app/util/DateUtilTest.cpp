#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "platform/foundation/Clock.h"
#include "platform/foundation/DateFormat.h"
#include "util/DateUtil.h"

namespace {

// Puts the process in a fixed local zone for one test and restores the previous one.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* tz) {
    if (const char* old = std::getenv("TZ")) previous_ = old;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (previous_) {
      setenv("TZ", previous_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  std::optional<std::string> previous_;
};

TEST(DateUtilTest, FormatsTheClockInLocalTimeZeroPadded) {
  ScopedTimeZone zone("CST-8");  // eight hours east of UTC, no daylight saving
  platform::ScopedManualClock clock;
  // 2014-02-01 01:05:03 UTC is 09:05:03 in that zone.
  clock->setDate(*platform::parseDate("2014-02-01 01:05:03", platform::kDateTimePattern,
                                      platform::TimeZone::utc()));
  EXPECT_EQ(DateUtil::getCurrDateString(), "2014-02-01 09:05:03");

  clock->advanceSeconds(15 * 3600 + 54 * 60 + 57);  // past midnight local time
  EXPECT_EQ(DateUtil::getCurrDateString(), "2014-02-02 01:00:00");
}

}  // namespace
