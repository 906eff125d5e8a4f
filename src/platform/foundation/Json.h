#pragma once
// Reading loosely typed JSON answers the way the platform's number and text conversions do.
// A member of the wrong type reads as absent, never as a crash: `intValue` of a text takes its
// leading integer, `stringValue` of a number prints it (integral doubles without ".0"), and
// arrays, objects and null read as absent where a scalar is expected. A number outside the
// 64-bit signed range reads as absent where an integer is expected, never as a wrapped value.
//
// JSON from outside is nested at most `kMaxDepth` arrays and objects deep: `parse` refuses a
// deeper text as it reads it, before anything deep is built, and `toValue` refuses a deeper
// document, so nothing that walks a decoded answer recursively can run out of stack.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"

namespace platform {

class Json {
 public:
  using json = nlohmann::json;

  // Arrays and objects nested deeper than this are undecodable. Real answers nest fewer than
  // ten levels; the bound keeps recursive walks well inside a worker thread's stack.
  static constexpr int kMaxDepth = 256;

  // The member `key` of an object, or null when `j` is not an object or has no such member.
  static const json* member(const json& j, const std::string& key);

  static std::optional<std::int64_t> intValue(const json& j);
  static std::optional<double> doubleValue(const json& j);
  static std::optional<bool> boolValue(const json& j);
  static std::optional<std::string> stringValue(const json& j);
  // Arrays and objects only for exactly that type.
  static const json* arrayValue(const json& j);
  static const json* objectValue(const json& j);

  // Same, reading the member `key` of an object.
  static std::optional<std::int64_t> intValue(const json& j, const std::string& key);
  static std::optional<double> doubleValue(const json& j, const std::string& key);
  static std::optional<bool> boolValue(const json& j, const std::string& key);
  static std::optional<std::string> stringValue(const json& j, const std::string& key);
  static const json* arrayValue(const json& j, const std::string& key);
  static const json* objectValue(const json& j, const std::string& key);

  // Parses `text`; absent for text that is not JSON or nests deeper than `kMaxDepth` (never
  // throws).
  static std::optional<json> parse(std::string_view text);

  // How an integer above the signed 64-bit range converts to a Value: as null, where a number
  // that does not fit must never stand for another (an id), or as the nearest double, where it
  // is only a value among others (a default container's constants).
  enum class WideIntegers { AsNull, AsDouble };

  // Conversions between JSON and Value (null, bool, numbers, texts, arrays, objects). Bytes are
  // written as Base64 text, dates as seconds since 1970, objects as null. A document nested
  // deeper than `kMaxDepth` reads as null whole; an integer above the signed range as `wide`
  // says.
  static Value toValue(const json& j, WideIntegers wide = WideIntegers::AsNull);
  static json fromValue(const Value& v);
};

}  // namespace platform
