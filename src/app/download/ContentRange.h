#pragma once
// ContentRange: the value of a "Content-Range" header of a byte range answer, read strictly:
// "bytes <first>-<last>/<total>" (206: the part sent, and the whole size or "*" when unknown) or
// "bytes */<total>" (416: the range asked for lies beyond the file). Positions are decimal digits
// only and must fit 63 bits; first <= last, and last < total when the total is known. Anything
// else reads as absent, so a hostile header can never pass for a sensible range.

#include <cstdint>
#include <optional>
#include <string_view>

struct ContentRange {
  // The part sent; absent for "bytes */<total>".
  std::optional<std::uint64_t> first;
  std::optional<std::uint64_t> last;
  // The whole size; absent when given as "*".
  std::optional<std::uint64_t> total;

  static std::optional<ContentRange> parse(std::string_view text);
};
