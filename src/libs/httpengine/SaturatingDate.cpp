#include "httpengine/SaturatingDate.h"

#include <chrono>

namespace {

using Ticks = platform::Date::duration;
// Wide enough for any date plus any count of seconds in ticks.
using Wide = __int128;

constexpr Wide kTicksPerSecond = Ticks::period::den / Ticks::period::num;

platform::Date clamped(Wide ticks) {
  if (ticks < static_cast<Wide>(platform::Date::min().time_since_epoch().count()))
    return platform::Date::min();
  if (ticks > static_cast<Wide>(platform::Date::max().time_since_epoch().count()))
    return platform::Date::max();
  return platform::Date(Ticks(static_cast<Ticks::rep>(ticks)));
}

}  // namespace

platform::Date SaturatingDate::fromSeconds(std::int64_t seconds) {
  return clamped(static_cast<Wide>(seconds) * kTicksPerSecond);
}

std::int64_t SaturatingDate::toSeconds(platform::Date date) {
  return std::chrono::floor<std::chrono::seconds>(date.time_since_epoch()).count();
}

platform::Date SaturatingDate::adding(platform::Date date, std::int64_t seconds) {
  return clamped(static_cast<Wide>(date.time_since_epoch().count()) +
                 static_cast<Wide>(seconds) * kTicksPerSecond);
}

double SaturatingDate::secondsBetween(platform::Date from, platform::Date to) {
  // In doubles: the difference of two far-apart dates does not fit the tick count.
  auto seconds = [](platform::Date date) {
    return std::chrono::duration<double>(date.time_since_epoch()).count();
  };
  return seconds(to) - seconds(from);
}
