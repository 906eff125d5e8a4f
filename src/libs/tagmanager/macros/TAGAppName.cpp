#include "tagmanager/macros/TAGAppName.h"

#include "tagmanager/base/TAGLog.h"
#include "tagmanager/base/TAGPlatformFacts.h"
#include "tagmanager/values/TAGTypes.h"

std::optional<platform::Value> TAGAppName::infoDictionary(const std::string& key) {
  return TAGPlatformFacts::shared()->infoDictionaryValue(key);
}

TAGPValue::Ref TAGAppName::evaluate(const TAGPropertyMap&) {
  for (const char* key : {"CFBundleName", "CFBundleIdentifier"}) {
    auto value = infoDictionary(key);
    if (value && value->kind() == platform::Value::Kind::Text && !value->stringValue().empty()) {
      return TAGTypes::objectToValue(TAGObject::string(value->stringValue()));
    }
  }
  TAGLog::error("Application name cannot be retrieved.");
  return TAGTypes::defaultValue();
}
