#pragma once
// TAGTrackingTag: the base of the tags that send something. A tag is never cached, runs
// `evaluateTrackingTag` with its properties, and answers TAGTypes::defaultValue().

#include <optional>
#include <set>
#include <string>

#include "tagmanager/runtime/TAGFunctionCallImplementation.h"
#include "tagmanager/values/TAGTypes.h"

class TAGTrackingTag : public TAGFunctionCallImplementation {
 public:
  bool isCacheable() const override { return false; }
  TAGPValue::Ref evaluate(const TAGPropertyMap& parameters) override {
    evaluateTrackingTag(parameters);
    return TAGTypes::defaultValue();
  }
  virtual void evaluateTrackingTag(const TAGPropertyMap& parameters) = 0;

 protected:
  TAGTrackingTag(std::string functionId, std::optional<std::set<std::string>> requiredKeys)
      : TAGFunctionCallImplementation(std::move(functionId), std::move(requiredKeys)) {}
};
