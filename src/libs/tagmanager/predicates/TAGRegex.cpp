#include "tagmanager/predicates/TAGRegex.h"

#include "tagmanager/predicates/TAGRegularExpression.h"
#include "tagmanager/values/TAGTypes.h"

bool TAGRegex::evaluateWithArg0(const std::string& arg0, const std::string& arg1,
                                const TAGPropertyMap& parameters) {
  bool ignoreCase = false;
  if (auto it = parameters.find(ignoreCaseKey()); it != parameters.end() && it->second) {
    ignoreCase = TAGTypes::valueToBoolean(it->second)->boolValue();
  }
  if (arg1.empty()) return true;
  auto expression = TAGRegularExpression::compile(arg1, ignoreCase);
  return expression && expression->findsMatch(arg0);
}
