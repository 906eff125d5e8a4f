#include "tagmanager/macros/TAGCustomFunctionCall.h"

#include <exception>

#include "tagmanager/base/TAGLog.h"
#include "tagmanager/values/TAGTypes.h"

TAGPValue::Ref TAGCustomFunctionCall::evaluate(const TAGPropertyMap& parameters) {
  std::string name = *TAGTypes::valueToString(propertyOf(parameters, functionCallNameKey()));
  TAGCustomParameters arguments;
  if (auto value = propertyOf(parameters, additionalParametersKey())) {
    TAGObject object = TAGTypes::valueToObject(value);
    if (!object.map()) {
      TAGLog::warning("FunctionCallMacro: expected additional_params to be a map.");
      return TAGTypes::defaultValue();
    }
    for (const auto& [key, item] : *object.map()) arguments[key.description()] = item;
  }
  try {
    TAGObject answer;
    if (_functionCallEvaluator) answer = _functionCallEvaluator->evaluate(name, arguments);
    return TAGTypes::objectToValue(answer);
  } catch (const std::exception& e) {
    TAGLog::warning("Custom macro/tag " + name + " threw exception " + e.what());
  } catch (...) {
    TAGLog::warning("Custom macro/tag " + name + " threw exception (unknown)");
  }
  return TAGTypes::defaultValue();
}
