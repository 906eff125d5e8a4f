#pragma once
// TAGAppId ("_ai"): the application's bundle identifier as a String value.
// Stateless; any thread.

#include <set>
#include <string>

#include "tagmanager/base/TAGPlatformFacts.h"
#include "tagmanager/runtime/TAGFunctionCallImplementation.h"
#include "tagmanager/values/TAGTypes.h"

class TAGAppId : public TAGFunctionCallImplementation {
 public:
  static const char* functionId() { return "_ai"; }
  TAGAppId() : TAGFunctionCallImplementation(functionId(), std::set<std::string>{}) {}

  bool isCacheable() const override { return true; }
  TAGPValue::Ref evaluate(const TAGPropertyMap&) override {
    auto value = TAGPlatformFacts::shared()->infoDictionaryValue("CFBundleIdentifier");
    return TAGTypes::objectToValue(value ? TAGObject::fromPlatformValue(*value) : TAGObject());
  }
};
