#include "platform/foundation/Utf8.h"

namespace platform {

bool isValidUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    auto byte = static_cast<unsigned char>(text[i]);
    std::size_t length = byte < 0x80           ? 1
                         : (byte >> 5) == 0x6  ? 2
                         : (byte >> 4) == 0xE  ? 3
                         : (byte >> 3) == 0x1E ? 4
                                               : 0;
    if (length == 0 || i + length > text.size()) return false;
    char32_t c = length == 1 ? byte : byte & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
      auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      c = (c << 6) | (next & 0x3F);
    }
    static const char32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kMinimum[length] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) return false;
    i += length;
  }
  return true;
}

}  // namespace platform
