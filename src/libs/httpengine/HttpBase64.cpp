#include "httpengine/HttpBase64.h"

#include "platform/foundation/Base64.h"

platform::Bytes HttpBase64::dataFromBase64String(std::string_view text) {
  platform::Bytes out;
  for (unsigned char c : text) {
    if (c > 0x7F) return {};
  }
  unsigned group = 0;
  int count = 0;
  for (unsigned char c : text) {
    int v = platform::base64AlphabetValue(c);
    if (v < 0) continue;
    group = (group << 6) | static_cast<unsigned>(v);
    if (++count < 4) continue;
    out.push_back(static_cast<std::uint8_t>(group >> 16));
    out.push_back(static_cast<std::uint8_t>(group >> 8));
    out.push_back(static_cast<std::uint8_t>(group));
    group = 0;
    count = 0;
  }
  if (count == 3) {
    group <<= 6;
    out.push_back(static_cast<std::uint8_t>(group >> 16));
    out.push_back(static_cast<std::uint8_t>(group >> 8));
  } else if (count == 2) {
    group <<= 12;
    out.push_back(static_cast<std::uint8_t>(group >> 16));
  }
  return out;
}

std::string HttpBase64::base64EncodedString(const platform::Bytes& bytes) {
  return platform::base64Encode(bytes);
}
