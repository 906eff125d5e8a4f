#pragma once
// SQLArgument: one C++ argument of the variadic query and update forms, as the access layer binds
// it. The positional forms bind `value()`; the printf-like forms also need to know which C kind
// the argument was (signed, unsigned, floating, text or object) to check it against its
// specifier.
//
// Conversions of `value()`, chosen so that every stored value keeps its meaning:
//   nullptr, std::nullopt, a null `const char*`     NULL
//   bool, char, signed char                         integer 1 or 0 (the value's truth)
//   int, long, long long                            64-bit integer
//   unsigned types, short, unsigned short           text of the decimal number
//   float, double                                   double
//   texts (const char*, std::string, string_view)   UTF-8 text
//   platform::Bytes / Date / Value ...              as the Value binding rules say
//   std::optional<T>                                NULL when empty, else T's conversion
// Any other type does not compile.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include "platform/foundation/Value.h"

class SQLArgument {
 public:
  enum class Kind { Signed, Unsigned, Floating, Text, Object };

  template <class T>
  static SQLArgument from(const T& argument);
  // The argument as a positional form binds it.
  template <class T>
  static platform::Value toValue(const T& argument);

  Kind kind() const { return kind_; }
  const platform::Value& value() const { return value_; }
  std::int64_t signedValue() const { return signed_; }
  std::uint64_t unsignedValue() const { return unsigned_; }
  double floatingValue() const { return floating_; }

 private:
  template <class T>
  struct IsOptional : std::false_type {};
  template <class T>
  struct IsOptional<std::optional<T>> : std::true_type {};

  SQLArgument(Kind kind, platform::Value value) : kind_(kind), value_(std::move(value)) {}

  Kind kind_;
  platform::Value value_;
  std::int64_t signed_ = 0;
  std::uint64_t unsigned_ = 0;
  double floating_ = 0;
};

template <class T>
platform::Value SQLArgument::toValue(const T& argument) {
  using U = std::remove_cvref_t<T>;
  if constexpr (std::is_same_v<U, std::nullptr_t> || std::is_same_v<U, std::nullopt_t>) {
    return platform::Value();
  } else if constexpr (IsOptional<U>::value) {
    return argument ? toValue(*argument) : platform::Value();
  } else if constexpr (std::is_same_v<U, bool> || std::is_same_v<U, char> ||
                       std::is_same_v<U, signed char>) {
    return platform::Value(argument != 0);
  } else if constexpr (std::is_integral_v<U> && std::is_signed_v<U> && sizeof(U) >= sizeof(int)) {
    return platform::Value(static_cast<long long>(argument));
  } else if constexpr (std::is_integral_v<U>) {
    return platform::Value(std::to_string(argument));
  } else if constexpr (std::is_floating_point_v<U>) {
    return platform::Value(static_cast<double>(argument));
  } else if constexpr (std::is_same_v<U, const char*> || std::is_same_v<U, char*>) {
    return argument ? platform::Value(std::string(argument)) : platform::Value();
  } else if constexpr (std::is_convertible_v<const U&, std::string_view>) {
    return platform::Value(std::string_view(argument));
  } else if constexpr (std::is_same_v<U, platform::Value>) {
    return argument;
  } else if constexpr (std::is_constructible_v<platform::Value, const U&>) {
    return platform::Value(argument);
  } else {
    static_assert(sizeof(U) == 0, "this type cannot be bound to an SQL parameter");
  }
}

template <class T>
SQLArgument SQLArgument::from(const T& argument) {
  using U = std::remove_cvref_t<T>;
  if constexpr (IsOptional<U>::value) {
    if (argument) return from(*argument);
    return SQLArgument(Kind::Object, platform::Value());
  } else if constexpr (std::is_integral_v<U>) {
    bool isSigned = std::is_signed_v<U> || std::is_same_v<U, bool> || std::is_same_v<U, char>;
    SQLArgument a(isSigned ? Kind::Signed : Kind::Unsigned, toValue(argument));
    a.signed_ = static_cast<std::int64_t>(argument);
    a.unsigned_ = static_cast<std::uint64_t>(argument);
    return a;
  } else if constexpr (std::is_floating_point_v<U>) {
    SQLArgument a(Kind::Floating, toValue(argument));
    a.floating_ = static_cast<double>(argument);
    return a;
  } else if constexpr (std::is_same_v<U, const char*> || std::is_same_v<U, char*> ||
                       std::is_convertible_v<const U&, std::string_view>) {
    return SQLArgument(Kind::Text, toValue(argument));
  } else {
    return SQLArgument(Kind::Object, toValue(argument));
  }
}
