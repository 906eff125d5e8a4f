#pragma once
// TAGFunctionCallTagHandler: application code a container runs as a custom tag ("_func" with the
// tag's name). Called on the thread that evaluates the container's tags.

#include <string>

#include "tagmanager/runtime/TAGCustomEvaluator.h"

class TAGFunctionCallTagHandler {
 public:
  virtual ~TAGFunctionCallTagHandler() = default;
  virtual void execute(const std::string& tagName, const TAGCustomParameters& parameters) = 0;
};
