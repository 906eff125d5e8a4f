#pragma once
// RangeHeader: reads the value of a request's "Range" header against a body of known length.
//
// The unit must be "bytes" (any case). Each comma-separated element is "n" (the one byte n),
// "a-b", "a-" (from a to the end) or "-n" (the last n bytes). The header is valid only when
// every element is: a number that does not parse, an end at or beyond the body's length, b < a,
// or an empty suffix "-0" makes the whole header invalid, and so do two ranges that overlap
// (ranges that only touch are fine). An invalid header is answered as if there were none, with
// the whole body: there is no clamping and no 416.
//
// Valid ranges come back sorted by start, then by length: the order they are sent in.

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "httpserver/core/HTRange.h"

class RangeHeader {
 public:
  RangeHeader() = delete;

  // The ranges of `value`, or absent when the header is not a valid byte-range request.
  static std::optional<std::vector<HTRange>> parse(std::string_view value,
                                                   std::uint64_t contentLength);
};
