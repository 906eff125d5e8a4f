#include "tagmanager/values/TAGTypedNumber.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/foundation/Value.h"

namespace {

constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The length of the white space or line end at `pos` (the Unicode space separators, tab to
// carriage return, next line), 0 when there is none.
std::size_t whitespaceAt(std::string_view text, std::size_t pos) {
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[pos + i]); };
  std::size_t left = text.size() - pos;
  if (left == 0) return 0;
  unsigned char c = byte(0);
  if (c == ' ' || (c >= 0x09 && c <= 0x0D)) return 1;
  if (c == 0xC2 && left >= 2 && (byte(1) == 0x85 || byte(1) == 0xA0)) return 2;
  if (left < 3) return 0;
  if (c == 0xE1 && byte(1) == 0x9A && byte(2) == 0x80) return 3;  // U+1680
  if (c == 0xE3 && byte(1) == 0x80 && byte(2) == 0x80) return 3;  // U+3000
  if (c == 0xE2 && byte(1) == 0x80 &&
      (byte(2) <= 0x8A || byte(2) == 0xA8 || byte(2) == 0xA9 || byte(2) == 0xAF)) {
    return 3;  // U+2000..U+200A, U+2028, U+2029, U+202F
  }
  if (c == 0xE2 && byte(1) == 0x81 && byte(2) == 0x9F) return 3;  // U+205F
  return 0;
}

std::size_t skipWhitespace(std::string_view text, std::size_t pos) {
  while (std::size_t n = whitespaceAt(text, pos)) pos += n;
  return pos;
}

// A decimal integer at `pos` (after white space, with an optional sign), saturating; the
// position after it, or npos when no digit follows.
std::size_t scanInt64(std::string_view text, std::int64_t* result) {
  std::size_t pos = skipWhitespace(text, 0);
  bool negative = false;
  if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) negative = text[pos++] == '-';
  if (pos >= text.size() || !isDigit(text[pos])) return std::string_view::npos;
  std::int64_t value = 0;
  bool saturated = false;
  for (; pos < text.size() && isDigit(text[pos]); ++pos) {
    int digit = text[pos] - '0';
    if (saturated) continue;
    if (negative ? value < (kMin + digit) / 10 : value > (kMax - digit) / 10) {
      value = negative ? kMin : kMax;
      saturated = true;
    } else {
      value = value * 10 + (negative ? -digit : digit);
    }
  }
  *result = value;
  return pos;
}

// A decimal double at the start (after white space): sign, digits with an optional point, an
// optional exponent; the position after it, or npos when no digit came.
std::size_t scanDouble(std::string_view text, double* result) {
  std::size_t pos = skipWhitespace(text, 0);
  bool negative = false;
  if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) negative = text[pos++] == '-';
  std::size_t start = pos;
  std::size_t integerDigits = 0;
  std::size_t leadingZeros = 0;
  bool seenNonZero = false;
  for (; pos < text.size() && isDigit(text[pos]); ++pos, ++integerDigits) {
    if (text[pos] != '0') seenNonZero = true;
    if (!seenNonZero) ++leadingZeros;
  }
  std::size_t fractionDigits = 0;
  if (pos < text.size() && text[pos] == '.') {
    ++pos;
    for (; pos < text.size() && isDigit(text[pos]); ++pos) ++fractionDigits;
  }
  if (integerDigits + fractionDigits == 0) return std::string_view::npos;
  std::int64_t exponent = 0;
  if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
    std::size_t e = pos + 1;
    bool negativeExponent = false;
    if (e < text.size() && (text[e] == '-' || text[e] == '+')) negativeExponent = text[e++] == '-';
    if (e < text.size() && isDigit(text[e])) {
      // Only its rough size matters past the double range, so it stops growing there.
      for (; e < text.size() && isDigit(text[e]); ++e) {
        if (exponent < 100000) exponent = exponent * 10 + (text[e] - '0');
      }
      if (negativeExponent) exponent = -exponent;
      pos = e;
    }
  }
  double value = 0;
  auto parsed = std::from_chars(text.data() + start, text.data() + pos, value);
  if (parsed.ec == std::errc::result_out_of_range) {
    // Beyond the double range: infinity when the magnitude is large, zero when it is tiny.
    auto magnitude = static_cast<std::int64_t>(integerDigits - leadingZeros) + exponent;
    value = magnitude > 0 ? std::numeric_limits<double>::infinity() : 0.0;
  }
  *result = negative ? -value : value;
  return pos;
}

}  // namespace

std::shared_ptr<TAGTypedNumber> TAGTypedNumber::numberWithInt64(std::int64_t value) {
  return std::shared_ptr<TAGTypedNumber>(new TAGTypedNumber(true, value, 0));
}

std::shared_ptr<TAGTypedNumber> TAGTypedNumber::numberWithDouble(double value) {
  return std::shared_ptr<TAGTypedNumber>(new TAGTypedNumber(false, 0, value));
}

std::shared_ptr<TAGTypedNumber> TAGTypedNumber::numberWithString(std::string_view text) {
  if (text.empty()) return nullptr;
  std::int64_t integer = 0;
  if (scanInt64(text, &integer) == text.size()) return numberWithInt64(integer);
  double value = 0;
  if (scanDouble(text, &value) == text.size()) return numberWithDouble(value);
  return nullptr;
}

std::int64_t TAGTypedNumber::int64Value() const {
  if (_isInt64) return int64_;
  if (std::isnan(double_)) return 0;
  // 2^63 is the first double beyond the range.
  if (double_ >= 9223372036854775808.0) return kMax;
  if (double_ < -9223372036854775808.0) return kMin;
  return static_cast<std::int64_t>(double_);
}

double TAGTypedNumber::doubleValue() const {
  return _isInt64 ? static_cast<double>(int64_) : double_;
}

int TAGTypedNumber::compare(const TAGTypedNumber& other) const {
  if (_isInt64 && other._isInt64) return int64_ < other.int64_ ? -1 : int64_ > other.int64_ ? 1 : 0;
  double a = doubleValue();
  double b = other.doubleValue();
  return a < b ? -1 : a > b ? 1 : 0;
}

std::uint32_t TAGTypedNumber::hash() const {
  std::uint64_t bits = 0;
  if (_isInt64) {
    bits = static_cast<std::uint64_t>(int64_);
  } else {
    std::memcpy(&bits, &double_, sizeof bits);
  }
  return static_cast<std::uint32_t>(bits ^ (bits >> 32));
}

std::string TAGTypedNumber::description() const {
  return _isInt64 ? std::to_string(int64_) : platform::formatNumber(double_);
}

std::shared_ptr<TAGTypedNumber> TAGTypedNumber::copy() const {
  return std::shared_ptr<TAGTypedNumber>(new TAGTypedNumber(_isInt64, int64_, double_));
}
