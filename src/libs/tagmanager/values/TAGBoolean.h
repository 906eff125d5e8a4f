#pragma once
// TAGBoolean: the tag manager's boxed boolean. `yes()` and `no()` are two shared instances made
// once; every other way of making one gives a new instance, so an answer can be told from the
// shared defaults by identity while equality looks only at the value.
//
// The shared instances are const; any thread may read them.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

class TAGBoolean {
 public:
  static const std::shared_ptr<const TAGBoolean>& yes();
  static const std::shared_ptr<const TAGBoolean>& no();
  static std::shared_ptr<TAGBoolean> booleanWithBool(bool value);
  // A new YES for "true" and a new NO for "false", in any letter case; null otherwise.
  static std::shared_ptr<TAGBoolean> booleanWithString(std::string_view text);

  bool boolValue() const { return _boolValue; }
  void setBoolValue(bool value) { _boolValue = value; }

  // "true" or "false".
  std::string description() const { return _boolValue ? "true" : "false"; }
  bool isEqual(const TAGBoolean& other) const { return _boolValue == other._boolValue; }
  std::uint32_t hash() const { return _boolValue ? 123 : 838; }
  std::shared_ptr<TAGBoolean> copy() const { return booleanWithBool(_boolValue); }

 private:
  explicit TAGBoolean(bool value) : _boolValue(value) {}

  bool _boolValue;
};
