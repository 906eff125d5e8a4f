#include "tagmanager/macros/TAGEncode.h"

#include "platform/foundation/Assert.h"
#include "tagmanager/base/TAGLog.h"
#include "tagmanager/values/TAGBase16.h"
#include "tagmanager/values/TAGBase64Encoder.h"
#include "tagmanager/values/TAGTypes.h"

TAGPValue::Ref TAGEncode::evaluate(const TAGPropertyMap& parameters) {
  TAGPValue::Ref arg0 = propertyOf(parameters, arg0Key());
  if (!arg0) return TAGTypes::defaultValue();
  std::string text = *TAGTypes::valueToString(arg0);
  if (text.empty()) return TAGTypes::defaultValue();
  std::string inputFormat = "text";
  if (auto value = propertyOf(parameters, inputFormatKey())) {
    inputFormat = *TAGTypes::valueToString(value);
  }
  std::string outputFormat = "base16";
  if (auto value = propertyOf(parameters, outputFormatKey())) {
    outputFormat = *TAGTypes::valueToString(value);
  }
  bool noPadding = false;
  if (auto value = propertyOf(parameters, noPaddingKey())) {
    noPadding = TAGTypes::valueToBoolean(value)->boolValue();
  }

  platform::Bytes bytes;
  try {
    if (inputFormat == "text") {
      bytes.assign(text.begin(), text.end());
    } else if (inputFormat == "base16") {
      bytes = TAGBase16::decode(text);
    } else if (inputFormat == "base64") {
      bytes = TAGBase64Encoder::decode(text, noPadding).value_or(platform::Bytes());
    } else if (inputFormat == "base64url") {
      bytes = TAGBase64Encoder::decodeWebSafe(text, noPadding).value_or(platform::Bytes());
    } else {
      TAGLog::error("Encode: unknown input format: " + inputFormat);
      return TAGTypes::defaultValue();
    }
  } catch (const platform::Exception&) {
    TAGLog::error("Encode: invalid input: " + text);
    return TAGTypes::defaultValue();
  }

  std::string encoded;
  if (outputFormat == "base16") {
    encoded = TAGBase16::encode(bytes);
  } else if (outputFormat == "base64") {
    encoded = TAGBase64Encoder::encode(bytes, noPadding);
  } else if (outputFormat == "base64url") {
    encoded = TAGBase64Encoder::encodeWebSafe(bytes, noPadding);
  } else {
    TAGLog::error("Encode: unknown output format: " + outputFormat);
    return TAGTypes::defaultValue();
  }
  return TAGTypes::objectToValue(TAGObject::string(std::move(encoded)));
}
