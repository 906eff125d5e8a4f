#pragma once
// TAGBooleanAndStatic: a boolean result with its static flag. A rule that passed carries a
// TAGBoolean YES; one that failed carries no boolean at all, so the test for a pass is the
// presence of the object, not its truth. A predicate's result carries its TAGBoolean either way.

#include <memory>

#include "tagmanager/values/TAGBoolean.h"
#include "tagmanager/values/TAGObjectAndStatic.h"

class TAGBooleanAndStatic : public TAGObjectAndStatic {
 public:
  TAGBooleanAndStatic(std::shared_ptr<const TAGBoolean> boolean, bool isStatic)
      : TAGObjectAndStatic(std::move(boolean), isStatic) {}

  static std::shared_ptr<const TAGBooleanAndStatic> booleanWithBoolean(
      std::shared_ptr<const TAGBoolean> boolean, bool isStatic) {
    return std::make_shared<const TAGBooleanAndStatic>(std::move(boolean), isStatic);
  }
  // Boxes `value` in a new TAGBoolean first (a NO is carried too).
  static std::shared_ptr<const TAGBooleanAndStatic> booleanWithBool(bool value, bool isStatic) {
    return booleanWithBoolean(TAGBoolean::booleanWithBool(value), isStatic);
  }

  // Null when the holder carries none.
  std::shared_ptr<const TAGBoolean> boolean() const {
    return std::static_pointer_cast<const TAGBoolean>(object());
  }
};
