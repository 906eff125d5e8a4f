#include "tagmanager/macros/TAGJoinerMacro.h"

#include <algorithm>
#include <optional>

#include "tagmanager/base/TAGLog.h"
#include "tagmanager/values/TAGTypes.h"
#include "tagmanager/values/TAGValueEscapeUtil.h"

namespace {

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
  std::size_t position = 0;
  while ((position = text.find(from, position)) != std::string::npos) {
    text.replace(position, from.size(), to);
    position += to.size();
  }
}

// The byte length of the UTF-8 sequence that starts with `lead` (1 for a stray byte).
std::size_t sequenceLength(unsigned char lead) {
  if (lead >= 0xF0 && lead < 0xF8) return 4;
  if (lead >= 0xE0) return lead < 0xF0 ? 3 : 1;
  if (lead >= 0xC0) return 2;
  return 1;
}

}  // namespace

void TAGJoinerMacro::addTo(std::set<std::string>& set, const std::string& text) {
  for (std::size_t i = 0; i < text.size();) {
    std::size_t length =
        std::min(sequenceLength(static_cast<unsigned char>(text[i])), text.size() - i);
    set.insert(text.substr(i, length));
    i += length;
  }
}

std::optional<std::string> TAGJoinerMacro::escape(
    const std::string& text, EscapeType escapeType,
    const std::set<std::string>& charsToBackslashEscape) {
  switch (escapeType) {
    case EscapeType::None:
      return text;
    case EscapeType::Url:
      return TAGValueEscapeUtil::urlEncode(text);
    case EscapeType::Backslash: {
      std::string escaped = text;
      replaceAll(escaped, "\\", "\\\\");
      for (const auto& c : charsToBackslashEscape) replaceAll(escaped, c, "\\" + c);
      return escaped;
    }
  }
  return text;
}

TAGPValue::Ref TAGJoinerMacro::evaluate(const TAGPropertyMap& parameters) {
  std::string itemSeparator;
  if (auto value = propertyOf(parameters, itemSeparatorKey())) {
    itemSeparator = *TAGTypes::valueToString(value);
  }
  std::string keyValueSeparator = "=";
  if (auto value = propertyOf(parameters, keyValueSeparatorKey())) {
    keyValueSeparator = *TAGTypes::valueToString(value);
  }
  EscapeType escapeType = EscapeType::None;
  std::set<std::string> charsToEscape;
  if (auto value = propertyOf(parameters, escapeKey())) {
    std::string kind = *TAGTypes::valueToString(value);
    if (kind == "url") {
      escapeType = EscapeType::Url;
    } else if (kind == "backslash") {
      escapeType = EscapeType::Backslash;
      addTo(charsToEscape, itemSeparator);
      addTo(charsToEscape, keyValueSeparator);
      charsToEscape.erase("\\");
    } else {
      TAGLog::error("Joiner: unsupported escape type");
      return TAGTypes::defaultValue();
    }
  }

  bool failed = false;
  auto escaped = [&](const TAGPValue::Ref& value) {
    auto text = escape(*TAGTypes::valueToString(value), escapeType, charsToEscape);
    if (!text) failed = true;
    return text.value_or(std::string());
  };
  TAGPValue::Ref arg0 = propertyOf(parameters, arg0Key());
  std::string joined;
  if (arg0 && arg0->type() == TAGPValue_Type::List) {
    const auto& items = arg0->listItemArray();
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (i > 0) joined += itemSeparator;
      joined += escaped(items[i]);
    }
  } else if (arg0 && arg0->type() == TAGPValue_Type::Map) {
    const auto& keys = arg0->mapKeyArray();
    const auto& values = arg0->mapValueArray();
    for (std::size_t i = 0; i < keys.size(); ++i) {
      if (i > 0) joined += itemSeparator;
      joined += escaped(keys[i]) + keyValueSeparator;
      if (i < values.size()) joined += escaped(values[i]);
    }
  } else {
    joined = escaped(arg0);
  }
  if (failed) return TAGTypes::defaultValue();
  return TAGTypes::objectToValue(TAGObject::string(std::move(joined)));
}
