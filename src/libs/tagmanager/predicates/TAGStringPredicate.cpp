#include "tagmanager/predicates/TAGStringPredicate.h"

#include "tagmanager/values/TAGTypes.h"

bool TAGStringPredicate::evaluateNoDefaultValues(const TAGPValue::Ref& arg0,
                                                 const TAGPValue::Ref& arg1,
                                                 const TAGPropertyMap& parameters) {
  TAGString subject = TAGTypes::valueToString(arg0);
  TAGString operand = TAGTypes::valueToString(arg1);
  if (subject == TAGTypes::defaultString() || operand == TAGTypes::defaultString()) return false;
  return evaluateWithArg0(*subject, *operand, parameters);
}
