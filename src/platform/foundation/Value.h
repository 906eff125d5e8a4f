#pragma once
// Value: the one loosely typed value of the platform layer, used for notification payloads,
// data-access results and user defaults. It holds null, a boolean, an integer, a double, a text,
// bytes, a date, an array, a dictionary or an opaque shared object.
//
// Typed reads come in two kinds: `asX()` answers only for a value of exactly that kind (absent
// otherwise), while `xValue()` follows the platform's number conversions (a text's leading
// integer, a boolean as 0 or 1, a double truncated) and answers 0 / empty where nothing converts.

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <typeindex>
#include <variant>
#include <vector>

namespace platform {

class Value;
using Array = std::vector<Value>;
using Dictionary = std::map<std::string, Value>;
using Bytes = std::vector<std::uint8_t>;
using Date = std::chrono::system_clock::time_point;

// Seconds since 1970 as a double, and back: the platform's date arithmetic is in seconds. Dates
// reach from about 1678 to 2262; seconds outside that give the nearest end, never a wrapped date.
double toSeconds(Date date);
Date dateFromSeconds(double secondsSince1970);

// An object held by reference, of any class; read back with Value::object<T>().
struct ObjectRef {
  std::shared_ptr<void> pointer;
  std::type_index type = typeid(void);
  bool operator==(const ObjectRef& other) const { return pointer == other.pointer; }
};

class Value {
 public:
  enum class Kind { Null, Bool, Integer, Double, Text, Bytes, Date, Array, Dictionary, Object };

  Value() = default;
  Value(std::nullptr_t) {}
  Value(bool b) : v_(b) {}
  Value(int i) : v_(std::int64_t{i}) {}
  Value(unsigned i) : v_(std::int64_t{i}) {}
  Value(long i) : v_(std::int64_t{i}) {}
  Value(long long i) : v_(std::int64_t{i}) {}
  Value(unsigned long i) : v_(static_cast<std::int64_t>(i)) {}
  Value(unsigned long long i) : v_(static_cast<std::int64_t>(i)) {}
  Value(double d) : v_(d) {}
  Value(const char* s) : v_(std::string(s)) {}
  Value(std::string s) : v_(std::move(s)) {}
  Value(std::string_view s) : v_(std::string(s)) {}
  Value(platform::Bytes b) : v_(std::move(b)) {}
  Value(platform::Date d) : v_(d) {}
  Value(platform::Array a) : v_(std::move(a)) {}
  Value(platform::Dictionary d) : v_(std::move(d)) {}
  Value(ObjectRef o) : v_(std::move(o)) {}

  // Wraps a shared object; null pointers make a null value.
  template <class T>
  static Value object(std::shared_ptr<T> p) {
    if (!p) return Value();
    return Value(ObjectRef{
        std::static_pointer_cast<void>(std::const_pointer_cast<std::remove_const_t<T>>(p)),
        typeid(std::remove_const_t<T>)});
  }

  Kind kind() const { return static_cast<Kind>(v_.index()); }
  bool isNull() const { return kind() == Kind::Null; }
  bool isNumber() const {
    return kind() == Kind::Integer || kind() == Kind::Double || kind() == Kind::Bool;
  }

  // Exact reads: absent unless the value is of that kind (an integer also reads as a double).
  std::optional<bool> asBool() const;
  std::optional<std::int64_t> asInteger() const;
  std::optional<double> asDouble() const;
  const std::string* asText() const;
  const platform::Bytes* asBytes() const;
  std::optional<platform::Date> asDate() const;
  const platform::Array* asArray() const;
  const platform::Dictionary* asDictionary() const;
  platform::Array* asArray();
  platform::Dictionary* asDictionary();

  // The object if this holds one of exactly class T, else null.
  template <class T>
  std::shared_ptr<T> object() const {
    auto* o = std::get_if<ObjectRef>(&v_);
    if (!o || o->type != typeid(T)) return nullptr;
    return std::static_pointer_cast<T>(o->pointer);
  }
  // Identity of a held object (for sender filters), or null.
  const void* identity() const;

  // Platform conversions: numbers and texts convert, anything else gives 0 / false.
  std::int64_t integerValue() const;
  int intValue() const { return static_cast<int>(integerValue()); }
  double doubleValue() const;
  bool boolValue() const;
  // A text for texts and numbers (integral doubles without ".0"), empty otherwise.
  std::string stringValue() const;

  // Dictionary member, or a null value when this is not a dictionary or has no such key.
  const Value& operator[](const std::string& key) const;

  // A readable rendering for logs and test failures.
  std::string description() const;

  bool operator==(const Value& other) const { return v_ == other.v_; }

 private:
  std::variant<std::monostate, bool, std::int64_t, double, std::string, platform::Bytes,
               platform::Date, platform::Array, platform::Dictionary, ObjectRef>
      v_;
};

// The value a dictionary holds for `key`, if any.
const Value* find(const Dictionary& dictionary, const std::string& key);

// Platform text-to-number conversions: skip leading white space, optional sign, then digits;
// nothing that converts gives 0.
std::int64_t leadingInteger(std::string_view text);
double leadingDouble(std::string_view text);

// A number as the platform prints it: integers plainly, doubles with up to 17 significant
// digits and without a trailing ".0" when integral.
std::string formatNumber(double d);

}  // namespace platform
