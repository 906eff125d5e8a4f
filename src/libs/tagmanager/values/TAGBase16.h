#pragma once
// TAGBase16: bytes as upper-case hexadecimal text and back (either letter case reads). Decoding
// text of odd length or with a character that is not a hexadecimal digit raises
// platform::Exception "IllegalArgumentException"; callers catch it where they mean to.
// Stateless; any thread may call.

#include <string>
#include <string_view>

#include "platform/foundation/Value.h"

class TAGBase16 {
 public:
  TAGBase16() = delete;

  static std::string encode(const platform::Bytes& bytes);
  static platform::Bytes decode(std::string_view text);
  // 0 to 15 for a hexadecimal digit.
  static int byteFromChar(char c);
};
