#include "httpserver/core/HTRange.h"

#include <algorithm>

HTRange HTIntersectionRange(HTRange a, HTRange b) {
  if (a.end() < b.location || b.end() < a.location) return HTRange{};
  std::uint64_t location = std::max(a.location, b.location);
  std::uint64_t end = std::min(a.end(), b.end());
  return HTRange{location, end - location};
}

int htrangeCompare(const HTRange* receiver, const HTRange* other) {
  HTRange a = receiver ? *receiver : HTRange{};
  HTRange b = other ? *other : HTRange{};
  if (a.location != b.location) return a.location < b.location ? -1 : 1;
  if (a.length != b.length) return a.length < b.length ? -1 : 1;
  return 0;
}
