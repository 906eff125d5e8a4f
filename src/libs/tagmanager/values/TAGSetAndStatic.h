#pragma once
// TAGSetAndStatic: a set of function calls (the tags or macro calls the rules selected) with its
// static flag.

#include <memory>

#include "tagmanager/runtime/TAGExpandedFunctionCall.h"
#include "tagmanager/values/TAGObjectAndStatic.h"

class TAGSetAndStatic : public TAGObjectAndStatic {
 public:
  TAGSetAndStatic(std::shared_ptr<const TAGFunctionCallSet> set, bool isStatic)
      : TAGObjectAndStatic(std::move(set), isStatic) {}

  static std::shared_ptr<const TAGSetAndStatic> setWithSet(
      std::shared_ptr<const TAGFunctionCallSet> set, bool isStatic) {
    return std::make_shared<const TAGSetAndStatic>(std::move(set), isStatic);
  }

  std::shared_ptr<const TAGFunctionCallSet> set() const {
    return std::static_pointer_cast<const TAGFunctionCallSet>(object());
  }
};
