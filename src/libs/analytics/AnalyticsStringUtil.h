#pragma once
// AnalyticsStringUtil: the text utilities of the usage analytics: number texts, the percent
// coding of hit fields, and reading queries.
//
// Percent encoding leaves ASCII letters, digits and "-", ".", "_", "~", "'" as they are, turns
// a space into "+", and writes every other byte of the UTF-8 text as "%" and two upper-case hex
// digits ("+" is "%2B", "&" is "%26"). Decoding turns "+" into a space, then replaces escapes;
// a malformed escape or bytes that are not UTF-8 make the text undecodable (absent).
//
// Queries come from outside (campaign URLs): reading one never throws, and a piece whose name or
// value does not decode is left out.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Value.h"

class AnalyticsStringUtil {
 public:
  AnalyticsStringUtil() = delete;

  // Without white space and line breaks at both ends.
  static std::string trim(std::string_view text);
  static std::string intString(std::int64_t value);    // "%lld"
  static std::string uintString(std::uint64_t value);  // "%llu"
  // `value` with `decimals` decimals, trailing zeros of the fraction removed, and the point too
  // when nothing is left after it: 12.500 gives "12.5", 3.000 gives "3".
  static std::string decimalString(double value, int decimals);
  // An amount in millionths as a decimal text: 1500000 gives "1.5", 500000 ".5", -2000000 "-2".
  static std::string currencyMicrosString(std::int64_t micros);
  static std::string percentEncode(std::string_view text);
  static std::optional<std::string> percentDecode(std::string_view text);
  // Split at every "&"; the first "=" of a piece divides name and value (none: the value is
  // ""); later pieces win. An empty query gives one entry with empty name and value.
  static platform::Dictionary decodeParametersFromQuery(std::string_view query);
  // Absent when `text` is no URL; empty when the URL has no query, else its decoded query.
  static std::optional<platform::Dictionary> decodeParametersFromUrl(std::string_view text);
  // The text after the first "?", "" when there is none.
  static std::string urlParams(std::string_view text);
  // Without its first character when that is "&".
  static std::string stripLeadingAmpersand(std::string_view text);
};
