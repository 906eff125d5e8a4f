#pragma once
// TAGJoinerMacro ("_jn"): "arg0" joined into one text: a list's items with "item_separator"
// between them (none unless given), a map's entries as key, "key_value_separator" ("=" unless
// given) and value, joined the same way; anything else is its own text. "escape" escapes every
// key, value and item before joining: "url" percent-encodes, "backslash" puts a backslash before
// every backslash and every character of the two separators; any other kind gives the default
// value with an error line. Any thread.

#include <optional>
#include <set>
#include <string>

#include "tagmanager/runtime/TAGFunctionCallImplementation.h"

class TAGJoinerMacro : public TAGFunctionCallImplementation {
 public:
  enum class EscapeType { None, Url, Backslash };

  static const char* functionId() { return "_jn"; }
  static const char* arg0Key() { return "arg0"; }
  static const char* itemSeparatorKey() { return "item_separator"; }
  static const char* keyValueSeparatorKey() { return "key_value_separator"; }
  static const char* escapeKey() { return "escape"; }
  TAGJoinerMacro()
      : TAGFunctionCallImplementation(functionId(), std::set<std::string>{arg0Key()}) {}

  bool isCacheable() const override { return true; }
  TAGPValue::Ref evaluate(const TAGPropertyMap& parameters) override;

  // Null when URL escaping meets text that is not UTF-8.
  static std::optional<std::string> escape(const std::string& text, EscapeType escapeType,
                                           const std::set<std::string>& charsToBackslashEscape);
  // Adds every character (UTF-8 sequence) of `text` to `set` as a text of its own.
  static void addTo(std::set<std::string>& set, const std::string& text);
};
