#include "httpserver/core/HTNumber.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <limits>
#include <string>
#include <type_traits>

namespace {

// The C conversions read up to a NUL; the header's text may hold one, which ends the number
// just as any other non-digit would.
std::string cText(std::string_view str) { return std::string(str.substr(0, str.find('\0'))); }

// What strtoull/strtoll would accept as the sign, after their white space.
bool hasLeadingMinus(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  return i < text.size() && text[i] == '-';
}

// Out of the narrow range: the conversion of that width would have reported a range error and
// given its limit.
template <class Wide, class Narrow>
bool narrow(bool ok, Wide wide, Narrow* pNum) {
  if (wide > static_cast<Wide>(std::numeric_limits<Narrow>::max())) {
    *pNum = std::numeric_limits<Narrow>::max();
    return false;
  }
  if constexpr (std::is_signed_v<Wide>) {
    if (wide < static_cast<Wide>(std::numeric_limits<Narrow>::min())) {
      *pNum = std::numeric_limits<Narrow>::min();
      return false;
    }
  }
  *pNum = static_cast<Narrow>(wide);
  return ok;
}

// strtoll/strtoull report "no digits" only through the end pointer; the platform's conversion
// reported it as an error, which is what the parse answers.
bool convertSigned(std::string_view str, long long* out) {
  std::string text = cText(str);
  char* end = nullptr;
  errno = 0;
  *out = std::strtoll(text.c_str(), &end, 10);
  return errno == 0 && end != text.c_str();
}

bool convertUnsigned(std::string_view str, unsigned long long* out) {
  std::string text = cText(str);
  if (hasLeadingMinus(text)) {
    *out = 0;
    return false;
  }
  char* end = nullptr;
  errno = 0;
  *out = std::strtoull(text.c_str(), &end, 10);
  return errno == 0 && end != text.c_str();
}

}  // namespace

bool HTNumber::parseString(std::optional<std::string_view> str, std::int64_t* pNum) {
  long long value = 0;
  bool ok = str && convertSigned(*str, &value);
  *pNum = value;
  return ok;
}

bool HTNumber::parseString(std::optional<std::string_view> str, std::uint64_t* pNum) {
  unsigned long long value = 0;
  bool ok = str && convertUnsigned(*str, &value);
  *pNum = value;
  return ok;
}

bool HTNumber::parseString(std::optional<std::string_view> str, std::int32_t* pNum) {
  long long value = 0;
  bool ok = str && convertSigned(*str, &value);
  return narrow(ok, value, pNum);
}

bool HTNumber::parseString(std::optional<std::string_view> str, std::uint32_t* pNum) {
  unsigned long long value = 0;
  bool ok = str && convertUnsigned(*str, &value);
  return narrow(ok, value, pNum);
}
