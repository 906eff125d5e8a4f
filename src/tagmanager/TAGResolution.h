#pragma once
// TAGResolution ("_rs"): the main screen's size in pixels, "<width>x<height>". Stateless; any
// thread.

#include <set>
#include <string>

#include "tagmanager/TAGFunctionCallImplementation.h"
#include "tagmanager/TAGPlatformFacts.h"
#include "tagmanager/TAGTypes.h"

class TAGResolution : public TAGFunctionCallImplementation {
 public:
  static const char* functionId() { return "_rs"; }
  TAGResolution() : TAGFunctionCallImplementation(functionId(), std::set<std::string>{}) {}

  bool isCacheable() const override { return true; }
  TAGPValue::Ref evaluate(const TAGPropertyMap&) override {
    auto size = TAGPlatformFacts::shared()->screenPixelSize();
    return TAGTypes::objectToValue(
        TAGObject::string(std::to_string(size.width) + "x" + std::to_string(size.height)));
  }
};
