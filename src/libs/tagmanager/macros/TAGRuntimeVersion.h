#pragma once
// TAGRuntimeVersion ("_rv"): the Integer 50809091, the runtime version the container fetch also
// sends. Stateless; any thread.

#include <cstdint>
#include <set>
#include <string>

#include "tagmanager/runtime/TAGFunctionCallImplementation.h"
#include "tagmanager/values/TAGTypes.h"

class TAGRuntimeVersion : public TAGFunctionCallImplementation {
 public:
  static const char* functionId() { return "_rv"; }
  static std::int32_t versionNumber() { return 50809091; }
  TAGRuntimeVersion() : TAGFunctionCallImplementation(functionId(), std::set<std::string>{}) {}

  bool isCacheable() const override { return true; }
  TAGPValue::Ref evaluate(const TAGPropertyMap&) override {
    return TAGTypes::objectToValue(
        TAGObject::number(platform::Value(std::int64_t{versionNumber()})));
  }
};
