#pragma once
// AnalyticsHitUtil: the device facts hits carry (user agent, language, country, screen), time
// differences in milliseconds, the sampling hash and new client ids. Any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"

class AnalyticsHitUtil {
 public:
  AnalyticsHitUtil() = delete;

  // "UsageAnalytics/3.01 (<model>; U; CPU <system> <version> like Mac OS X; <language>-<country>)"
  // for this device; an unknown country reads "(null)".
  static std::string userAgentString();
  static std::string userAgentStringWithProduct(
      const std::string& product, const std::string& version, const std::string& deviceModel,
      const std::string& systemName, const std::string& systemVersion,
      const std::string& systemLanguage, const std::optional<std::string>& systemCountry);
  // The first preferred language, lower-cased; "en" when there is none.
  static std::string systemLanguage();
  static std::string systemLanguageFromLanguages(const std::vector<std::string>& languages);
  // The current locale's country code, lower-cased; absent when the locale names none.
  static std::optional<std::string> systemCountry();
  static std::optional<std::string> systemCountryFromLocale(const std::string& localeIdentifier);
  // "<width>x<height>" of the main screen in points.
  static std::string systemScreenResolution();
  static std::string systemScreenColorDepth() { return "24-bit"; }
  // Whole milliseconds from `from` to `to` (negative when `to` is earlier).
  static std::int64_t millisecondsElapsedFrom(platform::Date from, platform::Date to);
  // The hash hits are sampled by: 1 for an absent or empty text, else a value below 2^31 from
  // the text's UTF-16 code units, last to first.
  static std::int32_t samplingHash(const std::optional<std::string>& text);
  // A new random UUID, lower-case 8-4-4-4-12 hexadecimal text.
  static std::string generateClientId();
};
