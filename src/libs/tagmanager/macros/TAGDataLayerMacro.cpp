#include "tagmanager/macros/TAGDataLayerMacro.h"

#include "tagmanager/manager/TAGDataLayer.h"
#include "tagmanager/values/TAGTypes.h"

TAGPValue::Ref TAGDataLayerMacro::evaluate(const TAGPropertyMap& parameters) {
  std::string key = *TAGTypes::valueToString(propertyOf(parameters, nameKey()));
  std::optional<platform::Value> found;
  if (_dataLayer) found = _dataLayer->get(key);
  if (found) return TAGTypes::objectToValue(TAGObject::fromPlatformValue(*found));
  if (auto fallback = propertyOf(parameters, defaultValueKey())) return fallback;
  return TAGTypes::defaultValue();
}
