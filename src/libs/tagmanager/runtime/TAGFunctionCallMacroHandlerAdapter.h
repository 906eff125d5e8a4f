#pragma once
// TAGFunctionCallMacroHandlerAdapter: the runtime's custom evaluator behind macros: answers what
// the container's macro handler for the name answers, none without a handler. Holds its
// container weakly (the container owns the runtime that owns the adapter).

#include <memory>

#include "tagmanager/runtime/TAGCustomEvaluator.h"

class TAGContainer;

class TAGFunctionCallMacroHandlerAdapter : public TAGCustomEvaluator {
 public:
  explicit TAGFunctionCallMacroHandlerAdapter(std::weak_ptr<TAGContainer> container)
      : container_(std::move(container)) {}
  TAGObject evaluate(const std::string& name, const TAGCustomParameters& parameters) override;

 private:
  const std::weak_ptr<TAGContainer> container_;
};
