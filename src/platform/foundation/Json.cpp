#include "platform/foundation/Json.h"

#include <cmath>

#include "platform/foundation/Base64.h"

namespace platform {

using json = nlohmann::json;

const json* Json::member(const json& j, const std::string& key) {
  if (!j.is_object()) return nullptr;
  auto it = j.find(key);
  return it == j.end() ? nullptr : &*it;
}

std::optional<std::int64_t> Json::intValue(const json& j) {
  if (j.is_number_integer()) return j.get<std::int64_t>();
  if (j.is_number_unsigned()) return static_cast<std::int64_t>(j.get<std::uint64_t>());
  if (j.is_number_float()) return Value(j.get<double>()).integerValue();
  if (j.is_boolean()) return j.get<bool>() ? 1 : 0;
  if (j.is_string()) return leadingInteger(j.get_ref<const std::string&>());
  return std::nullopt;
}

std::optional<double> Json::doubleValue(const json& j) {
  if (j.is_number()) return j.get<double>();
  if (j.is_boolean()) return j.get<bool>() ? 1.0 : 0.0;
  if (j.is_string()) return leadingDouble(j.get_ref<const std::string&>());
  return std::nullopt;
}

std::optional<bool> Json::boolValue(const json& j) {
  if (j.is_boolean()) return j.get<bool>();
  if (j.is_number_float()) return j.get<double>() != 0.0;
  if (j.is_number() || j.is_string()) return toValue(j).boolValue();
  return std::nullopt;
}

std::optional<std::string> Json::stringValue(const json& j) {
  if (j.is_string()) return j.get<std::string>();
  if (j.is_number_integer()) return std::to_string(j.get<std::int64_t>());
  if (j.is_number_unsigned()) return std::to_string(j.get<std::uint64_t>());
  if (j.is_number_float()) return formatNumber(j.get<double>());
  if (j.is_boolean()) return j.get<bool>() ? "1" : "0";
  return std::nullopt;
}

const json* Json::arrayValue(const json& j) { return j.is_array() ? &j : nullptr; }
const json* Json::objectValue(const json& j) { return j.is_object() ? &j : nullptr; }

template <class R, class F>
static R onMember(const json& j, const std::string& key, F f) {
  const json* m = Json::member(j, key);
  if (!m) return R{};
  return f(*m);
}

std::optional<std::int64_t> Json::intValue(const json& j, const std::string& key) {
  return onMember<std::optional<std::int64_t>>(j, key, [](const json& m) { return intValue(m); });
}
std::optional<double> Json::doubleValue(const json& j, const std::string& key) {
  return onMember<std::optional<double>>(j, key, [](const json& m) { return doubleValue(m); });
}
std::optional<bool> Json::boolValue(const json& j, const std::string& key) {
  return onMember<std::optional<bool>>(j, key, [](const json& m) { return boolValue(m); });
}
std::optional<std::string> Json::stringValue(const json& j, const std::string& key) {
  return onMember<std::optional<std::string>>(j, key, [](const json& m) { return stringValue(m); });
}
const json* Json::arrayValue(const json& j, const std::string& key) {
  return onMember<const json*>(j, key, [](const json& m) { return arrayValue(m); });
}
const json* Json::objectValue(const json& j, const std::string& key) {
  return onMember<const json*>(j, key, [](const json& m) { return objectValue(m); });
}

std::optional<json> Json::parse(std::string_view text) {
  json j = json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
  if (j.is_discarded()) return std::nullopt;
  return j;
}

Value Json::toValue(const json& j) {
  switch (j.type()) {
    case json::value_t::boolean:
      return Value(j.get<bool>());
    case json::value_t::number_integer:
      return Value(j.get<std::int64_t>());
    case json::value_t::number_unsigned:
      return Value(static_cast<std::int64_t>(j.get<std::uint64_t>()));
    case json::value_t::number_float:
      return Value(j.get<double>());
    case json::value_t::string:
      return Value(j.get<std::string>());
    case json::value_t::array: {
      Array a;
      a.reserve(j.size());
      for (const auto& e : j) a.push_back(toValue(e));
      return Value(std::move(a));
    }
    case json::value_t::object: {
      Dictionary d;
      for (auto it = j.begin(); it != j.end(); ++it) d.emplace(it.key(), toValue(it.value()));
      return Value(std::move(d));
    }
    default:
      return Value();
  }
}

json Json::fromValue(const Value& v) {
  switch (v.kind()) {
    case Value::Kind::Bool:
      return *v.asBool();
    case Value::Kind::Integer:
      return *v.asInteger();
    case Value::Kind::Double:
      return *v.asDouble();
    case Value::Kind::Text:
      return *v.asText();
    case Value::Kind::Bytes:
      return base64Encode(*v.asBytes());
    case Value::Kind::Date:
      return toSeconds(*v.asDate());
    case Value::Kind::Array: {
      json a = json::array();
      for (const auto& e : *v.asArray()) a.push_back(fromValue(e));
      return a;
    }
    case Value::Kind::Dictionary: {
      json o = json::object();
      for (const auto& [k, e] : *v.asDictionary()) o[k] = fromValue(e);
      return o;
    }
    default:
      return nullptr;
  }
}

}  // namespace platform
