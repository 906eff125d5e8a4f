#pragma once
// TAGRandom ("_r"): a uniformly distributed Integer from 0 to 2147483647. Not cacheable.
// Any thread.

#include <cstdint>
#include <set>
#include <string>

#include "tagmanager/base/TAGPlatformFacts.h"
#include "tagmanager/runtime/TAGFunctionCallImplementation.h"
#include "tagmanager/values/TAGTypes.h"

class TAGRandom : public TAGFunctionCallImplementation {
 public:
  static const char* functionId() { return "_r"; }
  TAGRandom() : TAGFunctionCallImplementation(functionId(), std::set<std::string>{}) {}

  bool isCacheable() const override { return false; }
  TAGPValue::Ref evaluate(const TAGPropertyMap&) override {
    std::uint32_t number = TAGPlatformFacts::shared()->randomUniform(2147483648u);
    return TAGTypes::objectToValue(TAGObject::number(platform::Value(std::int64_t{number})));
  }
};
