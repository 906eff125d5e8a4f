#pragma once
// SaturatingDate: the date arithmetic of HTTP dates and cache lifetimes. A platform::Date counts
// nanoseconds in 64 bits, so it holds only the years 1678 to 2262; outside input (an "Expires"
// in the year 985, a "max-age" of a billion years) must not wrap around to a date on the wrong
// side. Every result here stops at the earliest or latest date instead.

#include <cstdint>

#include "platform/foundation/Value.h"

class SaturatingDate {
 public:
  // The date `seconds` after 1970-01-01 00:00:00 UTC.
  static platform::Date fromSeconds(std::int64_t seconds);
  // Whole seconds since 1970 (rounded down); exact for every date.
  static std::int64_t toSeconds(platform::Date date);
  // `seconds` (possibly negative) after `date`.
  static platform::Date adding(platform::Date date, std::int64_t seconds);
  // Seconds from `from` to `to` (negative when `to` is earlier).
  static double secondsBetween(platform::Date from, platform::Date to);
};
