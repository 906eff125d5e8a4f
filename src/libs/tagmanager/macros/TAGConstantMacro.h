#pragma once
// TAGConstantMacro ("_c"): the "value" property itself, unconverted. Stateless; any thread.

#include <set>
#include <string>

#include "tagmanager/runtime/TAGFunctionCallImplementation.h"

class TAGConstantMacro : public TAGFunctionCallImplementation {
 public:
  static const char* functionId() { return "_c"; }
  static const char* valueKey() { return "value"; }
  TAGConstantMacro()
      : TAGFunctionCallImplementation(functionId(), std::set<std::string>{valueKey()}) {}

  bool isCacheable() const override { return true; }
  TAGPValue::Ref evaluate(const TAGPropertyMap& parameters) override {
    return propertyOf(parameters, valueKey());
  }
};
