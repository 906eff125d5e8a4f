#include "tagmanager/container/TAGSerialization.h"

#include "platform/foundation/Assert.h"
#include "platform/foundation/Json.h"
#include "tagmanager/base/TAGExceptionNames.h"
#include "tagmanager/macros/TAGConstantMacro.h"
#include "tagmanager/runtime/TAGExpandedFunctionCallBuilder.h"
#include "tagmanager/runtime/TAGExpandedResourceBuilder.h"
#include "tagmanager/values/TAGTypes.h"

namespace {

TAGObject toObject(const platform::Value& value) {
  using Kind = platform::Value::Kind;
  switch (value.kind()) {
    case Kind::Dictionary: {
      TAGObject::Map entries;
      for (const auto& [key, item] : *value.asDictionary()) {
        entries.emplace(TAGObject::string(key), toObject(item));
      }
      return TAGObject::map(std::move(entries));
    }
    case Kind::Bool:
      return TAGObject(TAGBoolean::booleanWithBool(value.boolValue()));
    case Kind::Integer:
    case Kind::Double:
      return TAGObject::number(value);
    case Kind::Text:
      return TAGObject::string(*value.asText());
    default:
      throw platform::Exception(
          kTAGNotSupportedException,
          "Type " + TAGObject::fromPlatformValue(value).className() + " is not supported");
  }
}

}  // namespace

std::shared_ptr<const TAGExpandedResource> TAGSerialization::expandResourceFromData(
    std::string_view data) {
  std::optional<platform::Value> object;
  // A number too large for an integer is still a constant: it reads as a double (a text value,
  // as every fraction does) instead of refusing the whole file.
  if (auto json = platform::Json::parse(data)) {
    object = platform::Json::toValue(*json, platform::Json::WideIntegers::AsDouble);
  }
  return expandedResourceFromDeserializedObject(object);
}

TAGObject TAGSerialization::deserializedObjectToNSObject(
    const std::optional<platform::Value>& object) {
  if (!object) return TAGObject();
  return toObject(*object);
}

TAGPValue::Ref TAGSerialization::deserializedObjectToValue(
    const std::optional<platform::Value>& object) {
  return TAGTypes::objectToValue(deserializedObjectToNSObject(object));
}

std::shared_ptr<const TAGExpandedResource> TAGSerialization::expandedResourceFromDeserializedObject(
    const std::optional<platform::Value>& object) {
  TAGPValue::Ref value = deserializedObjectToValue(object);
  TAGExpandedResourceBuilder builder;
  const auto& keys = value->mapKeyArray();
  const auto& values = value->mapValueArray();
  for (std::size_t i = 0; i < values.size() && i < keys.size(); ++i) {
    builder.addMacro(
        TAGExpandedFunctionCallBuilder()
            .addPropertyWithValue(keys[i], TAGExpandedFunctionCall::instanceNameKey())
            .addPropertyWithValue(TAGTypes::functionIdToValue(TAGConstantMacro::functionId()),
                                  TAGExpandedFunctionCall::functionKey())
            .addPropertyWithValue(values[i], TAGConstantMacro::valueKey())
            .build());
  }
  return builder.build();
}
