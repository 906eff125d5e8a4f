#pragma once
// TAGSdkVersion ("_sv"): the operating system's version text (the kernel release on Linux).
// Stateless; any thread.

#include <set>
#include <string>

#include "tagmanager/base/TAGPlatformFacts.h"
#include "tagmanager/runtime/TAGFunctionCallImplementation.h"
#include "tagmanager/values/TAGTypes.h"

class TAGSdkVersion : public TAGFunctionCallImplementation {
 public:
  static const char* functionId() { return "_sv"; }
  TAGSdkVersion() : TAGFunctionCallImplementation(functionId(), std::set<std::string>{}) {}

  bool isCacheable() const override { return true; }
  TAGPValue::Ref evaluate(const TAGPropertyMap&) override {
    return TAGTypes::objectToValue(TAGObject::string(TAGPlatformFacts::shared()->systemVersion()));
  }
};
