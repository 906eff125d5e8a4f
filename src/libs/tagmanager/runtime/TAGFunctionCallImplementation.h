#pragma once
// TAGFunctionCallImplementation: the base of every macro, predicate and tag a container can run.
// The runtime registers an implementation under its function id, checks that a call carries the
// implementation's required property keys, asks whether its results may be cached, and calls
// `evaluate` with the call's properties, every macro reference already expanded. Tags act as a
// side effect and answer TAGTypes::defaultValue().
//
// Made only by subclasses, with a function id and the set of required keys; an absent set fails
// every key check. Which thread may evaluate is the subclass's to say.

#include <optional>
#include <set>
#include <string>

#include "tagmanager/values/TAGPValue.h"

class TAGFunctionCallImplementation {
 public:
  // The property that holds a call's function id, the one that names a macro, and the boolean
  // one that keeps a macro from becoming the default for its name.
  static const char* functionKey() { return "function"; }
  static const char* instanceNameKey() { return "instance_name"; }
  static const char* notDefaultMacroKey() { return "not_default_macro"; }

  virtual ~TAGFunctionCallImplementation() = default;

  // Whether a result may be kept when every input of the call was static.
  virtual bool isCacheable() const = 0;
  virtual TAGPValue::Ref evaluate(const TAGPropertyMap& parameters) = 0;

  // True when every required key is among `keys` (extra keys are fine).
  bool hasRequiredKeys(const std::set<std::string>& keys) const;

  const std::string& instanceFunctionId() const { return _instanceFunctionId; }
  const std::optional<std::set<std::string>>& requiredKeys() const { return _requiredKeys; }

 protected:
  // The property under `key`, or null when the call has none.
  static TAGPValue::Ref propertyOf(const TAGPropertyMap& parameters, const std::string& key) {
    auto it = parameters.find(key);
    return it == parameters.end() ? nullptr : it->second;
  }

  TAGFunctionCallImplementation(std::string functionId,
                                std::optional<std::set<std::string>> requiredKeys)
      : _instanceFunctionId(std::move(functionId)), _requiredKeys(std::move(requiredKeys)) {}

 private:
  const std::string _instanceFunctionId;
  const std::optional<std::set<std::string>> _requiredKeys;
};
