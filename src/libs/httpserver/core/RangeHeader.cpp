#include "httpserver/core/RangeHeader.h"

#include <strings.h>

#include <algorithm>

#include "httpserver/core/HTNumber.h"

namespace {

std::string_view trimmed(std::string_view text) {
  constexpr std::string_view kSpace = " \t\r\n";
  std::size_t first = text.find_first_not_of(kSpace);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

std::optional<HTRange> parseElement(std::string_view element, std::uint64_t length) {
  std::size_t dash = element.find('-');
  if (dash == std::string_view::npos) {
    std::uint64_t byte = 0;
    if (!HTNumber::parseString(element, &byte) || byte >= length) return std::nullopt;
    return HTMakeRange(byte, 1);
  }
  std::uint64_t first = 0;
  std::uint64_t last = 0;
  bool hasFirst = HTNumber::parseString(element.substr(0, dash), &first);
  bool hasLast = HTNumber::parseString(element.substr(dash + 1), &last);
  if (hasFirst && hasLast) {
    if (first > last || last >= length) return std::nullopt;
    return HTMakeRange(first, last - first + 1);
  }
  if (hasFirst) {
    if (first >= length) return std::nullopt;
    return HTMakeRange(first, length - first);
  }
  // A suffix of zero bytes names no byte at all; it would state an end before its start.
  if (!hasLast || last == 0 || last > length) return std::nullopt;
  return HTMakeRange(length - last, last);
}

}  // namespace

std::optional<std::vector<HTRange>> RangeHeader::parse(std::string_view value,
                                                       std::uint64_t contentLength) {
  std::size_t equals = value.find('=');
  if (equals == std::string_view::npos) return std::nullopt;
  std::string_view unit = trimmed(value.substr(0, equals));
  std::string_view set = trimmed(value.substr(equals + 1));
  if (unit.size() != 5 || strncasecmp(unit.data(), "bytes", 5) != 0) return std::nullopt;

  std::vector<HTRange> ranges;
  std::size_t start = 0;
  while (true) {
    std::size_t comma = set.find(',', start);
    std::string_view element =
        set.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
    auto range = parseElement(element, contentLength);
    if (!range) return std::nullopt;
    ranges.push_back(*range);
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }

  std::sort(ranges.begin(), ranges.end(),
            [](const HTRange& a, const HTRange& b) { return htrangeCompare(&a, &b) < 0; });
  // Sorted by start, two ranges overlap only if some range overlaps the one after it, so
  // checking neighbours answers as checking every pair would, in n log n.
  for (std::size_t i = 1; i < ranges.size(); ++i)
    if (HTIntersectionRange(ranges[i - 1], ranges[i]).length > 0) return std::nullopt;
  return ranges;
}
