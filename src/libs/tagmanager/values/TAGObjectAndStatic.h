#pragma once
// TAGObjectAndStatic: a result of evaluation paired with its static flag. A result is static when
// it cannot change while the runtime holding the resource lives (it came only from constants
// through cacheable implementations); only static results are cached. The typed holders
// (TAGBooleanAndStatic, TAGPValueAndStatic, TAGSetAndStatic) say what the object is.
//
// Immutable; holders are shared (`std::shared_ptr<const ...>`) so the runtime's one default
// result can be recognised by identity. Any thread may read one.

#include <memory>

class TAGObjectAndStatic {
 public:
  // `object` may be null (absent).
  TAGObjectAndStatic(std::shared_ptr<const void> object, bool isStatic)
      : _object(std::move(object)), _isStatic(isStatic) {}
  virtual ~TAGObjectAndStatic() = default;

  const std::shared_ptr<const void>& object() const { return _object; }
  bool isStatic() const { return _isStatic; }

 private:
  const std::shared_ptr<const void> _object;
  const bool _isStatic;
};
