#pragma once
// TAGAdClickReferrer ("_awcr"): the click referrer stored for "conversion_id", or its query
// component "component" when that is given; the default value when there is none. Cacheable,
// as the tag manager has always declared it: a container reads the referrer once per runtime.
// Any thread.

#include <set>
#include <string>

#include "tagmanager/runtime/TAGFunctionCallImplementation.h"

class TAGAdClickReferrer : public TAGFunctionCallImplementation {
 public:
  static const char* functionId() { return "_awcr"; }
  static const char* conversionIdKey() { return "conversion_id"; }
  static const char* componentKey() { return "component"; }
  TAGAdClickReferrer()
      : TAGFunctionCallImplementation(functionId(), std::set<std::string>{conversionIdKey()}) {}

  bool isCacheable() const override { return true; }
  TAGPValue::Ref evaluate(const TAGPropertyMap& parameters) override;
};
