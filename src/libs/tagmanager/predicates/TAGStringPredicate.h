#pragma once
// TAGStringPredicate: a predicate that compares its two arguments as strings (case-sensitive,
// byte for byte). An argument with no string form (a macro reference, a function id, a list
// holding one) makes it false; one that converts to "" is an ordinary empty string.

#include <string>

#include "tagmanager/predicates/TAGPredicate.h"

class TAGStringPredicate : public TAGPredicate {
 public:
  bool evaluateNoDefaultValues(const TAGPValue::Ref& arg0, const TAGPValue::Ref& arg1,
                               const TAGPropertyMap& parameters) override;
  virtual bool evaluateWithArg0(const std::string& arg0, const std::string& arg1,
                                const TAGPropertyMap& parameters) = 0;

 protected:
  explicit TAGStringPredicate(std::string functionId) : TAGPredicate(std::move(functionId)) {}
};
