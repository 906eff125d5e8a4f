#pragma once
// TAGBase64Encoder: base64 in the standard ("+", "/") and the URL-safe ("-", "_") alphabets of
// RFC 4648, padded with "=" unless asked not to. Decoding accepts text with or without padding
// and answers nullopt for anything the alphabet refuses. Stateless; any thread may call.

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Value.h"

class TAGBase64Encoder {
 public:
  TAGBase64Encoder() = delete;

  static std::string encode(const platform::Bytes& bytes, bool noPadding);
  static std::string encodeWebSafe(const platform::Bytes& bytes, bool noPadding);
  static std::optional<platform::Bytes> decode(std::string_view text, bool noPadding);
  static std::optional<platform::Bytes> decodeWebSafe(std::string_view text, bool noPadding);
};
