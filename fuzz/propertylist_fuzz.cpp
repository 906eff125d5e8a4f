// Stored property lists as the tag manager reads them: any bytes, in any of the three formats.
// Reading may refuse the data but never trust it; whatever reads must write back in the binary
// format and read back as the same value.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/foundation/PropertyListSerialization.h"

namespace {

// NaN never equals itself, so lists holding one are compared by their written form instead.
bool holdsNaN(const platform::Value& value) {
  if (auto d = value.asDouble(); d && value.kind() == platform::Value::Kind::Double) {
    return std::isnan(*d);
  }
  if (auto* items = value.asArray()) {
    for (const auto& item : *items) {
      if (holdsNaN(item)) return true;
    }
  }
  if (auto* entries = value.asDictionary()) {
    for (const auto& [key, item] : *entries) {
      if (holdsNaN(item)) return true;
    }
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using platform::PropertyListSerialization;
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  platform::PropertyListFormat format;
  platform::Error error;
  auto value = PropertyListSerialization::propertyListWithData(bytes, &format, &error);
  if (!value) {
    if (error.code() != 3840) std::abort();
    return 0;
  }
  auto written = PropertyListSerialization::binaryDataWithPropertyList(*value, &error);
  if (!written) std::abort();
  auto again = PropertyListSerialization::propertyListWithData(*written, &format, nullptr);
  if (!again || format != platform::PropertyListFormat::Binary) std::abort();
  if (holdsNaN(*value)) {
    if (PropertyListSerialization::binaryDataWithPropertyList(*again, nullptr) != written)
      std::abort();
  } else if (*again != *value) {
    std::abort();
  }
  return 0;
}
