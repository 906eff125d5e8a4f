#pragma once
// TAGDeviceName ("_dn"): the device model (the machine's architecture on Linux).
// Stateless; any thread.

#include <set>
#include <string>

#include "tagmanager/base/TAGPlatformFacts.h"
#include "tagmanager/runtime/TAGFunctionCallImplementation.h"
#include "tagmanager/values/TAGTypes.h"

class TAGDeviceName : public TAGFunctionCallImplementation {
 public:
  static const char* functionId() { return "_dn"; }
  TAGDeviceName() : TAGFunctionCallImplementation(functionId(), std::set<std::string>{}) {}

  bool isCacheable() const override { return true; }
  TAGPValue::Ref evaluate(const TAGPropertyMap&) override {
    return TAGTypes::objectToValue(TAGObject::string(TAGPlatformFacts::shared()->deviceModel()));
  }
};
