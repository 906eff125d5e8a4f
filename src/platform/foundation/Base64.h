#pragma once
// Base64 (the standard alphabet with "=" padding), on OpenSSL.

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Value.h"

namespace platform {

std::string base64Encode(const Bytes& bytes);
std::string base64Encode(std::string_view bytes);
// Absent for text that is not Base64; white space (line breaks of wrapped text) is skipped.
std::optional<Bytes> base64Decode(std::string_view text);
// The value (0 to 63) of one character of the standard alphabet; -1 for any other character, so
// that lenient decoders can skip what is not Base64.
int base64AlphabetValue(unsigned char c);

}  // namespace platform
