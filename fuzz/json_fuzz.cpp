// JSON answers as the request engine hands them on: parsed with the depth bound, read member by
// member through the coercion readers, and converted to a Value and back. A document that
// parses must convert whole (nothing deeper than the bound gets through), and JSON made from a
// Value must read back as the same Value.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/foundation/Json.h"

using platform::Json;
using platform::Value;

namespace {

void readEveryWay(const Json::json& j) {
  (void)Json::intValue(j);
  (void)Json::doubleValue(j);
  (void)Json::boolValue(j);
  (void)Json::stringValue(j);
  (void)Json::arrayValue(j);
  (void)Json::objectValue(j);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto parsed = Json::parse(text);
  if (!parsed) return 0;

  readEveryWay(*parsed);
  if (parsed->is_object()) {
    for (auto it = parsed->begin(); it != parsed->end(); ++it) {
      readEveryWay(it.value());
      (void)Json::intValue(*parsed, it.key());
      (void)Json::stringValue(*parsed, it.key());
    }
  }
  // The feedback answer's one member, converted as the course API client does.
  if (const Json::json* code = Json::member(*parsed, "resultCode")) (void)Json::toValue(*code);

  Value value = Json::toValue(*parsed);
  if (parsed->is_structured() && value.isNull()) std::abort();  // parse let a deep text through
  (void)value.description();
  if (Json::toValue(Json::fromValue(value)) != value) std::abort();
  (void)parsed->dump(-1, ' ', false, Json::json::error_handler_t::replace);
  return 0;
}
