#pragma once
// TAGAppVersion ("_av"): the bundle's short version text ("CFBundleShortVersionString");
// the default value, after a conversion error, when the bundle has none. Stateless; any thread.

#include <set>
#include <string>

#include "tagmanager/base/TAGPlatformFacts.h"
#include "tagmanager/runtime/TAGFunctionCallImplementation.h"
#include "tagmanager/values/TAGTypes.h"

class TAGAppVersion : public TAGFunctionCallImplementation {
 public:
  static const char* functionId() { return "_av"; }
  TAGAppVersion() : TAGFunctionCallImplementation(functionId(), std::set<std::string>{}) {}

  bool isCacheable() const override { return true; }
  TAGPValue::Ref evaluate(const TAGPropertyMap&) override {
    auto value = TAGPlatformFacts::shared()->infoDictionaryValue("CFBundleShortVersionString");
    return TAGTypes::objectToValue(value ? TAGObject::fromPlatformValue(*value) : TAGObject());
  }
};
