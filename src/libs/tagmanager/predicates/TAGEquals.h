#pragma once
// TAGEquals ("_eq"): true when arg0 and arg1 are the same string.

#include <string>

#include "tagmanager/predicates/TAGStringPredicate.h"

class TAGEquals : public TAGStringPredicate {
 public:
  static const char* functionId() { return "_eq"; }
  TAGEquals() : TAGStringPredicate(functionId()) {}

  bool evaluateWithArg0(const std::string& arg0, const std::string& arg1,
                        const TAGPropertyMap&) override {
    return arg0 == arg1;
  }
};
