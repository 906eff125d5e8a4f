#pragma once
// HTRange: a byte range of a body, 64-bit: `location` is its first byte, `length` its byte count,
// and its end (`location + length`) is one past its last byte.

#include <cstdint>

struct HTRange {
  std::uint64_t location = 0;
  std::uint64_t length = 0;

  std::uint64_t end() const { return location + length; }
  bool operator==(const HTRange&) const = default;
};

inline HTRange HTMakeRange(std::uint64_t location, std::uint64_t length) {
  return HTRange{location, length};
}

// The overlap of two ranges: (0, 0) when they are apart; ranges that only touch give an empty
// range at the touching point, which callers treat as no overlap.
HTRange HTIntersectionRange(HTRange a, HTRange b);

// Ordering by location, then by length, both ascending: -1, 0 or 1. An absent range counts as
// (0, 0).
int htrangeCompare(const HTRange* receiver, const HTRange* other);
