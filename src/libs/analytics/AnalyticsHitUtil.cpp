#include "analytics/AnalyticsHitUtil.h"

#include <algorithm>
#include <cctype>
#include <chrono>

#include "platform/foundation/Digest.h"
#include "platform/foundation/Locale.h"
#include "platform/foundation/SystemInfo.h"
#include "platform/ui/Screen.h"

namespace {

std::string lowerCased(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// The UTF-16 code units of UTF-8 text; a byte that starts no valid sequence counts as U+FFFD.
std::vector<std::uint16_t> utf16Units(const std::string& text) {
  std::vector<std::uint16_t> units;
  std::size_t i = 0;
  while (i < text.size()) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char lead = byte(i);
    std::uint32_t code = 0xFFFD;
    std::size_t length = 1;
    auto continuation = [&](std::size_t count) {
      if (i + count >= text.size()) return false;
      for (std::size_t k = 1; k <= count; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return false;
      }
      return true;
    };
    if (lead < 0x80) {
      code = lead;
    } else if (lead >= 0xC2 && lead < 0xE0 && continuation(1)) {
      code = ((lead & 0x1Fu) << 6) | (byte(i + 1) & 0x3Fu);
      length = 2;
    } else if (lead >= 0xE0 && lead < 0xF0 && continuation(2)) {
      code = ((lead & 0x0Fu) << 12) | ((byte(i + 1) & 0x3Fu) << 6) | (byte(i + 2) & 0x3Fu);
      length = 3;
    } else if (lead >= 0xF0 && lead < 0xF5 && continuation(3)) {
      code = ((lead & 0x07u) << 18) | ((byte(i + 1) & 0x3Fu) << 12) | ((byte(i + 2) & 0x3Fu) << 6) |
             (byte(i + 3) & 0x3Fu);
      length = 4;
    }
    if (code >= 0x10000 && code <= 0x10FFFF) {
      code -= 0x10000;
      units.push_back(static_cast<std::uint16_t>(0xD800 + (code >> 10)));
      units.push_back(static_cast<std::uint16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      units.push_back(static_cast<std::uint16_t>(code > 0xFFFF ? 0xFFFD : code));
    }
    i += length;
  }
  return units;
}

}  // namespace

std::string AnalyticsHitUtil::userAgentString() {
  const auto& device = platform::SystemInfo::current();
  return userAgentStringWithProduct("UsageAnalytics", "3.01", device.model(), device.systemName(),
                                    device.systemVersion(), systemLanguage(), systemCountry());
}

std::string AnalyticsHitUtil::userAgentStringWithProduct(
    const std::string& product, const std::string& version, const std::string& deviceModel,
    const std::string& systemName, const std::string& systemVersion,
    const std::string& systemLanguage, const std::optional<std::string>& systemCountry) {
  return product + "/" + version + " (" + deviceModel + "; U; CPU " + systemName + " " +
         systemVersion + " like Mac OS X; " + systemLanguage + "-" +
         systemCountry.value_or("(null)") + ")";
}

std::string AnalyticsHitUtil::systemLanguage() {
  return systemLanguageFromLanguages(platform::Locale::preferredLanguages());
}

std::string AnalyticsHitUtil::systemLanguageFromLanguages(
    const std::vector<std::string>& languages) {
  if (languages.empty()) return "en";
  return lowerCased(languages.front());
}

std::optional<std::string> AnalyticsHitUtil::systemCountry() {
  return systemCountryFromLocale(platform::Locale::currentIdentifier());
}

std::optional<std::string> AnalyticsHitUtil::systemCountryFromLocale(
    const std::string& localeIdentifier) {
  auto country = platform::Locale::countryCode(localeIdentifier);
  if (!country) return std::nullopt;
  return lowerCased(*country);
}

std::string AnalyticsHitUtil::systemScreenResolution() {
  auto bounds = platform::Screen::mainScreen().bounds();
  return std::to_string(static_cast<int>(bounds.size.width)) + "x" +
         std::to_string(static_cast<int>(bounds.size.height));
}

std::int64_t AnalyticsHitUtil::millisecondsElapsedFrom(platform::Date from, platform::Date to) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

std::int32_t AnalyticsHitUtil::samplingHash(const std::optional<std::string>& text) {
  if (!text || text->empty()) return 1;
  auto units = utf16Units(*text);
  std::uint32_t h = 0;
  for (auto it = units.rbegin(); it != units.rend(); ++it) {
    std::uint32_t c = *it;
    h = ((h << 6) & 0x0FFFFFFFu) + c + (c << 14);
    std::uint32_t g = h & 0x0FE00000u;
    if (g != 0) h ^= g >> 21;
  }
  return static_cast<std::int32_t>(h);
}

std::string AnalyticsHitUtil::generateClientId() { return lowerCased(platform::makeUuid()); }
