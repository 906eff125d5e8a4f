#include "tagmanager/macros/TAGAdClickReferrer.h"

#include "tagmanager/manager/TAGClickReferrerUtil.h"
#include "tagmanager/values/TAGTypes.h"

TAGPValue::Ref TAGAdClickReferrer::evaluate(const TAGPropertyMap& parameters) {
  std::string conversionId = *TAGTypes::valueToString(propertyOf(parameters, conversionIdKey()));
  std::optional<std::string> component;
  if (auto value = propertyOf(parameters, componentKey())) {
    component = *TAGTypes::valueToString(value);
  }
  auto referrer = TAGClickReferrerUtil::clickReferrerForConversionId(conversionId, component);
  if (!referrer) return TAGTypes::defaultValue();
  return TAGTypes::objectToValue(TAGObject::string(*referrer));
}
