#pragma once
// HTNumber: strict decimal parsing of header values ("Content-Length", the numbers of a
// "Range" header). Each form reads the text in base 10 with the C library conversion of its
// width: leading white space is skipped, conversion stops at the first character that is not a
// digit ("12abc" gives 12), and text without a digit or a value out of range fails. The signed
// forms accept a sign; the unsigned forms refuse a leading "-", which the C conversion would
// otherwise wrap ("-1" as 2^64-1, turning a length of -1 into the unknown-length marker).
//
// An absent text stores 0 and fails. Every form stores what it read, also when it fails.

#include <cstdint>
#include <optional>
#include <string_view>

class HTNumber {
 public:
  HTNumber() = delete;

  static bool parseString(std::optional<std::string_view> str, std::int64_t* pNum);
  static bool parseString(std::optional<std::string_view> str, std::uint64_t* pNum);
  // The word forms; 32-bit, as on the platform the design was written for.
  static bool parseString(std::optional<std::string_view> str, std::int32_t* pNum);
  static bool parseString(std::optional<std::string_view> str, std::uint32_t* pNum);
};
