#pragma once
// TAGEventMacro ("_e"): the name of the event the runtime is firing tags for, as a String value;
// the default value outside an event or once the runtime is gone (it is held weakly: the runtime
// owns this macro). Not cacheable. Any thread.

#include <memory>
#include <set>
#include <string>

#include "tagmanager/runtime/TAGFunctionCallImplementation.h"

class TAGRuntime;

class TAGEventMacro : public TAGFunctionCallImplementation {
 public:
  static const char* functionId() { return "_e"; }
  explicit TAGEventMacro(std::weak_ptr<TAGRuntime> runtime)
      : TAGFunctionCallImplementation(functionId(), std::set<std::string>{}),
        _runtime(std::move(runtime)) {}

  bool isCacheable() const override { return false; }
  TAGPValue::Ref evaluate(const TAGPropertyMap&) override;

  std::shared_ptr<TAGRuntime> runtime() const { return _runtime.lock(); }

 private:
  const std::weak_ptr<TAGRuntime> _runtime;
};
