#pragma once
// TAGContains ("_cn"): true when arg1 is empty, or arg0 contains it.

#include <string>

#include "tagmanager/predicates/TAGStringPredicate.h"

class TAGContains : public TAGStringPredicate {
 public:
  static const char* functionId() { return "_cn"; }
  TAGContains() : TAGStringPredicate(functionId()) {}

  bool evaluateWithArg0(const std::string& arg0, const std::string& arg1,
                        const TAGPropertyMap&) override {
    return arg1.empty() || arg0.find(arg1) != std::string::npos;
  }
};
