#include "util/CryptoUtil.h"

#include "platform/foundation/Digest.h"

std::string CryptoUtil::md5HexDigest(std::string_view text) {
  return platform::md5Hex(text.substr(0, text.find('\0')));
}
