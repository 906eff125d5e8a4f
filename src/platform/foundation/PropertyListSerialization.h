#pragma once
// PropertyListSerialization: property lists (dictionaries, arrays, texts, integers, doubles,
// booleans, dates and bytes, as platform::Value) read from any of the three formats (the old
// text format, XML, binary) and written in the binary format.
//
// Reading is for stored files, so it trusts nothing: every offset, count and reference of a
// binary list is checked against the data, reference cycles are refused, nesting deeper than
// kMaxDepth is refused, and so is a binary list whose shared objects would unfold to more than
// kMaxUnfoldFactor times its own size (or kMinUnfoldedSize, when that is more). An integer
// beyond 64 bits signed reads as the nearest double. Values a
// property list cannot hold (null, shared objects, text that is not UTF-8) are refused on
// writing.
//
// Stateless; any thread may call.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"

namespace platform {

enum class PropertyListFormat { OpenStep = 1, XML = 100, Binary = 200 };

class PropertyListSerialization {
 public:
  static constexpr int kMaxDepth = 256;
  // What a binary list may unfold to, counted as 16 bytes per object plus the bytes of its text
  // or data. A list that shares nothing unfolds to a few times its size; one that refers to the
  // same objects over and over can unfold exponentially.
  static constexpr std::size_t kMaxUnfoldFactor = 64;
  static constexpr std::size_t kMinUnfoldedSize = 1 << 20;

  // The property list in `data`; absent with `error` (domain "NSCocoaErrorDomain", code 3840)
  // when it does not read. `format` receives the format the data looked like, read or not.
  static std::optional<Value> propertyListWithData(std::string_view data,
                                                   PropertyListFormat* format, Error* error);

  // The binary form of `propertyList`; absent with `error` (code 3851) naming what cannot be
  // written.
  static std::optional<std::string> binaryDataWithPropertyList(const Value& propertyList,
                                                               Error* error);

  // Seconds between 1970-01-01 and 2001-01-01, where property-list dates count from.
  static constexpr double kReferenceDateOffset = 978307200.0;
};

}  // namespace platform
