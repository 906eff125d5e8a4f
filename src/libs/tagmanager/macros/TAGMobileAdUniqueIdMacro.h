#pragma once
// TAGMobileAdUniqueIdMacro ("_awid"): the advertising identifier's text, as "_adi" gives it,
// with a message of its own where there is no advertising-identifier manager. Any thread.

#include <set>
#include <string>

#include "tagmanager/macros/TAGAdvertiserId.h"
#include "tagmanager/runtime/TAGFunctionCallImplementation.h"

class TAGMobileAdUniqueIdMacro : public TAGFunctionCallImplementation {
 public:
  static const char* functionId() { return "_awid"; }
  TAGMobileAdUniqueIdMacro()
      : TAGFunctionCallImplementation(functionId(), std::set<std::string>{}) {}

  bool isCacheable() const override { return true; }
  TAGPValue::Ref evaluate(const TAGPropertyMap&) override {
    return TAGAdvertiserId::advertisingIdentifierValue("Ad Tag requires AdSupport framework.");
  }
};
