#pragma once
// TAGAdvertiserId ("_adi"): the advertising identifier's text as a String value; the default
// value when it is empty, and (with an error line) where there is no advertising-identifier
// manager, as on Linux. Any thread.

#include <set>
#include <string>

#include "tagmanager/runtime/TAGFunctionCallImplementation.h"

class TAGAdvertiserId : public TAGFunctionCallImplementation {
 public:
  static const char* functionId() { return "_adi"; }
  TAGAdvertiserId() : TAGFunctionCallImplementation(functionId(), std::set<std::string>{}) {}

  bool isCacheable() const override { return true; }
  TAGPValue::Ref evaluate(const TAGPropertyMap&) override;

  // The identifier as "_adi" and "_awid" answer it; `missingMessage` is logged when there is no
  // manager.
  static TAGPValue::Ref advertisingIdentifierValue(const std::string& missingMessage);
};
