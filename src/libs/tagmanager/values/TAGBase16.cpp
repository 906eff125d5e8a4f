#include "tagmanager/values/TAGBase16.h"

#include "platform/foundation/Assert.h"
#include "tagmanager/base/TAGExceptionNames.h"

std::string TAGBase16::encode(const platform::Bytes& bytes) {
  static const char* const kDigits = "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (std::uint8_t b : bytes) {
    text += kDigits[b >> 4];
    text += kDigits[b & 0xF];
  }
  return text;
}

platform::Bytes TAGBase16::decode(std::string_view text) {
  if (text.size() % 2 != 0) {
    throw platform::Exception(kTAGIllegalArgumentException,
                              "Purported base16 string has odd number of characters");
  }
  platform::Bytes bytes;
  bytes.reserve(text.size() / 2);
  for (std::size_t i = 0; i < text.size(); i += 2) {
    bytes.push_back(
        static_cast<std::uint8_t>(16 * byteFromChar(text[i]) + byteFromChar(text[i + 1])));
  }
  return bytes;
}

int TAGBase16::byteFromChar(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  throw platform::Exception(kTAGIllegalArgumentException,
                            "Purported base16 string has illegal char");
}
