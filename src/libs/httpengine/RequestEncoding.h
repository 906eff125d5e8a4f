#pragma once
// RequestEncoding: the request-body and query encodings of a parameter dictionary: form text
// (key=value pairs joined by "&", keys and text values percent-escaped, numbers as digits),
// compact JSON, and an XML property list. Entries come in the dictionary's order. A dictionary
// holding text that is not UTF-8 has no JSON form: its JSON encoding is "".

#include <string>

#include "platform/foundation/Value.h"

class RequestEncoding {
 public:
  static std::string urlEncodedKeyValueString(const platform::Dictionary& dictionary);
  static std::string jsonEncodedKeyValueString(const platform::Dictionary& dictionary);
  static std::string plistEncodedKeyValueString(const platform::Dictionary& dictionary);
};
