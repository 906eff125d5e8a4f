#include "tagmanager/macros/TAGHashMacro.h"

#include "platform/foundation/Assert.h"
#include "tagmanager/base/TAGExceptionNames.h"
#include "tagmanager/base/TAGLog.h"
#include "tagmanager/values/TAGBase16.h"
#include "tagmanager/values/TAGMD5HashAlgorithm.h"
#include "tagmanager/values/TAGSha1HashAlgorithm.h"
#include "tagmanager/values/TAGSha256HashAlgorithm.h"
#include "tagmanager/values/TAGSha384HashAlgorithm.h"
#include "tagmanager/values/TAGSha512HashAlgorithm.h"
#include "tagmanager/values/TAGTypes.h"

TAGHashMacro::TAGHashMacro()
    : TAGFunctionCallImplementation(functionId(), std::set<std::string>{arg0Key()}) {
  _hashAlgorithms["MD5"] = std::make_unique<TAGMD5HashAlgorithm>();
  _hashAlgorithms["SHA-1"] = std::make_unique<TAGSha1HashAlgorithm>();
  _hashAlgorithms["SHA-256"] = std::make_unique<TAGSha256HashAlgorithm>();
  _hashAlgorithms["SHA-384"] = std::make_unique<TAGSha384HashAlgorithm>();
  _hashAlgorithms["SHA-512"] = std::make_unique<TAGSha512HashAlgorithm>();
}

platform::Bytes TAGHashMacro::hash(const platform::Bytes& data,
                                   const std::string& algorithm) const {
  auto it = _hashAlgorithms.find(algorithm);
  if (it == _hashAlgorithms.end()) {
    throw platform::Exception(kTAGNoSuchAlgorithmException, "Unknown algorithm" + algorithm);
  }
  return it->second->hashData(data);
}

TAGPValue::Ref TAGHashMacro::evaluate(const TAGPropertyMap& parameters) {
  TAGPValue::Ref arg0 = propertyOf(parameters, arg0Key());
  if (!arg0 || arg0 == TAGTypes::defaultValue()) return TAGTypes::defaultValue();
  std::string text = *TAGTypes::valueToString(arg0);
  std::string algorithm = "MD5";
  if (auto value = propertyOf(parameters, algorithmKey()))
    algorithm = *TAGTypes::valueToString(value);
  std::string inputFormat = "text";
  if (auto value = propertyOf(parameters, inputFormatKey())) {
    inputFormat = *TAGTypes::valueToString(value);
  }

  platform::Bytes bytes;
  if (inputFormat == "text") {
    bytes.assign(text.begin(), text.end());
  } else if (inputFormat == "base16") {
    // Hexadecimal input comes from the container; a malformed text is its fault, not ours.
    try {
      bytes = TAGBase16::decode(text);
    } catch (const platform::Exception&) {
      TAGLog::error("Hash: invalid input: " + text);
      return TAGTypes::defaultValue();
    }
  } else {
    TAGLog::error("Hash: unknown input format: " + inputFormat);
    return TAGTypes::defaultValue();
  }

  try {
    return TAGTypes::objectToValue(TAGObject::string(TAGBase16::encode(hash(bytes, algorithm))));
  } catch (const std::exception&) {
    TAGLog::error("Hash error. Algorithm: " + algorithm);
    return TAGTypes::defaultValue();
  }
}
