#pragma once
// TAGEncode ("_enc"): "arg0" decoded by "input_format" ("text" as UTF-8, the default; "base16";
// "base64"; "base64url") and encoded by "output_format" ("base16", upper case, the default;
// "base64"; "base64url"), with padding unless "no_padding" is true. An empty arg0 gives the
// default value; so do an unknown format and base16 input that does not decode, with an error
// line. Base64 input the decoder refuses yields no bytes, which encode to "". Any thread.

#include <set>
#include <string>

#include "tagmanager/runtime/TAGFunctionCallImplementation.h"

class TAGEncode : public TAGFunctionCallImplementation {
 public:
  static const char* functionId() { return "_enc"; }
  static const char* arg0Key() { return "arg0"; }
  static const char* inputFormatKey() { return "input_format"; }
  static const char* outputFormatKey() { return "output_format"; }
  static const char* noPaddingKey() { return "no_padding"; }
  TAGEncode() : TAGFunctionCallImplementation(functionId(), std::set<std::string>{arg0Key()}) {}

  bool isCacheable() const override { return true; }
  TAGPValue::Ref evaluate(const TAGPropertyMap& parameters) override;
};
