#pragma once
// TAGStartsWith ("_sw"): true when arg1 is empty, or arg0 begins with it.

#include <string>

#include "tagmanager/predicates/TAGStringPredicate.h"

class TAGStartsWith : public TAGStringPredicate {
 public:
  static const char* functionId() { return "_sw"; }
  TAGStartsWith() : TAGStringPredicate(functionId()) {}

  bool evaluateWithArg0(const std::string& arg0, const std::string& arg1,
                        const TAGPropertyMap&) override {
    return arg0.compare(0, arg1.size(), arg1) == 0;
  }
};
