#include "tagmanager/values/TAGTypes.h"

#include "tagmanager/base/TAGLog.h"

namespace {

using Kind = TAGObject::Kind;

bool isIntegerNumber(const platform::Value& number) {
  return number.kind() != platform::Value::Kind::Double;
}

TAGPValue::Ref stringValue(std::string text) {
  return TAGPValue::Builder().setType(TAGPValue_Type::String).setString(std::move(text)).build();
}

}  // namespace

const TAGObject& TAGTypes::defaultObject() {
  static const TAGObject instance;
  return instance;
}

const TAGObject& TAGTypes::defaultInt64() {
  static const TAGObject instance = TAGObject::number(platform::Value(std::int64_t{0}));
  return instance;
}

const TAGObject& TAGTypes::defaultDouble() {
  static const TAGObject instance = TAGObject::number(platform::Value(0.0));
  return instance;
}

const std::shared_ptr<const TAGTypedNumber>& TAGTypes::defaultNumber() {
  static const std::shared_ptr<const TAGTypedNumber> instance = TAGTypedNumber::numberWithInt64(0);
  return instance;
}

const TAGString& TAGTypes::defaultString() {
  static const TAGString instance = std::make_shared<const std::string>();
  return instance;
}

const std::shared_ptr<const TAGBoolean>& TAGTypes::defaultBoolean() {
  static const std::shared_ptr<const TAGBoolean> instance = TAGBoolean::booleanWithBool(false);
  return instance;
}

const TAGObject& TAGTypes::defaultList() {
  static const TAGObject instance = TAGObject::list({});
  return instance;
}

const TAGObject& TAGTypes::defaultMap() {
  static const TAGObject instance = TAGObject::map({});
  return instance;
}

const TAGPValue::Ref& TAGTypes::defaultValue() {
  static const TAGPValue::Ref instance = objectToValue(TAGObject(defaultString()));
  return instance;
}

TAGString TAGTypes::objectToString(const TAGObject& object) {
  switch (object.kind()) {
    case Kind::None:
      return defaultString();
    case Kind::String:
      return object.stringObject();
    case Kind::List: {
      std::string text = "[";
      bool first = true;
      for (const auto& item : *object.list()) {
        if (!first) text += ", ";
        text += *objectToString(item);
        first = false;
      }
      return std::make_shared<const std::string>(text + "]");
    }
    case Kind::Map: {
      std::string text = "{";
      bool first = true;
      for (const auto& [key, item] : *object.map()) {
        if (!first) text += ", ";
        text += *objectToString(key) + "=" + *objectToString(item);
        first = false;
      }
      return std::make_shared<const std::string>(text + "}");
    }
    case Kind::Number:
      return std::make_shared<const std::string>(object.number()->stringValue());
    default:
      return std::make_shared<const std::string>(object.description());
  }
}

std::shared_ptr<const TAGTypedNumber> TAGTypes::objectToNumber(const TAGObject& object) {
  if (auto number = object.typedNumber()) return number;
  if (isInt64ableNumber(object)) return TAGTypedNumber::numberWithInt64(getInt64(object));
  if (isDoubleableNumber(object)) return TAGTypedNumber::numberWithDouble(getDouble(object));
  return parseNumber(*objectToString(object));
}

TAGObject TAGTypes::objectToInt64(const TAGObject& object) {
  if (isInt64ableNumber(object)) return TAGObject::number(platform::Value(getInt64(object)));
  return parseInt64(*objectToString(object));
}

TAGObject TAGTypes::objectToDouble(const TAGObject& object) {
  if (isDoubleableNumber(object)) return TAGObject::number(platform::Value(getDouble(object)));
  return parseDouble(*objectToString(object));
}

std::shared_ptr<const TAGBoolean> TAGTypes::objectToBoolean(const TAGObject& object) {
  if (auto boolean = object.boolean()) return boolean;
  return parseBoolean(*objectToString(object));
}

TAGObject TAGTypes::valueToObject(const TAGPValue::Ref& value) {
  if (!value) return TAGObject();
  switch (value->type()) {
    case TAGPValue_Type::String:
      return TAGObject::string(value->string());
    case TAGPValue_Type::List: {
      TAGObject::List items;
      for (const auto& item : value->listItemArray()) {
        TAGObject object = valueToObject(item);
        if (object.isNone()) return TAGObject();
        items.push_back(std::move(object));
      }
      return TAGObject::list(std::move(items));
    }
    case TAGPValue_Type::Map: {
      const auto& keys = value->mapKeyArray();
      const auto& values = value->mapValueArray();
      if (keys.size() != values.size()) {
        TAGLog::error("Converting an invalid value to object: " + value->description());
        return TAGObject();
      }
      TAGObject::Map entries;
      for (std::size_t i = 0; i < keys.size(); ++i) {
        TAGObject key = valueToObject(keys[i]);
        TAGObject object = valueToObject(values[i]);
        if (key.isNone() || object.isNone()) return TAGObject();
        entries.insert_or_assign(std::move(key), std::move(object));
      }
      return TAGObject::map(std::move(entries));
    }
    case TAGPValue_Type::MacroReference:
      TAGLog::error("Trying to convert a macro reference to object");
      return TAGObject();
    case TAGPValue_Type::FunctionId:
      TAGLog::error("Trying to convert a function ID to object");
      return TAGObject();
    case TAGPValue_Type::Integer:
      return TAGObject(TAGTypedNumber::numberWithInt64(value->integer()));
    case TAGPValue_Type::Template: {
      std::string text;
      for (const auto& token : value->templateTokenArray()) {
        TAGString part = valueToString(token);
        if (part == defaultString()) return TAGObject();
        text += *part;
      }
      return TAGObject::string(std::move(text));
    }
    case TAGPValue_Type::Boolean:
      return TAGObject(TAGBoolean::booleanWithBool(value->boolean()));
  }
  TAGLog::error("Failed to convert a value of type: " +
                std::to_string(static_cast<std::int32_t>(value->type())));
  return TAGObject();
}

TAGString TAGTypes::valueToString(const TAGPValue::Ref& value) {
  return objectToString(valueToObject(value));
}

std::shared_ptr<const TAGTypedNumber> TAGTypes::valueToNumber(const TAGPValue::Ref& value) {
  return objectToNumber(valueToObject(value));
}

TAGObject TAGTypes::valueToInt64(const TAGPValue::Ref& value) {
  return objectToInt64(valueToObject(value));
}

TAGObject TAGTypes::valueToDouble(const TAGPValue::Ref& value) {
  return objectToDouble(valueToObject(value));
}

std::shared_ptr<const TAGBoolean> TAGTypes::valueToBoolean(const TAGPValue::Ref& value) {
  return objectToBoolean(valueToObject(value));
}

TAGPValue::Ref TAGTypes::objectToValue(const TAGObject& object) {
  switch (object.kind()) {
    case Kind::Value:
      return object.value();
    case Kind::String:
      return stringValue(*object.stringObject());
    case Kind::List: {
      TAGPValue::Builder builder;
      builder.setType(TAGPValue_Type::List);
      bool containsReferences = false;
      for (const auto& item : *object.list()) {
        TAGPValue::Ref value = objectToValue(item);
        if (value == defaultValue()) return defaultValue();
        containsReferences = containsReferences || value->containsReferences();
        builder.addListItem(std::move(value));
      }
      if (containsReferences) builder.setContainsReferences(true);
      return builder.build();
    }
    case Kind::Map: {
      TAGPValue::Builder builder;
      builder.setType(TAGPValue_Type::Map);
      bool containsReferences = false;
      for (const auto& [key, item] : *object.map()) {
        TAGPValue::Ref keyValue = objectToValue(key);
        TAGPValue::Ref itemValue = objectToValue(item);
        if (keyValue == defaultValue() || itemValue == defaultValue()) return defaultValue();
        containsReferences =
            containsReferences || keyValue->containsReferences() || itemValue->containsReferences();
        builder.addMapKey(std::move(keyValue));
        builder.addMapValue(std::move(itemValue));
      }
      if (containsReferences) builder.setContainsReferences(true);
      return builder.build();
    }
    default:
      break;
  }
  if (isDoubleableNumber(object)) return stringValue(object.description());
  if (isInt64ableNumber(object)) {
    return TAGPValue::Builder()
        .setType(TAGPValue_Type::Integer)
        .setInteger(getInt64(object))
        .build();
  }
  if (auto boolean = object.boolean()) {
    return TAGPValue::Builder()
        .setType(TAGPValue_Type::Boolean)
        .setBoolean(boolean->boolValue())
        .build();
  }
  TAGLog::error("Converting to Value from unknown object type: " + object.className());
  return defaultValue();
}

TAGPValue::Ref TAGTypes::functionIdToValue(const std::string& functionId) {
  return TAGPValue::Builder().setType(TAGPValue_Type::FunctionId).setFunctionId(functionId).build();
}

TAGPValue::Ref TAGTypes::macroReferenceToValue(const std::string& name) {
  return macroReferenceToValue(name, std::nullopt);
}

TAGPValue::Ref TAGTypes::macroReferenceToValue(const std::string& name,
                                               std::optional<std::vector<std::int32_t>> escapings) {
  TAGPValue::Builder builder;
  builder.setType(TAGPValue_Type::MacroReference)
      .setMacroReference(name)
      .setContainsReferences(true);
  if (escapings) builder.setEscapingArray(std::move(*escapings));
  return builder.build();
}

TAGPValue::Ref TAGTypes::templateToValue(const std::vector<TAGPValue::Ref>& tokens) {
  TAGPValue::Builder builder;
  builder.setType(TAGPValue_Type::Template);
  bool containsReferences = false;
  for (const auto& token : tokens) {
    containsReferences = containsReferences || token->containsReferences();
    builder.addTemplateToken(token);
  }
  if (containsReferences) builder.setContainsReferences(true);
  return builder.build();
}

bool TAGTypes::isInt64ableNumber(const TAGObject& object) {
  if (auto* number = object.number()) return isIntegerNumber(*number);
  auto typed = object.typedNumber();
  return typed && typed->isInt64();
}

bool TAGTypes::isDoubleableNumber(const TAGObject& object) {
  if (auto* number = object.number()) return !isIntegerNumber(*number);
  auto typed = object.typedNumber();
  return typed && typed->isDouble();
}

std::int64_t TAGTypes::getInt64(const TAGObject& object) {
  if (auto* number = object.number()) return number->integerValue();
  if (auto typed = object.typedNumber()) return typed->int64Value();
  TAGLog::error("getInt64 received neither NSNumber nor TAGTypedNumber");
  return 0;
}

double TAGTypes::getDouble(const TAGObject& object) {
  if (auto* number = object.number()) return number->doubleValue();
  if (auto typed = object.typedNumber()) return typed->doubleValue();
  TAGLog::error("getDouble received neither NSNumber nor TAGTypedNumber");
  return 0.0;
}

std::shared_ptr<const TAGTypedNumber> TAGTypes::parseNumber(std::string_view text) {
  if (auto number = TAGTypedNumber::numberWithString(text)) return number;
  TAGLog::error("Failed to convert " + std::string(text) + " to a number.");
  return defaultNumber();
}

TAGObject TAGTypes::parseInt64(std::string_view text) {
  auto number = parseNumber(text);
  if (number == defaultNumber()) return defaultInt64();
  return TAGObject::number(platform::Value(number->int64Value()));
}

TAGObject TAGTypes::parseDouble(std::string_view text) {
  auto number = parseNumber(text);
  if (number == defaultNumber()) return defaultDouble();
  return TAGObject::number(platform::Value(number->doubleValue()));
}

std::shared_ptr<const TAGBoolean> TAGTypes::parseBoolean(std::string_view text) {
  if (auto boolean = TAGBoolean::booleanWithString(text)) return boolean;
  TAGLog::error("Failed to parse an invalid boolean: " + std::string(text));
  return defaultBoolean();
}
