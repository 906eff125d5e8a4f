#pragma once
// BinaryPropertyList: the binary property-list format ("bplist00"), read with every offset,
// count and reference checked, and written. See PropertyListSerialization for what it accepts.

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Value.h"

namespace platform {

class BinaryPropertyList {
 public:
  BinaryPropertyList() = delete;

  // Absent, with the reason in `error`, for data that is not a whole, well-formed binary list.
  static std::optional<Value> read(std::string_view data, std::string* error);
  // Absent, with the reason in `error`, for a value a property list cannot hold.
  static std::optional<std::string> write(const Value& value, std::string* error);
};

}  // namespace platform
