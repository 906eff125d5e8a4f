#pragma once
// TAGPValueAndStatic: a value node with its static flag: what a call, a macro or an expanded
// property yields.

#include <memory>

#include "tagmanager/values/TAGObjectAndStatic.h"
#include "tagmanager/values/TAGPValue.h"

class TAGPValueAndStatic : public TAGObjectAndStatic {
 public:
  TAGPValueAndStatic(TAGPValue::Ref value, bool isStatic)
      : TAGObjectAndStatic(std::move(value), isStatic) {}

  static std::shared_ptr<const TAGPValueAndStatic> valueWithValue(TAGPValue::Ref value,
                                                                  bool isStatic) {
    return std::make_shared<const TAGPValueAndStatic>(std::move(value), isStatic);
  }

  TAGPValue::Ref value() const { return std::static_pointer_cast<const TAGPValue>(object()); }
};
