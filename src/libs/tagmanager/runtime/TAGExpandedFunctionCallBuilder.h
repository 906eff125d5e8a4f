#pragma once
// TAGExpandedFunctionCallBuilder: collects a call's properties; a later value for a key replaces
// the earlier one.

#include <memory>
#include <string>

#include "tagmanager/runtime/TAGExpandedFunctionCall.h"

class TAGExpandedFunctionCallBuilder {
 public:
  TAGExpandedFunctionCallBuilder& addPropertyWithValue(TAGPValue::Ref value,
                                                       const std::string& key) {
    propertiesMap_[key] = std::move(value);
    return *this;
  }
  std::shared_ptr<TAGExpandedFunctionCall> build() const {
    return std::make_shared<TAGExpandedFunctionCall>(propertiesMap_);
  }

 private:
  TAGPropertyMap propertiesMap_;
};
