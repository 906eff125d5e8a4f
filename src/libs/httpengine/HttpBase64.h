#pragma once
// HttpBase64: Base64 of byte buffers for the request engine (standard alphabet, "=" padding,
// one line). Decoding is lenient: every byte outside the alphabet (padding, blanks, line
// breaks) is skipped, and a final group of 2 or 3 characters still gives its 1 or 2 bytes.

#include <string>
#include <string_view>

#include "platform/foundation/Value.h"

class HttpBase64 {
 public:
  // Empty bytes for text that is not pure ASCII or holds no alphabet character.
  static platform::Bytes dataFromBase64String(std::string_view text);
  static std::string base64EncodedString(const platform::Bytes& bytes);
};
