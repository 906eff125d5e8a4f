#pragma once
// CryptoUtil: the password digest the logins send and store: MD5 of the text's UTF-8 bytes as 32
// lower-case hexadecimal characters.

#include <string>
#include <string_view>

class CryptoUtil {
 public:
  // Digests the bytes up to the first zero byte (the text as a C string would end there); the
  // empty text gives the digest of no bytes.
  static std::string md5HexDigest(std::string_view text);
};
