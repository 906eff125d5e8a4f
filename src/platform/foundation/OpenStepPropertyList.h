#pragma once
// OpenStepPropertyList: the old text property-list format: { key = value; }, ( a, b ),
// <hex data>, quoted strings with backslash escapes and bare words, with // and /* */ comments.
// It holds only texts, data, arrays and dictionaries.

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Value.h"

namespace platform {

class OpenStepPropertyList {
 public:
  OpenStepPropertyList() = delete;

  // Absent, with the reason in `error`, for text that is not one whole property list.
  static std::optional<Value> read(std::string_view data, std::string* error);
};

}  // namespace platform
