// The media server's "Range" reader on arbitrary text: the first line is the body length, the
// rest the header value. It must not crash, and what it accepts must be a set of non-empty,
// sorted, non-overlapping ranges inside the body.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "httpserver/core/RangeHeader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::size_t newline = input.find('\n');
  if (newline == std::string_view::npos || newline > 20) return 0;
  std::uint64_t length = 0;
  for (char c : input.substr(0, newline)) {
    if (c < '0' || c > '9') return 0;
    length = length * 10 + static_cast<std::uint64_t>(c - '0');
  }
  auto ranges = RangeHeader::parse(input.substr(newline + 1), length);
  if (!ranges) return 0;
  if (ranges->empty()) __builtin_trap();
  for (std::size_t i = 0; i < ranges->size(); ++i) {
    const HTRange& range = (*ranges)[i];
    if (range.length == 0 || range.location >= length || range.length > length - range.location)
      __builtin_trap();
    if (i > 0 && (*ranges)[i - 1].end() > range.location) __builtin_trap();
  }
  return 0;
}
