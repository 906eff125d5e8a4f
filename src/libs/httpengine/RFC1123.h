#pragma once
// RFC1123: the HTTP date forms. Reading accepts, in this order, RFC 1123
// ("Sun, 06 Nov 1994 08:49:37 GMT"), RFC 850 ("Sunday, 06-Nov-94 08:49:37 GMT") and the C
// library's asctime form ("Sun Nov  6 08:49:37 1994", read as local time), with English names
// whatever the locale. Writing always gives the RFC 1123 form in universal time. A date beyond
// what a platform::Date holds (before 1678 or after 2262) reads as the earliest or latest one.

#include <optional>
#include <string>

#include "platform/foundation/Value.h"

class RFC1123 {
 public:
  static std::optional<platform::Date> dateFromRFC1123(const std::string& text);
  static std::optional<std::string> rfc1123String(platform::Date date);
};
