#pragma once
// TAGNumberPredicate: a predicate that compares its two arguments as numbers: texts that spell a
// number compare numerically ("10" > "9"), two integers exactly, any other pair as doubles, and
// an unordered pair (NaN) as the same. An argument that is no number makes it false (the
// conversion logs it).

#include <string>

#include "tagmanager/predicates/TAGPredicate.h"
#include "tagmanager/values/TAGTypedNumber.h"

class TAGNumberPredicate : public TAGPredicate {
 public:
  bool evaluateNoDefaultValues(const TAGPValue::Ref& arg0, const TAGPValue::Ref& arg1,
                               const TAGPropertyMap& parameters) override;
  virtual bool evaluateWithArg0(const TAGTypedNumber& arg0, const TAGTypedNumber& arg1,
                                const TAGPropertyMap& parameters) = 0;

 protected:
  explicit TAGNumberPredicate(std::string functionId) : TAGPredicate(std::move(functionId)) {}
};
