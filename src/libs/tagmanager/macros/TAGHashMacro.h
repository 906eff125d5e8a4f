#pragma once
// TAGHashMacro ("_hsh"): the digest of "arg0" as upper-case hexadecimal text. "algorithm" names
// the digest exactly as written ("MD5" unless given, "SHA-1", "SHA-256", "SHA-384", "SHA-512");
// "input_format" says whether arg0 is "text" (its UTF-8 bytes, the default) or "base16". An
// unknown algorithm or input format, and base16 input that does not decode, give the default
// value with an error line. Any thread.

#include <map>
#include <memory>
#include <set>
#include <string>

#include "tagmanager/runtime/TAGFunctionCallImplementation.h"
#include "tagmanager/values/TAGHashAlgorithm.h"

class TAGHashMacro : public TAGFunctionCallImplementation {
 public:
  static const char* functionId() { return "_hsh"; }
  static const char* arg0Key() { return "arg0"; }
  static const char* algorithmKey() { return "algorithm"; }
  static const char* inputFormatKey() { return "input_format"; }
  TAGHashMacro();

  bool isCacheable() const override { return true; }
  TAGPValue::Ref evaluate(const TAGPropertyMap& parameters) override;

  // Raises platform::Exception "NoSuchAlgorithmException" for a name it does not know.
  platform::Bytes hash(const platform::Bytes& data, const std::string& algorithm) const;
  const std::map<std::string, std::unique_ptr<TAGHashAlgorithm>>& hashAlgorithms() const {
    return _hashAlgorithms;
  }

 private:
  std::map<std::string, std::unique_ptr<TAGHashAlgorithm>> _hashAlgorithms;
};
