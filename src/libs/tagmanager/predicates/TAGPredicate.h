#pragma once
// TAGPredicate: the common frame of the rule predicates. A predicate takes "arg0" (the subject)
// and "arg1" (the operand), both required, and answers a Boolean value. A property that is the
// shared default value (a macro or conversion upstream failed) makes the answer false without the
// test running, as does a missing argument. Predicates are cacheable: with constant arguments the
// runtime computes one once. Stateless beyond the id; any thread may evaluate.

#include <string>

#include "tagmanager/runtime/TAGFunctionCallImplementation.h"

class TAGPredicate : public TAGFunctionCallImplementation {
 public:
  static const char* arg0Key() { return "arg0"; }
  static const char* arg1Key() { return "arg1"; }

  TAGPValue::Ref evaluate(const TAGPropertyMap& parameters) override;
  bool isCacheable() const override { return true; }

  // The test on the two arguments, neither of them the default value.
  virtual bool evaluateNoDefaultValues(const TAGPValue::Ref& arg0, const TAGPValue::Ref& arg1,
                                       const TAGPropertyMap& parameters) = 0;

 protected:
  explicit TAGPredicate(std::string functionId);
};
