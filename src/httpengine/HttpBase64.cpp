#include "httpengine/HttpBase64.h"

#include "platform/foundation/Base64.h"

namespace {

int alphabetValue(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

platform::Bytes HttpBase64::dataFromBase64String(std::string_view text) {
  platform::Bytes out;
  for (unsigned char c : text) {
    if (c > 0x7F) return {};
  }
  unsigned group = 0;
  int count = 0;
  for (unsigned char c : text) {
    int v = alphabetValue(c);
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
