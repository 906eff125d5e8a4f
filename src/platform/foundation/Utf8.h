#pragma once
// UTF-8 validation: text read from servers and files becomes a string only when it is UTF-8.

#include <string_view>

#include "platform/foundation/Value.h"

namespace platform {

// True when `text` is well-formed UTF-8: no stray or missing continuation bytes, no overlong
// forms, no surrogates, nothing beyond U+10FFFF.
bool isValidUtf8(std::string_view text);
inline bool isValidUtf8(const Bytes& bytes) {
  return isValidUtf8(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

}  // namespace platform
