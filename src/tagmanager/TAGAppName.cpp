#include "tagmanager/TAGAppName.h"

#include "tagmanager/TAGLog.h"
#include "tagmanager/TAGPlatformFacts.h"
#include "tagmanager/TAGTypes.h"

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
