#pragma once
// TAGCustomFunctionCall ("_func"): runs code the application registered on the container. As a
// macro it answers the application's macro handler's value; as a tag it runs the tag handler.
// "function_call_macro_name" names the handler; "additional_params", when given, must be a map
// and becomes the handler's arguments (keys as text, values as plain objects). A handler that
// answers nothing, or throws, gives the default value (the throw with a warning); so does a
// non-map "additional_params". Not cacheable. Any thread; the evaluator is set before use.

#include <memory>
#include <set>
#include <string>

#include "tagmanager/runtime/TAGCustomEvaluator.h"
#include "tagmanager/runtime/TAGFunctionCallImplementation.h"

class TAGCustomFunctionCall : public TAGFunctionCallImplementation {
 public:
  static const char* functionId() { return "_func"; }
  static const char* functionCallNameKey() { return "function_call_macro_name"; }
  static const char* additionalParametersKey() { return "additional_params"; }
  explicit TAGCustomFunctionCall(std::shared_ptr<TAGCustomEvaluator> evaluator)
      : TAGFunctionCallImplementation(functionId(), std::set<std::string>{functionCallNameKey()}),
        _functionCallEvaluator(std::move(evaluator)) {}

  bool isCacheable() const override { return false; }
  TAGPValue::Ref evaluate(const TAGPropertyMap& parameters) override;

  const std::shared_ptr<TAGCustomEvaluator>& functionCallEvaluator() const {
    return _functionCallEvaluator;
  }
  void setFunctionCallEvaluator(std::shared_ptr<TAGCustomEvaluator> evaluator) {
    _functionCallEvaluator = std::move(evaluator);
  }

 private:
  std::shared_ptr<TAGCustomEvaluator> _functionCallEvaluator;
};
