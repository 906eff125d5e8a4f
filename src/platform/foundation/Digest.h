#pragma once
// Message digests on OpenSSL, as raw bytes or lower-case hexadecimal text.

#include <string>
#include <string_view>

#include "platform/foundation/Value.h"

namespace platform {

enum class DigestKind { MD5, SHA1, SHA256, SHA384, SHA512 };

Bytes digest(DigestKind kind, std::string_view data);
std::string digestHex(DigestKind kind, std::string_view data);
// Lower-case hexadecimal text of any bytes.
std::string hexString(const Bytes& bytes);

inline std::string md5Hex(std::string_view data) { return digestHex(DigestKind::MD5, data); }
inline std::string sha1Hex(std::string_view data) { return digestHex(DigestKind::SHA1, data); }
inline std::string sha256Hex(std::string_view data) { return digestHex(DigestKind::SHA256, data); }

// A new random UUID as upper-case text (8-4-4-4-12), on libuuid.
std::string makeUuid();

}  // namespace platform
