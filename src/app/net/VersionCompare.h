#pragma once
// VersionCompare: orders version texts the way people read them: runs of decimal digits compare
// by their numeric value, every other character one by one, so "1.10" comes after "1.9" and
// "1.2.10" after "1.2.9". A text that is a prefix of the other comes first.

#include <string_view>

class VersionCompare {
 public:
  // -1 when `a` comes before `b`, 0 when they are equal, 1 when `a` comes after `b`.
  static int compare(std::string_view a, std::string_view b);
};
