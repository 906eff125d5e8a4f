#pragma once
// XmlPropertyList: the XML property-list format read through libxml2: a "plist" root holding one
// of dict (key and value pairs), array, string, integer, real, true, false, date (ISO 8601 in
// UTC) and data (base64). The network is never consulted and external entities are not loaded.

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Value.h"

namespace platform {

class XmlPropertyList {
 public:
  XmlPropertyList() = delete;

  // Absent, with the reason in `error`, for data that is not a well-formed XML property list.
  static std::optional<Value> read(std::string_view data, std::string* error);
};

}  // namespace platform
