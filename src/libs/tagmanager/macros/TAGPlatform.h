#pragma once
// TAGPlatform ("_p"): the platform name "iOS", the name containers match on.
// Stateless; any thread.

#include <set>
#include <string>

#include "tagmanager/runtime/TAGFunctionCallImplementation.h"
#include "tagmanager/values/TAGTypes.h"

class TAGPlatform : public TAGFunctionCallImplementation {
 public:
  static const char* functionId() { return "_p"; }
  TAGPlatform() : TAGFunctionCallImplementation(functionId(), std::set<std::string>{}) {}

  bool isCacheable() const override { return true; }
  TAGPValue::Ref evaluate(const TAGPropertyMap&) override {
    return TAGTypes::objectToValue(TAGObject::string("iOS"));
  }
};
