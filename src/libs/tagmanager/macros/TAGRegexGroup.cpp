#include "tagmanager/macros/TAGRegexGroup.h"

#include "tagmanager/base/TAGLog.h"
#include "tagmanager/predicates/TAGRegularExpression.h"
#include "tagmanager/values/TAGTypes.h"

TAGPValue::Ref TAGRegexGroup::evaluate(const TAGPropertyMap& parameters) {
  TAGPValue::Ref toMatch = propertyOf(parameters, toMatchKey());
  TAGPValue::Ref regex = propertyOf(parameters, regexKey());
  if (!toMatch || !regex || toMatch == TAGTypes::defaultValue() ||
      regex == TAGTypes::defaultValue()) {
    return TAGTypes::defaultValue();
  }
  bool ignoreCase = false;
  if (auto value = propertyOf(parameters, ignoreCaseKey())) {
    ignoreCase = TAGTypes::valueToBoolean(value)->boolValue();
  }
  std::int32_t group = 1;
  if (auto value = propertyOf(parameters, groupKey())) {
    auto number = TAGTypes::valueToNumber(value);
    if (number == TAGTypes::defaultNumber()) {
      TAGLog::error("Invalid group number: " + *TAGTypes::valueToString(value));
      return TAGTypes::defaultValue();
    }
    group = number->int32Value();
    if (group < 0) return TAGTypes::defaultValue();
  }
  std::string pattern = *TAGTypes::valueToString(regex);
  auto expression = TAGRegularExpression::compile(pattern, ignoreCase);
  if (!expression) {
    TAGLog::error("Invalid regex pattern: " + pattern);
    return TAGTypes::defaultValue();
  }
  auto match = expression->firstMatch(*TAGTypes::valueToString(toMatch));
  auto index = static_cast<std::size_t>(group);
  if (index >= match.groups.size() || !match.groups[index]) return TAGTypes::defaultValue();
  return TAGTypes::objectToValue(TAGObject::string(*match.groups[index]));
}
