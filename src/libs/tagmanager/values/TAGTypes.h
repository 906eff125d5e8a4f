#pragma once
// TAGTypes: the tag manager's conversions between value nodes (TAGPValue) and plain objects
// (TAGObject), and from either into strings, numbers and booleans.
//
// No conversion throws. A failure is logged at error level through TAGLog and answered with a
// shared default instance (the "default" accessors, made once and kept for the process), which
// callers recognise by identity, never by contents: `parseNumber` answers `defaultNumber()`
// itself, `objectToValue` answers `defaultValue()` itself, and `objectToString` of none answers
// `defaultString()` itself. A conversion that succeeds makes a new object or hands its argument
// back, so an empty string, a zero or a NO it produces is not a failure.
//
// Numbers: a platform number of kind Integer or Bool, and a TAGTypedNumber of the int64 form,
// are int64-able; a platform Double and a TAGTypedNumber of the double form are double-able.
// Nothing else is either. Doubles travel in value nodes as text.
//
// Stateless apart from the defaults; any thread may call.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tagmanager/values/TAGObject.h"

class TAGTypes {
 public:
  TAGTypes() = delete;

  // The shared defaults. `defaultValue` is a String node holding "" (made by objectToValue of
  // defaultString); `defaultBoolean` is a NO of its own, not TAGBoolean::no().
  static const TAGObject& defaultObject();
  static const TAGObject& defaultInt64();
  static const TAGObject& defaultDouble();
  static const std::shared_ptr<const TAGTypedNumber>& defaultNumber();
  static const TAGString& defaultString();
  static const std::shared_ptr<const TAGBoolean>& defaultBoolean();
  static const TAGObject& defaultList();
  static const TAGObject& defaultMap();
  static const TAGPValue::Ref& defaultValue();

  // Lists as "[a, 1, [b]]", maps as "{k=v, ...}", platform numbers by their digits (a platform
  // boolean as "1" or "0"), anything else by its description.
  static TAGString objectToString(const TAGObject& object);
  static std::shared_ptr<const TAGTypedNumber> objectToNumber(const TAGObject& object);
  // Platform numbers (an Integer, a Double).
  static TAGObject objectToInt64(const TAGObject& object);
  static TAGObject objectToDouble(const TAGObject& object);
  static std::shared_ptr<const TAGBoolean> objectToBoolean(const TAGObject& object);

  // None for a null node, a macro reference, a function id, or a list, map or template holding
  // any of these.
  static TAGObject valueToObject(const TAGPValue::Ref& value);
  static TAGString valueToString(const TAGPValue::Ref& value);
  static std::shared_ptr<const TAGTypedNumber> valueToNumber(const TAGPValue::Ref& value);
  static TAGObject valueToInt64(const TAGPValue::Ref& value);
  static TAGObject valueToDouble(const TAGPValue::Ref& value);
  static std::shared_ptr<const TAGBoolean> valueToBoolean(const TAGPValue::Ref& value);

  static TAGPValue::Ref objectToValue(const TAGObject& object);

  static TAGPValue::Ref functionIdToValue(const std::string& functionId);
  static TAGPValue::Ref macroReferenceToValue(const std::string& name);
  // A MacroReference node that contains references and carries `escapings` (when given).
  static TAGPValue::Ref macroReferenceToValue(const std::string& name,
                                              std::optional<std::vector<std::int32_t>> escapings);
  static TAGPValue::Ref templateToValue(const std::vector<TAGPValue::Ref>& tokens);

  static bool isInt64ableNumber(const TAGObject& object);
  static bool isDoubleableNumber(const TAGObject& object);
  // 0 (0.0), with an error logged, for an object that is no number.
  static std::int64_t getInt64(const TAGObject& object);
  static double getDouble(const TAGObject& object);

  static std::shared_ptr<const TAGTypedNumber> parseNumber(std::string_view text);
  static TAGObject parseInt64(std::string_view text);
  static TAGObject parseDouble(std::string_view text);
  static std::shared_ptr<const TAGBoolean> parseBoolean(std::string_view text);
};
