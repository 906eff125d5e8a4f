#include "tagmanager/values/TAGValueEscapeUtil.h"

#include "platform/foundation/Utf8.h"
#include "tagmanager/base/TAGLog.h"
#include "tagmanager/values/TAGTypes.h"

namespace {

bool isUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

TAGValueEscapeUtil::Holder TAGValueEscapeUtil::applyEscapings(
    const std::vector<std::int32_t>& escapings, Holder value) {
  for (std::int32_t escaping : escapings) value = applyEscaping(escaping, std::move(value));
  return value;
}

TAGValueEscapeUtil::Holder TAGValueEscapeUtil::applyEscaping(std::int32_t escaping, Holder value) {
  if (!value->value() || !isValidStringType(*value->value())) {
    TAGLog::error("Escaping can only be applied to strings.");
    return value;
  }
  if (escaping == static_cast<std::int32_t>(TAGPValue_Escaping::EscapeUri)) return escapeUri(value);
  TAGLog::error("Unsupported Value Escaping: " + std::to_string(escaping));
  return value;
}

TAGValueEscapeUtil::Holder TAGValueEscapeUtil::escapeUri(const Holder& value) {
  std::optional<std::string> encoded = urlEncode(value->value()->string());
  TAGObject object = encoded ? TAGObject::string(std::move(*encoded)) : TAGObject();
  return TAGPValueAndStatic::valueWithValue(TAGTypes::objectToValue(object), value->isStatic());
}

std::optional<std::string> TAGValueEscapeUtil::urlEncode(std::string_view text) {
  if (!platform::isValidUtf8(text)) return std::nullopt;
  static const char* const kDigits = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (isUnreserved(byte)) {
      out += c;
    } else {
      out += '%';
      out += kDigits[byte >> 4];
      out += kDigits[byte & 0xF];
    }
  }
  return out;
}

std::optional<std::string> TAGValueEscapeUtil::urlDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    int high = hexValue(text[i + 1]);
    int low = hexValue(text[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  if (!platform::isValidUtf8(out)) return std::nullopt;
  return out;
}

bool TAGValueEscapeUtil::isValidStringType(const TAGPValue& value) {
  return value.hasType() && value.type() == TAGPValue_Type::String && value.hasString();
}
