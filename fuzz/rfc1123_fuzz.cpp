// HTTP dates (RFC 1123, RFC 850 and asctime forms) on arbitrary text, and the saturating date
// arithmetic of cache lifetimes. Nothing may overflow (UBSan watches the date arithmetic), a
// date that is read writes out in the RFC 1123 form, and that text reads back as the same
// second.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>

#include "httpengine/RFC1123.h"
#include "httpengine/SaturatingDate.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The asctime form is local time; one fixed zone keeps runs reproducible.
  static const bool utc = [] {
    setenv("TZ", "UTC", 1);
    tzset();
    return true;
  }();
  (void)utc;
  std::string text(reinterpret_cast<const char*>(data), size);
  auto date = RFC1123::dateFromRFC1123(text);
  if (!date) return 0;

  auto written = RFC1123::rfc1123String(*date);
  if (!written) std::abort();
  auto back = RFC1123::dateFromRFC1123(*written);
  if (!back || SaturatingDate::toSeconds(*back) != SaturatingDate::toSeconds(*date)) std::abort();

  for (std::int64_t seconds :
       {std::numeric_limits<std::int64_t>::min(), std::int64_t{-86400}, std::int64_t{0},
        std::int64_t{604800}, std::numeric_limits<std::int64_t>::max()}) {
    auto moved = SaturatingDate::adding(*date, seconds);
    if (seconds > 0 && moved < *date) std::abort();
    if (seconds < 0 && moved > *date) std::abort();
    (void)SaturatingDate::secondsBetween(*date, moved);
    if (!RFC1123::rfc1123String(moved)) std::abort();
  }
  return 0;
}
