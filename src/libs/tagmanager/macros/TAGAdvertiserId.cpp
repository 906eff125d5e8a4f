#include "tagmanager/macros/TAGAdvertiserId.h"

#include "tagmanager/base/TAGLog.h"
#include "tagmanager/base/TAGPlatformFacts.h"
#include "tagmanager/values/TAGTypes.h"

TAGPValue::Ref TAGAdvertiserId::evaluate(const TAGPropertyMap&) {
  return advertisingIdentifierValue("Id for Advertising macro requires AdSupport framework.");
}

TAGPValue::Ref TAGAdvertiserId::advertisingIdentifierValue(const std::string& missingMessage) {
  auto manager = TAGPlatformFacts::shared()->advertisingIdentifierManager();
  if (!manager) {
    TAGLog::error(missingMessage);
    return TAGTypes::defaultValue();
  }
  if (manager->advertisingIdentifier.empty()) return TAGTypes::defaultValue();
  return TAGTypes::objectToValue(TAGObject::string(manager->advertisingIdentifier));
}
