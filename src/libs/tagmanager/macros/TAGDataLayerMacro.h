#pragma once
// TAGDataLayerMacro ("_v"): the data-layer value at the dotted path "name", converted; when the
// data layer holds nothing there, the "default_value" property as it is, else the default value.
// Not cacheable: the data layer changes. Any thread.

#include <memory>
#include <set>
#include <string>

#include "tagmanager/runtime/TAGFunctionCallImplementation.h"

class TAGDataLayer;

class TAGDataLayerMacro : public TAGFunctionCallImplementation {
 public:
  static const char* functionId() { return "_v"; }
  static const char* nameKey() { return "name"; }
  static const char* defaultValueKey() { return "default_value"; }
  explicit TAGDataLayerMacro(std::shared_ptr<TAGDataLayer> dataLayer)
      : TAGFunctionCallImplementation(functionId(), std::set<std::string>{nameKey()}),
        _dataLayer(std::move(dataLayer)) {}

  bool isCacheable() const override { return false; }
  TAGPValue::Ref evaluate(const TAGPropertyMap& parameters) override;

  const std::shared_ptr<TAGDataLayer>& dataLayer() const { return _dataLayer; }

 private:
  const std::shared_ptr<TAGDataLayer> _dataLayer;
};
