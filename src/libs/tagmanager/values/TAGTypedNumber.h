#pragma once
// TAGTypedNumber: a number that is either a signed 64-bit integer or a double, as the tag
// manager's conversions make them. Reading the other form converts: a double reads as an integer
// truncated toward zero (saturating at the ends of the range, NaN as 0), an integer as the
// nearest double. The form is fixed at creation; the setters change only the stored field.
//
// A plain value object; the tag manager does not change one after making it, so shared numbers
// may be read from any thread.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

class TAGTypedNumber {
 public:
  static std::shared_ptr<TAGTypedNumber> numberWithInt64(std::int64_t value);
  static std::shared_ptr<TAGTypedNumber> numberWithDouble(double value);
  // The number a whole text spells: a 64-bit decimal integer (leading white space and a sign
  // allowed, saturating beyond the range), else a decimal double; null for the empty text and
  // for text left over after the number, trailing white space included.
  static std::shared_ptr<TAGTypedNumber> numberWithString(std::string_view text);

  bool isInt64() const { return _isInt64; }
  bool isDouble() const { return !_isInt64; }
  std::int64_t int64Value() const;
  double doubleValue() const;
  // The low 32 bits of int64Value, wrapping.
  std::int32_t int32Value() const { return static_cast<std::int32_t>(int64Value()); }
  // The low 16 bits of int64Value, sign-extended.
  std::int16_t int16Value() const { return static_cast<std::int16_t>(int64Value()); }
  float floatValue() const { return static_cast<float>(doubleValue()); }
  void setInt64Value(std::int64_t value) { int64_ = value; }
  void setDoubleValue(double value) { double_ = value; }

  // -1, 0 or +1: as integers when both are integers, else as doubles; NaN compares as same.
  int compare(const TAGTypedNumber& other) const;
  bool isEqual(const TAGTypedNumber& other) const { return compare(other) == 0; }
  // The 64-bit integer, or the bit pattern of the double, folded to 32 bits.
  std::uint32_t hash() const;
  // A decimal integer, or the platform's text of the double.
  std::string description() const;

  std::shared_ptr<TAGTypedNumber> copy() const;

 private:
  TAGTypedNumber(bool isInt64, std::int64_t int64, double value)
      : _isInt64(isInt64), int64_(int64), double_(value) {}

  bool _isInt64;
  std::int64_t int64_;
  double double_;
};
