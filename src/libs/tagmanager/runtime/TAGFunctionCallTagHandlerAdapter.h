#pragma once
// TAGFunctionCallTagHandlerAdapter: the runtime's custom evaluator behind tags: runs the tag
// handler the container has for the name (if any) and answers the default string. Holds its
// container weakly (the container owns the runtime that owns the adapter).

#include <memory>

#include "tagmanager/runtime/TAGCustomEvaluator.h"

class TAGContainer;

class TAGFunctionCallTagHandlerAdapter : public TAGCustomEvaluator {
 public:
  explicit TAGFunctionCallTagHandlerAdapter(std::weak_ptr<TAGContainer> container)
      : container_(std::move(container)) {}
  TAGObject evaluate(const std::string& name, const TAGCustomParameters& parameters) override;

 private:
  const std::weak_ptr<TAGContainer> container_;
};
