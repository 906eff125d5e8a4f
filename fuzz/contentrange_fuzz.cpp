// The Content-Range reader of the file downloader on arbitrary text: it must not crash, and
// what it accepts must be a sensible range (first <= last < total, a "*" part only with a size)
// that reads the same when written out again.

#include <cstddef>
#include <cstdint>
#include <string>

#include "download/ContentRange.h"

namespace {

std::string position(const std::optional<std::uint64_t>& value) {
  return value ? std::to_string(*value) : "*";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto range = ContentRange::parse(text);
  if (!range) return 0;
  if (range->first.has_value() != range->last.has_value()) __builtin_trap();
  if (range->first && *range->first > *range->last) __builtin_trap();
  if (range->last && range->total && *range->last >= *range->total) __builtin_trap();
  if (!range->first && !range->total) __builtin_trap();
  std::string written =
      "bytes " +
      (range->first ? position(range->first) + "-" + position(range->last) : std::string("*")) +
      "/" + position(range->total);
  auto again = ContentRange::parse(written);
  if (!again || again->first != range->first || again->last != range->last ||
      again->total != range->total)
    __builtin_trap();
  return 0;
}
