#pragma once
// TAGTmVersionMacro ("_tmv"): the tag-manager version "3.01", the one pixel hits' user agent
// carries. Stateless; any thread.

#include <set>
#include <string>

#include "tagmanager/base/TAGPlatformFacts.h"
#include "tagmanager/runtime/TAGFunctionCallImplementation.h"
#include "tagmanager/values/TAGTypes.h"

class TAGTmVersionMacro : public TAGFunctionCallImplementation {
 public:
  static const char* functionId() { return "_tmv"; }
  static const char* version() { return "3.01"; }
  TAGTmVersionMacro() : TAGFunctionCallImplementation(functionId(), std::set<std::string>{}) {}

  bool isCacheable() const override { return true; }
  TAGPValue::Ref evaluate(const TAGPropertyMap&) override {
    return TAGTypes::objectToValue(TAGObject::string(version()));
  }
};
