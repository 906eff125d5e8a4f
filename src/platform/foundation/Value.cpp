#include "platform/foundation/Value.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <sstream>

namespace platform {

double toSeconds(Date date) {
  return std::chrono::duration<double>(date.time_since_epoch()).count();
}

Date dateFromSeconds(double secondsSince1970) {
  // A Date counts 64-bit nanoseconds (about the years 1678 to 2262): seconds beyond that give
  // the first or last representable date rather than a wrapped one. NaN is no time at all.
  constexpr double kLimit = static_cast<double>(
      std::chrono::duration_cast<std::chrono::seconds>(Date::duration::max()).count());
  if (std::isnan(secondsSince1970)) return Date();
  if (secondsSince1970 >= kLimit) return Date::max();
  if (secondsSince1970 <= -kLimit) return Date::min();
  // Whole seconds and the fraction apart: nanoseconds since 1970 exceed a double's precision.
  double whole = std::floor(secondsSince1970);
  auto nanos = std::llround((secondsSince1970 - whole) * 1e9);
  return Date(std::chrono::seconds(static_cast<std::int64_t>(whole))) +
         std::chrono::duration_cast<Date::duration>(std::chrono::nanoseconds(nanos));
}

std::optional<bool> Value::asBool() const {
  if (auto* b = std::get_if<bool>(&v_)) return *b;
  return std::nullopt;
}

std::optional<std::int64_t> Value::asInteger() const {
  if (auto* i = std::get_if<std::int64_t>(&v_)) return *i;
  return std::nullopt;
}

std::optional<double> Value::asDouble() const {
  if (auto* d = std::get_if<double>(&v_)) return *d;
  if (auto* i = std::get_if<std::int64_t>(&v_)) return static_cast<double>(*i);
  return std::nullopt;
}

const std::string* Value::asText() const { return std::get_if<std::string>(&v_); }
const Bytes* Value::asBytes() const { return std::get_if<Bytes>(&v_); }
std::optional<Date> Value::asDate() const {
  if (auto* d = std::get_if<Date>(&v_)) return *d;
  return std::nullopt;
}
const Array* Value::asArray() const { return std::get_if<Array>(&v_); }
const Dictionary* Value::asDictionary() const { return std::get_if<Dictionary>(&v_); }
Array* Value::asArray() { return std::get_if<Array>(&v_); }
Dictionary* Value::asDictionary() { return std::get_if<Dictionary>(&v_); }

const void* Value::identity() const {
  if (auto* o = std::get_if<ObjectRef>(&v_)) return o->pointer.get();
  return nullptr;
}

std::int64_t Value::integerValue() const {
  switch (kind()) {
    case Kind::Bool:
      return std::get<bool>(v_) ? 1 : 0;
    case Kind::Integer:
      return std::get<std::int64_t>(v_);
    case Kind::Double: {
      double d = std::get<double>(v_);
      if (std::isnan(d)) return 0;
      if (d >= 9.2e18) return INT64_MAX;
      if (d <= -9.2e18) return INT64_MIN;
      return static_cast<std::int64_t>(d);
    }
    case Kind::Text:
      return leadingInteger(std::get<std::string>(v_));
    default:
      return 0;
  }
}

double Value::doubleValue() const {
  switch (kind()) {
    case Kind::Bool:
      return std::get<bool>(v_) ? 1.0 : 0.0;
    case Kind::Integer:
      return static_cast<double>(std::get<std::int64_t>(v_));
    case Kind::Double:
      return std::get<double>(v_);
    case Kind::Text:
      return leadingDouble(std::get<std::string>(v_));
    default:
      return 0.0;
  }
}

bool Value::boolValue() const {
  if (auto* t = std::get_if<std::string>(&v_)) {
    // The platform reads a text as true when it starts (after blanks and sign/zeros) with
    // Y, y, T, t or a digit 1-9.
    for (char c : *t) {
      if (c == ' ' || c == '\t' || c == '\n' || c == '+' || c == '-' || c == '0') continue;
      return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
    }
    return false;
  }
  if (kind() == Kind::Double) return std::get<double>(v_) != 0.0;
  return integerValue() != 0;
}

std::string Value::stringValue() const {
  switch (kind()) {
    case Kind::Text:
      return std::get<std::string>(v_);
    case Kind::Bool:
      return std::get<bool>(v_) ? "1" : "0";
    case Kind::Integer:
      return std::to_string(std::get<std::int64_t>(v_));
    case Kind::Double:
      return formatNumber(std::get<double>(v_));
    default:
      return "";
  }
}

const Value& Value::operator[](const std::string& key) const {
  static const Value kNull;
  auto* d = asDictionary();
  if (!d) return kNull;
  auto it = d->find(key);
  return it == d->end() ? kNull : it->second;
}

std::string Value::description() const {
  std::ostringstream out;
  switch (kind()) {
    case Kind::Null:
      return "<null>";
    case Kind::Bool:
    case Kind::Integer:
    case Kind::Double:
    case Kind::Text:
      return stringValue();
    case Kind::Bytes: {
      out << "<" << std::get<Bytes>(v_).size() << " bytes>";
      return out.str();
    }
    case Kind::Date:
      out << toSeconds(std::get<Date>(v_)) << "s";
      return out.str();
    case Kind::Array: {
      out << "(";
      const auto& a = std::get<Array>(v_);
      for (size_t i = 0; i < a.size(); ++i) out << (i ? ", " : "") << a[i].description();
      out << ")";
      return out.str();
    }
    case Kind::Dictionary: {
      out << "{";
      bool first = true;
      for (const auto& [k, v] : std::get<Dictionary>(v_)) {
        out << (first ? "" : "; ") << k << " = " << v.description();
        first = false;
      }
      out << "}";
      return out.str();
    }
    case Kind::Object:
      out << "<object " << identity() << ">";
      return out.str();
  }
  return "";
}

const Value* find(const Dictionary& dictionary, const std::string& key) {
  auto it = dictionary.find(key);
  return it == dictionary.end() ? nullptr : &it->second;
}

std::int64_t leadingInteger(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::int64_t result = 0;
  bool overflow = false;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    int digit = text[i] - '0';
    if (result > (INT64_MAX - digit) / 10) {
      overflow = true;
      break;
    }
    result = result * 10 + digit;
  }
  if (overflow) return negative ? INT64_MIN : INT64_MAX;
  return negative ? -result : result;
}

double leadingDouble(std::string_view text) {
  std::string copy(text);
  const char* start = copy.c_str();
  char* end = nullptr;
  double d = std::strtod(start, &end);
  return end == start ? 0.0 : d;
}

std::string formatNumber(double d) {
  if (std::isnan(d)) return "nan";
  if (std::isinf(d)) return d > 0 ? "inf" : "-inf";
  if (d == std::floor(d) && std::fabs(d) < 1e15) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.0f", d);
    return buf;
  }
  // The shortest text of up to 17 significant digits that reads back as the same double.
  char buf[40];
  for (int precision = 15; precision <= 17; ++precision) {
    std::snprintf(buf, sizeof buf, "%.*g", precision, d);
    if (std::strtod(buf, nullptr) == d) break;
  }
  return buf;
}

}  // namespace platform
