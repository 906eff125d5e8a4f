#include "tagmanager/predicates/TAGPredicate.h"

#include "tagmanager/values/TAGTypes.h"

TAGPredicate::TAGPredicate(std::string functionId)
    : TAGFunctionCallImplementation(std::move(functionId),
                                    std::set<std::string>{arg0Key(), arg1Key()}) {}

TAGPValue::Ref TAGPredicate::evaluate(const TAGPropertyMap& parameters) {
  bool answer = false;
  bool anyDefault = false;
  for (const auto& [key, value] : parameters) {
    if (value == TAGTypes::defaultValue()) anyDefault = true;
  }
  if (!anyDefault) {
    auto arg0 = parameters.find(arg0Key());
    auto arg1 = parameters.find(arg1Key());
    if (arg0 != parameters.end() && arg1 != parameters.end() && arg0->second && arg1->second) {
      answer = evaluateNoDefaultValues(arg0->second, arg1->second, parameters);
    }
  }
  return TAGTypes::objectToValue(TAGObject(TAGBoolean::booleanWithBool(answer)));
}
