#pragma once
// HttpEngineAdditions: text helpers of the request engine: MD5 hex digest, a new unique
// identifier, and percent-escaping for URLs and form bodies (every byte but letters, digits
// and "-._~" is escaped, as "%" and two upper-case hex digits).

#include <string>
#include <string_view>

class HttpEngineAdditions {
 public:
  // 32 lower-case hexadecimal digits.
  static std::string md5(std::string_view text);
  // A new UUID, upper-case, 8-4-4-4-12.
  static std::string uniqueString();
  static std::string he_urlEncodedString(std::string_view text);
  // Percent escapes replaced by their bytes, then every "+" by a space.
  static std::string urlDecodedString(std::string_view text);
};
