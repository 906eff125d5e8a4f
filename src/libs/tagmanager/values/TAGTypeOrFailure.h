#pragma once
// TAGTypeOrFailure: the outcome of a background read: the value read, or the failure kind of
// the read when there is none. Immutable.

#include <cstdint>
#include <memory>

template <class Type>
class TAGTypeOrFailure {
 public:
  static TAGTypeOrFailure initWithType(std::shared_ptr<const Type> type) {
    return TAGTypeOrFailure(std::move(type), 0);
  }
  static TAGTypeOrFailure initWithFailure(std::int32_t failure) {
    return TAGTypeOrFailure(nullptr, failure);
  }

  // Null means failure.
  const std::shared_ptr<const Type>& type() const { return _type; }
  std::int32_t failure() const { return _failure; }

 private:
  TAGTypeOrFailure(std::shared_ptr<const Type> type, std::int32_t failure)
      : _type(std::move(type)), _failure(failure) {}

  std::shared_ptr<const Type> _type;
  std::int32_t _failure;
};
