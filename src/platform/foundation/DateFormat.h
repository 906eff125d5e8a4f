#pragma once
// Date texts in the platform's pattern language: yyyy, yy, MM, M, MMM, dd, d, HH, H, hh, h, mm,
// m, ss, s, SSS, a, EEE, EEEE, Z, ZZZZZ, and 'quoted' literals ('' is one quote). Every other
// character is copied as is. Dates are read and written in the local time zone (the process's
// TZ) unless a fixed zone is given.

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Value.h"

namespace platform {

class TimeZone {
 public:
  static TimeZone local() { return TimeZone(); }
  static TimeZone utc() { return fixed(0); }
  static TimeZone fixed(int secondsEastOfUtc) {
    TimeZone z;
    z.offset_ = secondsEastOfUtc;
    return z;
  }
  // Seconds east of UTC at `date`.
  int offsetAt(Date date) const;
  bool isLocal() const { return !offset_; }

 private:
  std::optional<int> offset_;
};

inline constexpr const char* kDateTimePattern = "yyyy-MM-dd HH:mm:ss";

std::string formatDate(Date date, std::string_view pattern, TimeZone zone = TimeZone::local());
// Absent when `text` does not match `pattern` whole.
std::optional<Date> parseDate(std::string_view text, std::string_view pattern,
                              TimeZone zone = TimeZone::local());

// Calendar fields of a date in a zone.
struct CalendarFields {
  int year, month, day, hour, minute, second, millisecond, weekday;  // weekday 0 = Sunday
};
CalendarFields calendarFields(Date date, TimeZone zone = TimeZone::local());

}  // namespace platform
