#pragma once
// HTData: digests and encodings of byte buffers that the server's parts share (authentication
// hashes, nonces, credentials).

#include <string>
#include <string_view>

#include "platform/foundation/Value.h"

class HTData {
 public:
  HTData() = delete;

  static platform::Bytes md5Digest(std::string_view data);   // 16 bytes
  static platform::Bytes sha1Digest(std::string_view data);  // 20 bytes
  // Two lower-case hexadecimal digits per byte, no separators.
  static std::string hexStringValue(std::string_view data);
  // The standard alphabet with "=" padding, no line breaks.
  static std::string base64Encoded(std::string_view data);
  // Lenient: every byte outside the alphabet is skipped, except "=", which ends the text and
  // keeps the bytes of the group begun (one after 1 or 2 characters, two after 3). A final group
  // of fewer than 4 characters without "=" is dropped.
  static platform::Bytes base64Decoded(std::string_view text);
};
