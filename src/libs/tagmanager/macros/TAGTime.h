#pragma once
// TAGTime ("_t"): the clock's current time in milliseconds since 1970 (truncated), as an
// Integer. Not cacheable. Any thread.

#include <chrono>
#include <cstdint>
#include <set>
#include <string>

#include "platform/foundation/Clock.h"
#include "tagmanager/runtime/TAGFunctionCallImplementation.h"
#include "tagmanager/values/TAGTypes.h"

class TAGTime : public TAGFunctionCallImplementation {
 public:
  static const char* functionId() { return "_t"; }
  TAGTime() : TAGFunctionCallImplementation(functionId(), std::set<std::string>{}) {}

  bool isCacheable() const override { return false; }
  TAGPValue::Ref evaluate(const TAGPropertyMap&) override {
    auto since1970 = platform::Clock::shared()->now().time_since_epoch();
    std::int64_t ms = std::chrono::duration_cast<std::chrono::milliseconds>(since1970).count();
    return TAGTypes::objectToValue(TAGObject::number(platform::Value(ms)));
  }
};
