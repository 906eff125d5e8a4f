#pragma once
// TAGAppName ("_an"): the application's name ("CFBundleName"), else its bundle identifier; the
// default value, with an error line, when the bundle has neither. Any thread.

#include <optional>
#include <set>
#include <string>

#include "platform/foundation/Value.h"
#include "tagmanager/runtime/TAGFunctionCallImplementation.h"

class TAGAppName : public TAGFunctionCallImplementation {
 public:
  static const char* functionId() { return "_an"; }
  TAGAppName() : TAGFunctionCallImplementation(functionId(), std::set<std::string>{}) {}

  bool isCacheable() const override { return true; }
  TAGPValue::Ref evaluate(const TAGPropertyMap&) override;

  // A value of the main bundle's information dictionary.
  static std::optional<platform::Value> infoDictionary(const std::string& key);
};
