#pragma once
// TAGEndsWith ("_ew"): true when arg1 is empty, or arg0 ends with it.

#include <string>

#include "tagmanager/predicates/TAGStringPredicate.h"

class TAGEndsWith : public TAGStringPredicate {
 public:
  static const char* functionId() { return "_ew"; }
  TAGEndsWith() : TAGStringPredicate(functionId()) {}

  bool evaluateWithArg0(const std::string& arg0, const std::string& arg1,
                        const TAGPropertyMap&) override {
    return arg0.size() >= arg1.size() &&
           arg0.compare(arg0.size() - arg1.size(), arg1.size(), arg1) == 0;
  }
};
