#pragma once
// Small makers of value nodes and function calls for tag-manager tests, so a table row reads as
// the container it stands for: str("x"), integer(5), macroRef("m"), call("_eq", {{"arg0", ...}}).

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/Value.h"
#include "tagmanager/runtime/TAGExpandedFunctionCall.h"
#include "tagmanager/runtime/TAGExpandedFunctionCallBuilder.h"
#include "tagmanager/values/TAGObject.h"
#include "tagmanager/values/TAGTypes.h"

namespace tagtest {

inline TAGPValue::Ref str(const std::string& text) {
  return TAGTypes::objectToValue(TAGObject::string(text));
}
inline TAGPValue::Ref integer(std::int64_t value) {
  return TAGTypes::objectToValue(TAGObject::number(platform::Value(value)));
}
inline TAGPValue::Ref boolean(bool value) {
  return TAGTypes::objectToValue(TAGObject(TAGBoolean::booleanWithBool(value)));
}
// A reference to the macro `name`, with URI escaping when asked.
inline TAGPValue::Ref macroRef(const std::string& name, bool escapeUri = false) {
  if (!escapeUri) return TAGTypes::macroReferenceToValue(name);
  return TAGTypes::macroReferenceToValue(name, std::vector<std::int32_t>{12});
}
inline bool anyReferences(const std::vector<TAGPValue::Ref>& values) {
  for (const auto& value : values) {
    if (value->containsReferences()) return true;
  }
  return false;
}
inline TAGPValue::Ref list(const std::vector<TAGPValue::Ref>& items) {
  TAGPValue::Builder builder;
  builder.setType(TAGPValue_Type::List);
  for (const auto& item : items) builder.addListItem(item);
  if (anyReferences(items)) builder.setContainsReferences(true);
  return builder.build();
}
inline TAGPValue::Ref map(const std::vector<std::pair<TAGPValue::Ref, TAGPValue::Ref>>& entries) {
  TAGPValue::Builder builder;
  builder.setType(TAGPValue_Type::Map);
  bool references = false;
  for (const auto& [key, value] : entries) {
    builder.addMapKey(key).addMapValue(value);
    references = references || key->containsReferences() || value->containsReferences();
  }
  if (references) builder.setContainsReferences(true);
  return builder.build();
}
inline TAGPValue::Ref tmpl(const std::vector<TAGPValue::Ref>& tokens) {
  return TAGTypes::templateToValue(tokens);
}

// A call of `functionId` with the given properties.
inline std::shared_ptr<TAGExpandedFunctionCall> call(const std::string& functionId,
                                                     const TAGPropertyMap& properties = {}) {
  TAGExpandedFunctionCallBuilder builder;
  for (const auto& [key, value] : properties) builder.addPropertyWithValue(value, key);
  builder.addPropertyWithValue(TAGTypes::functionIdToValue(functionId),
                               TAGExpandedFunctionCall::functionKey());
  return builder.build();
}
// A macro call named `name`.
inline std::shared_ptr<TAGExpandedFunctionCall> macro(const std::string& name,
                                                      const std::string& functionId,
                                                      TAGPropertyMap properties = {}) {
  properties[TAGExpandedFunctionCall::instanceNameKey()] = str(name);
  return call(functionId, properties);
}
// The text of a String result ("<not a string>" otherwise), for assertions.
inline std::string text(const TAGPValue::Ref& value) {
  if (!value || value->type() != TAGPValue_Type::String) return "<not a string>";
  return value->string();
}

}  // namespace tagtest
