#include "platform/foundation/Json.h"

#include "platform/foundation/Base64.h"

namespace platform {

using json = nlohmann::json;

const json* Json::member(const json& j, const std::string& key) {
  if (!j.is_object()) return nullptr;
  auto it = j.find(key);
  return it == j.end() ? nullptr : &*it;
}

namespace {

// 2^63, the first double past the signed 64-bit range (exactly representable).
constexpr double kInt64Limit = 9223372036854775808.0;

// The integer a JSON number stands for (a float truncated), absent when it lies outside the
// signed 64-bit range: a wrapped or saturated id would name some other record.
// (nlohmann counts unsigned numbers as integers too, so they are asked for first.)
std::optional<std::int64_t> integerOfNumber(const json& j) {
  if (j.is_number_unsigned()) {
    auto u = j.get<std::uint64_t>();
    if (u > static_cast<std::uint64_t>(INT64_MAX)) return std::nullopt;
    return static_cast<std::int64_t>(u);
  }
  if (j.is_number_integer()) return j.get<std::int64_t>();
  if (j.is_number_float()) {
    double d = j.get<double>();
    if (!(d >= -kInt64Limit && d < kInt64Limit)) return std::nullopt;  // NaN fails too
    return static_cast<std::int64_t>(d);
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::int64_t> Json::intValue(const json& j) {
  if (j.is_number()) return integerOfNumber(j);
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
  if (j.is_number_unsigned()) return j.get<std::uint64_t>() != 0;
  if (j.is_number_integer()) return j.get<std::int64_t>() != 0;
  if (j.is_string()) return Value(j.get<std::string>()).boolValue();
  return std::nullopt;
}

std::optional<std::string> Json::stringValue(const json& j) {
  if (j.is_string()) return j.get<std::string>();
  if (j.is_number_unsigned()) return std::to_string(j.get<std::uint64_t>());
  if (j.is_number_integer()) return std::to_string(j.get<std::int64_t>());
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
  // The parser builds documents without recursing, but what walks them afterwards does: a
  // container that opens below the bound is discarded as it is read (nothing of it is built)
  // and the whole text is refused.
  bool tooDeep = false;
  json::parser_callback_t refuseDeep = [&tooDeep](int depth, json::parse_event_t event, json&) {
    bool opens =
        event == json::parse_event_t::object_start || event == json::parse_event_t::array_start;
    if (!opens || depth < kMaxDepth) return true;
    tooDeep = true;
    return false;
  };
  json j = json::parse(text.begin(), text.end(), refuseDeep, /*allow_exceptions=*/false);
  if (tooDeep || j.is_discarded()) return std::nullopt;
  return j;
}

namespace {

// `j` as a Value, absent when it nests deeper than `Json::kMaxDepth` counting from `depth`.
std::optional<Value> boundedValue(const json& j, int depth, Json::WideIntegers wide) {
  switch (j.type()) {
    case json::value_t::boolean:
      return Value(j.get<bool>());
    case json::value_t::number_integer:
    case json::value_t::number_unsigned:
      if (auto i = integerOfNumber(j)) return Value(*i);
      if (wide == Json::WideIntegers::AsDouble) return Value(j.get<double>());
      return Value();
    case json::value_t::number_float:
      return Value(j.get<double>());
    case json::value_t::string:
      return Value(j.get<std::string>());
    case json::value_t::array: {
      if (depth >= Json::kMaxDepth) return std::nullopt;
      Array a;
      a.reserve(j.size());
      for (const auto& e : j) {
        auto v = boundedValue(e, depth + 1, wide);
        if (!v) return std::nullopt;
        a.push_back(std::move(*v));
      }
      return Value(std::move(a));
    }
    case json::value_t::object: {
      if (depth >= Json::kMaxDepth) return std::nullopt;
      Dictionary d;
      for (auto it = j.begin(); it != j.end(); ++it) {
        auto v = boundedValue(it.value(), depth + 1, wide);
        if (!v) return std::nullopt;
        d.emplace(it.key(), std::move(*v));
      }
      return Value(std::move(d));
    }
    default:
      return Value();
  }
}

}  // namespace

Value Json::toValue(const json& j, WideIntegers wide) {
  return boundedValue(j, 0, wide).value_or(Value());
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
