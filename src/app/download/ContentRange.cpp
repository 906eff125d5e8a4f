#include "download/ContentRange.h"

#include <cctype>
#include <limits>

namespace {

// A run of decimal digits that fits in 63 bits.
std::optional<std::uint64_t> readNumber(std::string_view digits) {
  if (digits.empty()) return std::nullopt;
  constexpr std::uint64_t kLimit = std::numeric_limits<std::int64_t>::max();
  std::uint64_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (kLimit - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

bool startsWithUnit(std::string_view text) {
  constexpr std::string_view kUnit = "bytes ";
  if (text.size() < kUnit.size()) return false;
  for (std::size_t i = 0; i < kUnit.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != kUnit[i]) return false;
  }
  return true;
}

}  // namespace

std::optional<ContentRange> ContentRange::parse(std::string_view text) {
  if (!startsWithUnit(text)) return std::nullopt;
  text.remove_prefix(6);
  auto slash = text.find('/');
  if (slash == std::string_view::npos) return std::nullopt;
  std::string_view part = text.substr(0, slash);
  std::string_view size = text.substr(slash + 1);
  ContentRange range;
  if (size != "*") {
    range.total = readNumber(size);
    if (!range.total) return std::nullopt;
  }
  if (part == "*") {
    // Only a 416 says "*" for the part, and it must then tell the size.
    if (!range.total) return std::nullopt;
    return range;
  }
  auto dash = part.find('-');
  if (dash == std::string_view::npos) return std::nullopt;
  range.first = readNumber(part.substr(0, dash));
  range.last = readNumber(part.substr(dash + 1));
  if (!range.first || !range.last || *range.first > *range.last) return std::nullopt;
  if (range.total && *range.last >= *range.total) return std::nullopt;
  return range;
}
