#pragma once
// TAGAdvertisingTrackingEnabledMacro ("_ate"): whether advertising tracking is enabled, as a
// Boolean value; true where there is no advertising-identifier manager (Linux). Any thread.

#include <set>
#include <string>

#include "tagmanager/base/TAGPlatformFacts.h"
#include "tagmanager/runtime/TAGFunctionCallImplementation.h"
#include "tagmanager/values/TAGTypes.h"

class TAGAdvertisingTrackingEnabledMacro : public TAGFunctionCallImplementation {
 public:
  static const char* functionId() { return "_ate"; }
  TAGAdvertisingTrackingEnabledMacro()
      : TAGFunctionCallImplementation(functionId(), std::set<std::string>{}) {}

  bool isCacheable() const override { return true; }
  TAGPValue::Ref evaluate(const TAGPropertyMap&) override {
    auto manager = TAGPlatformFacts::shared()->advertisingIdentifierManager();
    bool enabled = !manager || manager->isAdvertisingTrackingEnabled;
    return TAGTypes::objectToValue(TAGObject(TAGBoolean::booleanWithBool(enabled)));
  }
};
