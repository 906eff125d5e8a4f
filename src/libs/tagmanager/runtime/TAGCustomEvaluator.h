#pragma once
// TAGCustomEvaluator: what the custom function call ("_func") asks to run code the application
// registered on a container. The container hands the runtime two of them, one behind macros (it
// answers the application's macro handler's value, none when no handler is registered) and one
// behind tags (it runs the application's tag handler and answers ""). An evaluator may throw;
// the call contains it.

#include <map>
#include <string>

#include "tagmanager/values/TAGObject.h"

// A handler's arguments: name to plain object (string, TAGTypedNumber, TAGBoolean, list, map).
using TAGCustomParameters = std::map<std::string, TAGObject>;

class TAGCustomEvaluator {
 public:
  virtual ~TAGCustomEvaluator() = default;
  // The handler's answer; none when it has none.
  virtual TAGObject evaluate(const std::string& name, const TAGCustomParameters& parameters) = 0;
};
