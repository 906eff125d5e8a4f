#include "httpserver/core/HTData.h"

#include "platform/foundation/Base64.h"
#include "platform/foundation/Digest.h"

platform::Bytes HTData::md5Digest(std::string_view data) {
  return platform::digest(platform::DigestKind::MD5, data);
}

platform::Bytes HTData::sha1Digest(std::string_view data) {
  return platform::digest(platform::DigestKind::SHA1, data);
}

std::string HTData::hexStringValue(std::string_view data) {
  return platform::hexString(platform::Bytes(data.begin(), data.end()));
}

std::string HTData::base64Encoded(std::string_view data) { return platform::base64Encode(data); }

platform::Bytes HTData::base64Decoded(std::string_view text) {
  platform::Bytes out;
  out.reserve(text.size() / 4 * 3 + 3);
  unsigned int group = 0;
  int pending = 0;
  for (unsigned char c : text) {
    if (c == '=') {
      // The group begun, filled up with zero bits: 1 or 2 characters give one byte, 3 give two.
      unsigned int filled = group << ((4 - pending) * 6);
      if (pending >= 1) out.push_back(static_cast<std::uint8_t>(filled >> 16));
      if (pending == 3) out.push_back(static_cast<std::uint8_t>(filled >> 8));
      return out;
    }
    int value = platform::base64AlphabetValue(c);
    if (value < 0) continue;
    group = (group << 6) | static_cast<unsigned int>(value);
    if (++pending == 4) {
      out.push_back(static_cast<std::uint8_t>(group >> 16));
      out.push_back(static_cast<std::uint8_t>(group >> 8));
      out.push_back(static_cast<std::uint8_t>(group));
      group = 0;
      pending = 0;
    }
  }
  return out;
}
