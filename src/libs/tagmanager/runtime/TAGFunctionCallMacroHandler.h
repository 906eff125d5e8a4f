#pragma once
// TAGFunctionCallMacroHandler: application code that answers a custom macro's value ("_func"
// with the macro's name). Called on the thread that evaluates the macro.

#include <string>

#include "tagmanager/runtime/TAGCustomEvaluator.h"

class TAGFunctionCallMacroHandler {
 public:
  virtual ~TAGFunctionCallMacroHandler() = default;
  virtual TAGObject valueForMacro(const std::string& macroName,
                                  const TAGCustomParameters& parameters) = 0;
};
