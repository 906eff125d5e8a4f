#pragma once
// TAGLessEquals ("_le"): true when arg0 <= arg1.

#include <string>

#include "tagmanager/predicates/TAGNumberPredicate.h"

class TAGLessEquals : public TAGNumberPredicate {
 public:
  static const char* functionId() { return "_le"; }
  TAGLessEquals() : TAGNumberPredicate(functionId()) {}

  bool evaluateWithArg0(const TAGTypedNumber& arg0, const TAGTypedNumber& arg1,
                        const TAGPropertyMap&) override {
    return arg0.compare(arg1) <= 0;
  }
};
