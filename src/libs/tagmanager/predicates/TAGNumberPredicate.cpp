#include "tagmanager/predicates/TAGNumberPredicate.h"

#include "tagmanager/values/TAGTypes.h"

bool TAGNumberPredicate::evaluateNoDefaultValues(const TAGPValue::Ref& arg0,
                                                 const TAGPValue::Ref& arg1,
                                                 const TAGPropertyMap& parameters) {
  auto subject = TAGTypes::valueToNumber(arg0);
  auto operand = TAGTypes::valueToNumber(arg1);
  if (subject == TAGTypes::defaultNumber() || operand == TAGTypes::defaultNumber()) return false;
  return evaluateWithArg0(*subject, *operand, parameters);
}
