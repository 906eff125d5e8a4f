#pragma once
// TAGGreaterEquals ("_ge"): true when arg0 >= arg1.

#include <string>

#include "tagmanager/predicates/TAGNumberPredicate.h"

class TAGGreaterEquals : public TAGNumberPredicate {
 public:
  static const char* functionId() { return "_ge"; }
  TAGGreaterEquals() : TAGNumberPredicate(functionId()) {}

  bool evaluateWithArg0(const TAGTypedNumber& arg0, const TAGTypedNumber& arg1,
                        const TAGPropertyMap&) override {
    return arg0.compare(arg1) >= 0;
  }
};
