// Date patterns and date texts. The input is a date (8 bytes: little-endian nanoseconds since
// 1970, also read as a double of seconds), a zone byte (0: UTC, 1: the local zone, else a fixed
// offset of that many quarter hours, signed), then a pattern, a line break and a date text.
// The date is formatted with the pattern and the text parsed with it; no pattern or text may
// throw, and a date written in the standard pattern reads back as itself, to the second.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/foundation/Clock.h"
#include "platform/foundation/DateFormat.h"

using namespace platform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 9) return 0;
  std::int64_t ticks = 0;
  double secondsSince1970 = 0;
  std::memcpy(&ticks, data, sizeof ticks);
  std::memcpy(&secondsSince1970, data, sizeof secondsSince1970);
  auto zoneByte = static_cast<std::int8_t>(data[8]);
  TimeZone zone = zoneByte == 0   ? TimeZone::utc()
                  : zoneByte == 1 ? TimeZone::local()
                                  : TimeZone::fixed(zoneByte * 900);
  std::string_view rest(reinterpret_cast<const char*>(data + 9), size - 9);
  auto lineBreak = rest.find('\n');
  std::string_view pattern = rest.substr(0, lineBreak);
  std::string_view text =
      lineBreak == std::string_view::npos ? std::string_view() : rest.substr(lineBreak + 1);

  Date date{Date::duration(ticks)};
  (void)formatDate(date, pattern, zone);
  (void)formatDate(dateFromSeconds(secondsSince1970), pattern, zone);
  (void)calendarFields(date, zone);
  (void)seconds(secondsSince1970);
  if (auto parsed = parseDate(text, pattern, zone)) (void)formatDate(*parsed, pattern, zone);

  // Written in the standard pattern and read back, a date comes back to the second. (Local
  // zones are left out, where a wall time may occur twice; so is the first second, which starts
  // before the earliest date.)
  if (zoneByte != 1 && date >= Date::min() + std::chrono::seconds(1)) {
    auto whole = std::chrono::time_point_cast<Date::duration>(
        std::chrono::floor<std::chrono::seconds>(date));
    auto back = parseDate(formatDate(date, kDateTimePattern, zone), kDateTimePattern, zone);
    if (!back || *back != whole) std::abort();
  }
  return 0;
}
